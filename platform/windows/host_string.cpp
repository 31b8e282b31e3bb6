#include "platform/windows/host_string.h"

#include <windows.h>

#include <climits>
#include <cstring>

namespace k2t::windows_platform {

namespace {

// A header the framework could have made.
bool Plausible(const FrameworkStringData* data, int wanted) {
  return data && data->manager && data->data_length >= 0 && data->alloc_length >= data->data_length &&
         data->alloc_length >= wanted;
}

void Release(FrameworkStringData* data) {
  static_assert(sizeof(LONG) == sizeof data->references);
  auto* count = reinterpret_cast<volatile LONG*>(&data->references);
  if (::InterlockedDecrement(count) <= 0) data->manager->Free(data);
}

}  // namespace

void AssignFrameworkString(unsigned char* field, const char* text) {
  if (!field || !text) return;
  const std::size_t length = std::strlen(text);
  if (length > INT_MAX - 1) return;
  const int n = static_cast<int>(length);

  char* chars = nullptr;
  std::memcpy(&chars, field, sizeof chars);
  if (!chars) return;
  FrameworkStringData* data = reinterpret_cast<FrameworkStringData*>(chars) - 1;
  if (!Plausible(data, 0)) return;

  FrameworkStringData* target = data;
  if (data->references > 1) {
    FrameworkStringManager* manager = data->manager->Clone();
    FrameworkStringData* fresh = manager ? manager->Allocate(n, 1) : nullptr;
    if (!fresh) return;
    if (!Plausible(fresh, n)) {
      if (fresh->manager) fresh->manager->Free(fresh);
      return;
    }
    Release(data);
    target = fresh;
  } else if (data->alloc_length < n) {
    FrameworkStringData* grown = data->manager->Reallocate(data, n, 1);
    if (!grown) return;  // the old header is still the string's
    // The old header may be gone now: the field follows the new one even
    // when it is too short to take the text.
    chars = grown->chars();
    std::memcpy(field, &chars, sizeof chars);
    if (!Plausible(grown, n)) return;
    target = grown;
  }
  std::memcpy(target->chars(), text, length + 1);
  target->data_length = n;
  chars = target->chars();
  std::memcpy(field, &chars, sizeof chars);
}

}  // namespace k2t::windows_platform
