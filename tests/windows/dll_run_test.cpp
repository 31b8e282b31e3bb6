// The module's life in the host: start-up, jogs, E-stop, hot-plug, stop
// and unload, and what its COM exports answer.
#include <objbase.h>
#include <dbt.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwctype>

#include "dll_host.h"

namespace k2t::dll_host {
namespace {

using Log = std::vector<std::string>;

TEST_F(DllTest, ComExportsAnswerThatTheyServeNothing) {
  HRESULT(WINAPI * get_class_object)(REFCLSID, REFIID, LPVOID*) = nullptr;
  HRESULT(WINAPI * can_unload)() = nullptr;
  HRESULT(WINAPI * register_server)() = nullptr;
  HRESULT(WINAPI * unregister_server)() = nullptr;
  FARPROC p = ::GetProcAddress(lib_, "DllGetClassObject");
  ASSERT_NE(p, nullptr);
  std::memcpy(&get_class_object, &p, sizeof p);
  for (auto [name, fn] : {std::pair{"DllCanUnloadNow", &can_unload}, std::pair{"DllRegisterServer", &register_server},
                          std::pair{"DllUnregisterServer", &unregister_server}}) {
    p = ::GetProcAddress(lib_, name);
    ASSERT_NE(p, nullptr) << name;
    std::memcpy(fn, &p, sizeof p);
  }
  void* object = &object;
  EXPECT_EQ(get_class_object(IID_IUnknown, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(can_unload(), S_OK);
  EXPECT_EQ(register_server(), S_OK);
  EXPECT_EQ(unregister_server(), S_OK);
  for (const char* name : {"DoDwell", "Reset", "JogOn", "JogOff", "Purge", "Probe", "Home"})
    EXPECT_NE(::GetProcAddress(lib_, name), nullptr) << name;
}

TEST_F(DllTest, VersionResourceSaysFourZeroZero) {
  wchar_t path[MAX_PATH];
  ASSERT_GT(::GetModuleFileNameW(lib_, path, MAX_PATH), 0u);
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
  ASSERT_GT(size, 0u);
  std::vector<unsigned char> info(size);
  ASSERT_TRUE(::GetFileVersionInfoW(path, 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00040000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00040000u);
  wchar_t* description = nullptr;
  ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\FileDescription",
                               reinterpret_cast<void**>(&description), &length));
  EXPECT_NE(std::wstring(description).find(L"pendant"), std::wstring::npos);
}

TEST_F(DllTest, StartsAndStopsAsAHostRunsIt) {
  EXPECT_EQ(Window(), nullptr);
  Start();
  EXPECT_EQ(title_, "K2TPendant Pendant --Brennlow Ver 4.0.0");
  ASSERT_NE(Window(), nullptr);
  EXPECT_EQ(::FindWindowExW(HWND_MESSAGE, Window(), L"DrovikWin", nullptr), nullptr);  // one window
  EXPECT_EQ(Handles(K2T_SIM_ACCESS_READ), 1);
  EXPECT_EQ(Handles(K2T_SIM_ACCESS_WRITE), 1);
  EXPECT_NE(g_sim.notify, nullptr);
  EXPECT_EQ(g_host->dros[828], 0.001);  // the start step size from the profile's defaults

  Tick(Report{});
  ASSERT_EQ(g_sim.written.size(), 1u);
  EXPECT_EQ(g_sim.written[0].size(), 21u);

  api.StopPlug();
  EXPECT_EQ(Window(), nullptr);
  EXPECT_TRUE(g_sim.handles.empty());
  EXPECT_EQ(g_sim.notify, nullptr);
  api.StopPlug();  // a second time: nothing
  EXPECT_EQ(Window(), nullptr);
}

TEST_F(DllTest, StepJogSendsIncrementalGCode) {
  Start();
  Ticks(16, Report{});  // past the start-up double-press window
  Tick(Report{}.Mode(1));
  Tick(Report{});
  TakeCalls();
  Ticks(4, Report{});
  Tick(Report{}.Counter(5).Rate(4));
  EXPECT_EQ(TakeCalls(), (Log{"SetDRO 821", "Code G91G1 F60.0000 X 0.0050", "Code G90"}));
}

TEST_F(DllTest, VelocityJogEndsWhenThePendantIsPulledOut) {
  Start();
  Ticks(16, Report{});
  TakeCalls();
  int count = 0;
  for (int i = 0; i < 10; ++i) Tick(Report{}.Counter(count += 2).Rate(40));
  const Log calls = TakeCalls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "Code DOJOG"), calls.end());
  g_sim.present = false;
  g_sim.notify(g_sim.notify_arg, K2T_DEVICE_REMOVAL, kPendantPath);
  EXPECT_EQ(TakeCalls(), (Log{"Code ENDJOG"}));
  EXPECT_EQ(Handles(K2T_SIM_ACCESS_READ) + Handles(K2T_SIM_ACCESS_WRITE), 0);
  const std::size_t written = g_sim.written.size();
  Ticks(5, Report{}.Counter(count += 2).Rate(40));
  EXPECT_EQ(g_sim.written.size(), written);
  EXPECT_EQ(TakeCalls(), Log{});
}

TEST_F(DllTest, EStopPressesTheHostsEStop) {
  Start();
  Ticks(16, Report{});
  TakeCalls();
  Tick(Report{}.EStop(true));
  EXPECT_EQ(TakeCalls(), (Log{"DoButton 1021"}));
}

TEST_F(DllTest, DeviceNoticesToTheWindowCloseAndReopen) {
  Start();
  // A removal names the pendant's path in other letter case.
  std::wstring path(kPendantPath, kPendantPath + std::strlen(kPendantPath));
  std::wstring upper = path;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(::towupper(c));
  EXPECT_EQ(DeviceNotice(DBT_DEVICEREMOVECOMPLETE, L"\\\\?\\hid#vid_845e&pid_0001#other"), TRUE);
  EXPECT_EQ(Handles(K2T_SIM_ACCESS_READ), 1);
  EXPECT_EQ(DeviceNotice(DBT_DEVICEREMOVECOMPLETE, upper), TRUE);
  EXPECT_EQ(Handles(K2T_SIM_ACCESS_READ), 0);
  EXPECT_EQ(Handles(K2T_SIM_ACCESS_WRITE), 0);
  EXPECT_EQ(DeviceNotice(DBT_DEVICEARRIVAL, path), TRUE);
  EXPECT_EQ(Handles(K2T_SIM_ACCESS_READ), 1);
  EXPECT_EQ(Handles(K2T_SIM_ACCESS_WRITE), 1);
  const std::size_t written = g_sim.written.size();
  Tick(Report{});
  EXPECT_EQ(g_sim.written.size(), written + 1);
}

TEST_F(DllTest, PendantPluggedInAfterStartUpIsFound) {
  g_sim.present = false;
  Start();
  EXPECT_EQ(Handles(K2T_SIM_ACCESS_READ), 0);
  g_sim.present = true;
  EXPECT_EQ(DeviceNotice(DBT_DEVICEARRIVAL, L"\\\\?\\hid#any"), TRUE);
  EXPECT_EQ(Handles(K2T_SIM_ACCESS_READ), 1);
  EXPECT_EQ(Handles(K2T_SIM_ACCESS_WRITE), 1);
}

TEST_F(DllTest, UnloadWithoutStopPlugTouchesNothingOfTheHost) {
  Start();
  Tick(Report{});
  const int calls = g_sim.calls;
  TakeCalls();
  ASSERT_TRUE(::FreeLibrary(lib_));
  lib_ = nullptr;
  EXPECT_EQ(Window(), nullptr);
  EXPECT_EQ(g_sim.calls, calls);  // not even the bus' close or subscribe
  EXPECT_EQ(TakeCalls(), Log{});
}

// Everything of the host's the module may hold after the host is gone: any
// call through it ends the process with status 3.
[[noreturn]] void HostIsGone() { std::_Exit(3); }
void GoneClose(void*, int) { HostIsGone(); }
void GoneSubscribe(void*, void (*)(void*, int, const char*), void*) { HostIsGone(); }
void GoneButton(short) { HostIsGone(); }
void GoneCode(const char*) { HostIsGone(); }

// A host that exits without StopPlug, with and without freeing the library
// first, while the wheel was turning.
TEST_F(DllTest, ExitWithoutStopPlugCallsNothingOfTheHost) {
  for (bool unload_first : {true, false}) {
    EXPECT_EXIT(
        {
          Start();
          Ticks(16, Report{});
          Tick(Report{}.Counter(2).Rate(40));
          g_bus_functions.close = GoneClose;
          g_bus_functions.subscribe = GoneSubscribe;
          api.SetDoButton(GoneButton);
          api.SetCode(GoneCode);
          if (unload_first) ::FreeLibrary(lib_);
          std::exit(0);
        },
        ::testing::ExitedWithCode(0), "")
        << (unload_first ? "FreeLibrary, then exit" : "exit");
  }
}

TEST_F(DllTest, RealBusWithoutAPendantKeepsRunning) {
  g_sim.offer = false;
  Start();
  ASSERT_NE(Window(), nullptr);
  Ticks(3, Report{});
  EXPECT_EQ(DeviceNotice(DBT_DEVICEARRIVAL, L"\\\\?\\hid#vid_845e&pid_0001#1&2d595ca7&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}"), TRUE);
  Ticks(3, Report{});
  EXPECT_EQ(g_sim.calls, 0);
  EXPECT_EQ(TakeCalls(), Log{"SetDRO 828"});  // nothing read, nothing jogged
  api.StopPlug();
  EXPECT_EQ(Window(), nullptr);
}

}  // namespace
}  // namespace k2t::dll_host
