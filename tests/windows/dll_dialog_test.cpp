// Config in the DLL shows the native dialog: what the user enters reaches
// the profile on OK and Enter and not on Escape or the close box, a failed
// check says so and keeps the focus on the box, and the pendant goes on
// working while the dialog is open.
#include <algorithm>
#include <cwchar>
#include <regex>

#include "dll_host.h"

namespace k2t::dll_host {
namespace {

using dialog_driver::Click;
using dialog_driver::Item;
using dialog_driver::Key;
using dialog_driver::Type;

// A key's text in the saved profile (UTF-8), or "<missing>".
std::string Key(const std::string& profile, const std::string& name) {
  const std::string text = ReadFile(profile);
  std::smatch m;
  if (std::regex_search(text, m, std::regex("<" + name + ">([^<]*)</" + name + ">"))) return m[1];
  return "<missing>";
}

TEST_F(DllTest, OkKeepsWhatTheUserEntered) {
  Start();
  const auto boxes = Config({[](HWND dialog) {
    Type(dialog, 4162, L"70000");             // Custom Macro #1
    Type(dialog, 4198, L"200");               // FRO position 1
    Type(dialog, 4169, L"Spindel \u00e9 \u03a9");  // F1's description, beyond the code page
    ::SendMessageW(Item(dialog, 4037), CB_SETCURSEL, 4, 0);  // velocity
    ::SendMessageW(Item(dialog, 4245), BM_CLICK, 0, 0);      // Reverse X axis MPG
    ::SendMessageW(Item(dialog, 4035), BM_CLICK, 0, 0);      // Use Feed Rate
    Click(dialog, IDOK);
    return true;
  }});
  EXPECT_TRUE(boxes.empty());
  const std::vector<std::pair<const char*, const char*>> expected = {
      {"Macro1", "4464"}, {"Fp1", "200"}, {"Fun1", "Spindel \xC3\xA9 \xCE\xA9"}, {"Vel", "4"}, {"Xreverse", "1"}, {"UseFRO", "1"}};
  for (const auto& [key, value] : expected) EXPECT_EQ(Key(profile_, key), value) << key;
}

TEST_F(DllTest, EnterConfirmsEscapeAndTheCloseBoxCancel) {
  const struct {
    const char* name;
    std::function<void(HWND)> act;
    const char* delay_steps;
  } cases[] = {
      {"Enter", [](HWND dialog) { Key(dialog, VK_RETURN); }, "77"},
      {"Escape", [](HWND dialog) { Key(dialog, VK_ESCAPE); }, "25"},
      {"close box", [](HWND dialog) { ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }, "25"},
  };
  for (const auto& c : cases) {
    TearDown();
    SetUp();
    Start();
    const auto boxes = Config({[&](HWND dialog) {
      Type(dialog, 4181, L"77");  // the delay steps; the focus stays on OK
      c.act(dialog);
      return true;
    }});
    EXPECT_TRUE(boxes.empty()) << c.name;
    EXPECT_EQ(Key(profile_, "DelaySteps"), c.delay_steps) << c.name;
  }
}

TEST_F(DllTest, FailedChecksKeepTheDialogOpenWithTheBoxSelected) {
  const struct {
    int box;
    const wchar_t* text;
    const char* message;
  } cases[] = {
      {4198, L"251", "Please enter an integer between 0 and 250."},  // FRO
      {4216, L"101", "Please enter an integer between 0 and 100."},  // Slow Jog
      {4216, L"", "Please enter an integer."},
      {4162, L"abc", "Please enter an integer."},  // Custom Macro #1
  };
  Start();
  for (const auto& c : cases) {
    const auto boxes = Config({[&](HWND dialog) {
                                 Type(dialog, c.box, c.text);
                                 Click(dialog, IDOK);
                                 return true;
                               },
                               [&](HWND dialog) {
                                 EXPECT_EQ(::GetFocus(), Item(dialog, c.box)) << c.message;
                                 DWORD start = 1, end = 0;
                                 ::SendMessageW(Item(dialog, c.box), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                                                reinterpret_cast<LPARAM>(&end));
                                 EXPECT_EQ(start, 0u);
                                 EXPECT_EQ(end, std::wcslen(c.text));
                                 return true;
                               }});
    EXPECT_EQ(boxes, std::vector<std::string>{c.message});
  }
  EXPECT_EQ(Key(profile_, "Fp1"), "0");  // nothing of the failed attempts was kept
}

TEST_F(DllTest, PendantKeepsWorkingWhileTheDialogIsOpen) {
  Start();
  std::size_t before = 0;
  Config({[&](HWND) {
            before = g_sim.written.size();
            return true;
          },
          // The poll timer's ticks reach the hidden window through the
          // dialog's own message loop.
          [&](HWND) { return g_sim.written.size() >= before + 16; },
          [&](HWND) {
            TakeCalls();
            g_sim.reports.push_back(Report{}.EStop(true).bytes);
            return true;
          },
          [&](HWND) {
            const auto calls = g_host->calls;
            return std::find(calls.begin(), calls.end(), "DoButton 1021") != calls.end();
          }});
  EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"DoButton 1021"}));
}

}  // namespace
}  // namespace k2t::dll_host
