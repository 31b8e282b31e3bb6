// K2TPendant.dll run as the host runs it: loaded with LoadLibrary, every
// name resolved with GetProcAddress, records and callbacks handed over, and
// driven deterministically: poll ticks are WM_TIMER messages sent to the
// hidden window, hot-plug comes through this program's simulated bus
// (exported as K2tSimHidBus) and as WM_DEVICECHANGE broadcasts.
#include <windows.h>
#include <dbt.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <map>
#include <string>
#include <vector>

#include "k2t/plugin.h"
#include "k2t/sim_hid.h"
#include "dll_host.h"

#include <objbase.h>
#include <msxml2.h>
#include <shlwapi.h>

#include <random>

namespace k2t::dll_host {

test_host::SimBus g_sim;
K2tSimHidBus g_bus_functions;
test_host::RecordingHost* g_host = nullptr;

void DllTest::SetUp() {
  g_sim = test_host::SimBus(kPendantPath);
  g_bus_functions = g_sim.Functions();
  host_ = std::make_unique<test_host::RecordingHost>();  // LED 83, jog enabled, on
  host_->MakeCurrent();
  g_host = host_.get();
  lib_ = ::LoadLibraryW(L"K2TPendant.dll");
  ASSERT_NE(lib_, nullptr) << ::GetLastError();
  const std::string missing =
      k2t::ResolveEntryPoints([this](const char* name) { return ::GetProcAddress(lib_, name); }, api);
  ASSERT_EQ(missing, "");
  dir_ = TempFolder();
  profile_ = dir_ + "\\profile.xml";
  user_ = std::make_unique<dialog_driver::DialogDriver>();
  // Axis X at 2 units/s, and the host's jog unit following its step size
  // (DRO 828), as the bench's machine has them.
  const double max_velocity = 2.0;
  std::memcpy(planner_.data() + K2T_PLANNER_AXIS_MAX_VELOCITY, &max_velocity, sizeof max_velocity);
  const double unit = 0.001;
  std::memcpy(planner_.data() + K2T_PLANNER_JOG_UNIT_FACTOR, &unit, sizeof unit);
}

void DllTest::TearDown() {
  if (lib_) ::FreeLibrary(lib_);
  lib_ = nullptr;
  user_.reset();
  RemoveFolder(dir_);
}

void DllTest::Start(const char* profile) {
  ASSERT_TRUE(api.InitControl(motion_.data(), setup_.data(), planner_.data(), nullptr));
  host_kit::HandCallbacks(api);
  title_ = api.SetProName(profile ? profile : profile_.c_str());
  api.PostInitControl();
}

HWND DllTest::Window() const { return ::FindWindowExW(HWND_MESSAGE, nullptr, L"DrovikWin", nullptr); }

void DllTest::Tick(const Report& report) {
  api.Update();
  g_sim.reports.push_back(report.bytes);
  ::SendMessageW(Window(), WM_TIMER, 1, 0);
}

void DllTest::Ticks(int n, const Report& report) {
  for (int i = 0; i < n; ++i) Tick(report);
}

LRESULT DllTest::DeviceNotice(WPARAM event, const std::wstring& path) {
  std::vector<unsigned char> buffer(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) +
                                    (path.size() + 1) * sizeof(wchar_t));
  DEV_BROADCAST_DEVICEINTERFACE_W header{};
  header.dbcc_size = static_cast<DWORD>(buffer.size());
  header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  std::memcpy(buffer.data(), &header, offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name));
  std::memcpy(buffer.data() + offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name), path.c_str(),
              (path.size() + 1) * sizeof(wchar_t));
  return ::SendMessageW(Window(), WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(buffer.data()));
}

int DllTest::Handles(int access) const {
  int n = 0;
  for (const auto& [handle, a] : g_sim.handles) n += a == access;
  return n;
}

std::vector<std::string> DllTest::Config(std::vector<dialog_driver::Step> steps) {
  return user_->Run(std::move(steps), [this] { api.Config(); });
}

std::vector<std::string> DllTest::TakeCalls() {
  std::vector<std::string> calls;
  calls.swap(g_host->calls);
  return calls;
}

}  // namespace k2t::dll_host

// Found by the module with GetProcAddress(GetModuleHandle(NULL), "K2tSimHidBus").
extern "C" K2tSimHidBus* TestSimBus(void) {
  return k2t::dll_host::g_sim.offer ? &k2t::dll_host::g_bus_functions : nullptr;
}

namespace k2t::dll_host {

namespace fs = std::filesystem;

std::string TempFolder() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path dir = fs::temp_directory_path() / ("k2t-dll-" + std::to_string(random()));
    std::error_code error;
    if (fs::create_directory(dir, error)) return dir.string();
  }
  ADD_FAILURE() << "no temporary folder";
  return {};
}

void RemoveFolder(const std::string& dir) {
  std::error_code ignored;
  if (!dir.empty()) fs::remove_all(dir, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string XmlMeaning(const std::string& bytes) {
  // MSXML's own serialisation of what it parsed: the same document always
  // comes out the same, whatever its quotes, empty elements or line ends.
  const CLSID dom_document_60 = {0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
  const IID document_interface = {0x2933bf81, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  std::string meaning = "unparseable";
  IXMLDOMDocument* doc = nullptr;
  if (SUCCEEDED(::CoCreateInstance(dom_document_60, nullptr, CLSCTX_INPROC_SERVER, document_interface,
                                   reinterpret_cast<void**>(&doc)))) {
    doc->put_async(VARIANT_FALSE);
    doc->put_preserveWhiteSpace(VARIANT_TRUE);
    doc->put_resolveExternals(VARIANT_FALSE);
    IStream* stream = ::SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size()));
    VARIANT source;
    ::VariantInit(&source);
    V_VT(&source) = VT_UNKNOWN;
    V_UNKNOWN(&source) = stream;
    VARIANT_BOOL ok = VARIANT_FALSE;
    BSTR xml = nullptr;
    if (stream && SUCCEEDED(doc->load(source, &ok)) && ok == VARIANT_TRUE && SUCCEEDED(doc->get_xml(&xml)))
      meaning = dialog_driver::Utf8(std::wstring(xml, ::SysStringLen(xml)));
    ::SysFreeString(xml);
    if (stream) stream->Release();
    doc->Release();
  }
  ::CoUninitialize();
  return meaning;
}

}  // namespace k2t::dll_host
