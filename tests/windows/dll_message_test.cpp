// MessageText through the host's string object: the module writes " Jog
// OFF. " (a step jog while the host's jog is off) into a string made by this
// host's own string manager, which logs what the module asks of it.
#include <cstdlib>
#include <cstring>

#include "dll_host.h"

namespace k2t::dll_host {
namespace {

struct StringData;

// The framework's string manager: five member functions in this order.
class Manager {
 public:
  virtual StringData* Allocate(int length, int char_size);
  virtual void Free(StringData* data);
  virtual StringData* Reallocate(StringData* data, int length, int char_size);
  virtual StringData* GetNilString();
  virtual Manager* Clone();

  std::vector<std::string> log;
  bool out_of_memory = false;
};

struct StringData {
  Manager* manager;
  int data_length;
  int alloc_length;
  long references;
  char* chars() { return reinterpret_cast<char*>(this + 1); }
};

StringData* NewData(Manager* manager, int alloc, const char* text, long references) {
  auto* d = static_cast<StringData*>(std::calloc(1, sizeof(StringData) + static_cast<std::size_t>(alloc) + 1));
  d->manager = manager;
  d->data_length = static_cast<int>(std::strlen(text));
  d->alloc_length = alloc;
  d->references = references;
  std::memcpy(d->chars(), text, std::strlen(text) + 1);
  return d;
}

StringData* Manager::Allocate(int length, int char_size) {
  log.push_back("Allocate " + std::to_string(length) + " " + std::to_string(char_size));
  return out_of_memory ? nullptr : NewData(this, length, "", 1);
}
void Manager::Free(StringData* data) {
  log.push_back("Free");
  std::free(data);
}
StringData* Manager::Reallocate(StringData* data, int length, int char_size) {
  log.push_back("Reallocate " + std::to_string(length) + " " + std::to_string(char_size));
  if (out_of_memory) return nullptr;
  auto* grown = static_cast<StringData*>(std::realloc(data, sizeof(StringData) + static_cast<std::size_t>(length) + 1));
  grown->alloc_length = length;
  return grown;
}
StringData* Manager::GetNilString() {
  log.push_back("GetNilString");
  return nullptr;
}
Manager* Manager::Clone() {
  log.push_back("Clone");
  return this;
}

enum class Outcome { kInPlace, kNewHeader, kUntouched };

TEST_F(DllTest, MessageTextIsAssignedAsTheFrameworkDoes) {
  constexpr const char* kMessage = " Jog OFF. ";
  const struct {
    const char* name;
    int alloc;
    const char* old_text;
    long references;
    bool null_manager = false;
    int data_length = -2;  // -2: the old text's length
    bool out_of_memory = false;
    Outcome outcome;
    std::vector<std::string> log;
    long old_references_after;  // of the old header, when it survives
  } cases[] = {
      {"in place", 32, "old", 1, false, -2, false, Outcome::kInPlace, {}, 1},
      {"growing", 4, "old", 1, false, -2, false, Outcome::kNewHeader, {"Reallocate 10 1"}, 0},
      {"shared", 32, "old", 3, false, -2, false, Outcome::kNewHeader, {"Clone", "Allocate 10 1"}, 2},
      {"nil", 0, "", 2, false, -2, false, Outcome::kNewHeader, {"Clone", "Allocate 10 1"}, 1},
      {"locked", 32, "old", -1, false, -2, false, Outcome::kInPlace, {}, -1},
      {"locked, too short", 4, "old", -1, false, -2, false, Outcome::kNewHeader, {"Reallocate 10 1"}, 0},
      {"no manager", 32, "old", 1, true, -2, false, Outcome::kUntouched, {}, 1},
      {"negative length", 32, "old", 1, false, -1, false, Outcome::kUntouched, {}, 1},
      {"length beyond the buffer", 4, "old", 1, false, 5, false, Outcome::kUntouched, {}, 1},
      {"shared, out of memory", 32, "old", 2, false, -2, true, Outcome::kUntouched, {"Clone", "Allocate 10 1"}, 2},
      {"too short, out of memory", 4, "old", 1, false, -2, true, Outcome::kUntouched, {"Reallocate 10 1"}, 1},
  };
  g_host->leds[83] = false;  // the host's jog is off
  Start();
  Ticks(16, Report{});
  Tick(Report{}.Mode(1));  // step mode
  int count = 0;
  Ticks(5, Report{});

  // A null string pointer is left alone.
  Tick(Report{}.Counter(++count).Rate(4));
  char* field = nullptr;
  std::memcpy(&field, planner_.data() + K2T_PLANNER_MESSAGE_TEXT, sizeof field);
  EXPECT_EQ(field, nullptr);

  for (const auto& c : cases) {
    Manager manager;
    manager.out_of_memory = c.out_of_memory;
    StringData* old = NewData(c.null_manager ? nullptr : &manager, c.alloc, c.old_text, c.references);
    if (c.data_length != -2) old->data_length = c.data_length;
    char* chars = old->chars();
    std::memcpy(planner_.data() + K2T_PLANNER_MESSAGE_TEXT, &chars, sizeof chars);
    const bool survives = c.outcome != Outcome::kNewHeader || c.references > 1;

    Ticks(5, Report{}.Counter(count));
    Tick(Report{}.Counter(++count).Rate(4));

    std::memcpy(&field, planner_.data() + K2T_PLANNER_MESSAGE_TEXT, sizeof field);
    EXPECT_EQ(manager.log, c.log) << c.name;
    switch (c.outcome) {
      case Outcome::kInPlace:
        EXPECT_EQ(field, chars) << c.name;
        break;
      case Outcome::kNewHeader:
        EXPECT_NE(field, nullptr) << c.name;
        if (c.references > 1) {
          EXPECT_NE(field, chars) << c.name;
        }
        break;
      case Outcome::kUntouched:
        EXPECT_EQ(field, chars) << c.name;
        EXPECT_STREQ(field, c.old_text) << c.name;
        break;
    }
    if (c.outcome != Outcome::kUntouched && field) {
      const StringData* now = reinterpret_cast<const StringData*>(field) - 1;
      EXPECT_STREQ(field, kMessage) << c.name;
      EXPECT_EQ(now->data_length, 10) << c.name;
      EXPECT_GE(now->alloc_length, 10) << c.name;
    }
    if (survives) {
      EXPECT_EQ(old->references, c.old_references_after) << c.name;
    }
    // The module's string stays with the host's record; this test frees it.
    if (field && field != chars) std::free(reinterpret_cast<StringData*>(field) - 1);
    if (survives) std::free(old);
  }
}

}  // namespace
}  // namespace k2t::dll_host
