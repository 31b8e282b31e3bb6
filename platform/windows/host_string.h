// MessageText on Windows: the host's message line is a string object of its
// window framework, and the module assigns texts to it as the framework's
// own assignment does. No host is at hand to try this against, so all of it
// sits here, small and checked.
//
// The field (4 bytes) points to the string's first character. Just before
// the characters sits the header below; the characters end with a 0. The
// memory belongs to the string's manager, so every change of size goes
// through it:
//  - shared (reference count above 1; the empty "nil" string has 2): a new
//    header from manager->Clone()->Allocate(n, 1), then the old header is
//    released (its count decremented atomically; at 0 or below its manager
//    frees it);
//  - not shared but too short: manager->Reallocate(header, n, 1);
//  - otherwise in place. A negative count marks a locked string, which is
//    not shared.
// Then the n characters, the terminating 0 and the data length n. A header
// that does not look like one (null pointer, null manager, negative length,
// allocated length below the data length) leaves the field alone, and so
// does a manager that returns no memory.
#pragma once

#include <cstdint>

namespace k2t::windows_platform {

struct FrameworkStringData;

// The framework's string manager: an object whose first field points to its
// table of these five operations, in this order. They are member functions
// (thiscall on 32-bit x86: the manager in ECX, the callee pops the
// arguments), which is what g++ makes of this class on i686 mingw. No
// virtual destructor: it would add entries to the table.
class FrameworkStringManager {
 public:
  virtual FrameworkStringData* Allocate(int length, int char_size) = 0;
  virtual void Free(FrameworkStringData* data) = 0;
  virtual FrameworkStringData* Reallocate(FrameworkStringData* data, int length, int char_size) = 0;
  virtual FrameworkStringData* GetNilString() = 0;
  virtual FrameworkStringManager* Clone() = 0;

 protected:
  ~FrameworkStringManager() = default;
};

// The header before the characters.
struct FrameworkStringData {
  FrameworkStringManager* manager;
  std::int32_t data_length;   // characters, without the terminating 0
  std::int32_t alloc_length;  // characters the buffer holds, without the 0
  std::int32_t references;    // above 1 shared, negative locked
  char* chars() { return reinterpret_cast<char*>(this + 1); }
};
static_assert(sizeof(FrameworkStringData) == 16, "four 32-bit fields on the host's ABI");

// Assigns text to the string object whose character pointer is stored at
// field (unaligned). Matches the core's MessageLineWriter.
void AssignFrameworkString(unsigned char* field, const char* text);

}  // namespace k2t::windows_platform
