// A test host for K2TPendant.dll: this program's simulated bus, the host's
// callbacks and records, and a fixture that loads the module for each test.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dialog_driver.h"
#include "k2t/entry_points.h"
#include "k2t/plugin.h"
#include "k2t/sim_hid.h"
#include "test_host.h"

namespace k2t::dll_host {

inline constexpr const char* kPendantPath = "\\\\?\\sim#vid_04d8&pid_fce8#pendant0";

extern test_host::SimBus g_sim;
extern K2tSimHidBus g_bus_functions;  // what K2tSimHidBus returns
extern test_host::RecordingHost* g_host;  // this test's host: g_host->calls, ->dros, ->leds

// One input report: counter byte 1, rate byte 2, E-stop bit 0 of byte 3,
// mode selector bits 0..2 of byte 4.
struct Report {
  std::vector<unsigned char> bytes = std::vector<unsigned char>(8);
  Report& Counter(int n) { bytes[1] = static_cast<unsigned char>(n); return *this; }
  Report& Rate(int n) { bytes[2] = static_cast<unsigned char>(n); return *this; }
  Report& EStop(bool on) { bytes[3] = static_cast<unsigned char>(on ? bytes[3] | 1 : bytes[3] & ~1); return *this; }
  Report& Mode(int code) { bytes[4] = static_cast<unsigned char>((bytes[4] & ~7) | (code & 7)); return *this; }
};


class DllTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // InitControl, the callbacks, SetProName (this test's profile unless
  // another is named) and PostInitControl, as the host starts a plug-in.
  void Start(const char* profile = nullptr);
  // The hidden window, found as any program finds it.
  HWND Window() const;
  // One Update and one poll tick with a report from the pendant.
  void Tick(const Report& report);
  void Ticks(int n, const Report& report);
  // A device-interface broadcast sent to the hidden window.
  LRESULT DeviceNotice(WPARAM event, const std::wstring& path);
  int Handles(int access) const;
  std::vector<std::string> TakeCalls();
  // Config, with a user who takes these steps in the dialog (owned by this
  // host's active window) and then presses Escape if it is still open. The
  // texts of the message boxes the dialog showed, each closed with OK.
  std::vector<std::string> Config(std::vector<dialog_driver::Step> steps = {});
  HWND owner() const { return user_->owner(); }

  HMODULE lib_ = nullptr;
  std::unique_ptr<test_host::RecordingHost> host_;
  std::unique_ptr<dialog_driver::DialogDriver> user_;  // and the host's main window
  K2tEntryPoints api{};
  std::string dir_, profile_, title_;
  std::vector<unsigned char> motion_ = std::vector<unsigned char>(K2T_MOTION_RECORD_SIZE);
  std::vector<unsigned char> setup_ = std::vector<unsigned char>(K2T_SETUP_RECORD_SIZE);
  std::vector<unsigned char> planner_ = std::vector<unsigned char>(K2T_PLANNER_RECORD_SIZE);
};

// A new folder under the user's temporary folder (a path in the process
// code page), and its removal with everything in it.
std::string TempFolder();
void RemoveFolder(const std::string& dir);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

}  // namespace k2t::dll_host

namespace k2t::dll_host {

// What an XML text means: the document MSXML parses from it, written out
// again by MSXML; "unparseable" when it does not parse. Quoting, the form of
// empty elements and the bytes of line ends do not count.
std::string XmlMeaning(const std::string& bytes);

}  // namespace k2t::dll_host
