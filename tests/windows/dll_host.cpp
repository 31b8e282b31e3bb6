// K2TPendant.dll run as the host runs it: loaded with LoadLibrary, every
// name resolved with GetProcAddress, records and callbacks handed over, and
// driven deterministically: poll ticks are WM_TIMER messages sent to the
// hidden window, hot-plug comes through this program's simulated bus
// (exported as K2tSimHidBus) and as WM_DEVICECHANGE broadcasts.
#include <windows.h>
#include <dbt.h>
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
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

SimBus g_sim;
K2tSimHidBus g_bus_functions;
std::vector<std::string> g_calls;
std::map<int, double> g_dros;
std::map<int, bool> g_leds;

namespace {

int SimEnumerate(void*, K2tSimHidDevice* out, int max) {
  ++g_sim.calls;
  if (!g_sim.present) return 0;
  if (max > 0) {
    std::memset(&out[0], 0, sizeof out[0]);
    std::strncpy(out[0].path, kPendantPath, sizeof out[0].path - 1);
    out[0].vendor_id = 0x04D8;
    out[0].product_id = 0xFCE8;
  }
  return 1;
}
int SimOpen(void*, const char* path, int access) {
  ++g_sim.calls;
  if (!g_sim.present || std::strcmp(path, kPendantPath) != 0) return -1;
  g_sim.handles[g_sim.next_handle] = access;
  return g_sim.next_handle++;
}
void SimClose(void*, int handle) {
  ++g_sim.calls;
  g_sim.handles.erase(handle);
}
int SimRead(void*, int, unsigned char* buf, int size, int) {
  ++g_sim.calls;
  if (!g_sim.present) return -1;
  if (g_sim.reports.empty()) return 0;
  const std::vector<unsigned char> r = g_sim.reports.front();
  g_sim.reports.pop_front();
  const int n = std::min(size, static_cast<int>(r.size()));
  std::memcpy(buf, r.data(), static_cast<std::size_t>(n));
  return n;
}
int SimWrite(void*, int, const unsigned char* buf, int size) {
  ++g_sim.calls;
  g_sim.written.emplace_back(buf, buf + size);
  return size;
}
void SimSubscribe(void*, void (*notify)(void*, int, const char*), void* arg) {
  ++g_sim.calls;
  g_sim.notify = notify;
  g_sim.notify_arg = arg;
}


void DoButtonCb(short code) { g_calls.push_back("DoButton " + std::to_string(code)); }
void SetDroCb(int code, double value) {
  g_dros[code] = value;
  g_calls.push_back("SetDRO " + std::to_string(code));
}
double GetDroCb(int code) { return g_dros.count(code) ? g_dros[code] : 0.0; }
bool GetLedCb(int code) { return g_leds.count(code) && g_leds[code]; }
void SetLedCb(int, bool) { g_calls.push_back("SetLED"); }
void CodeCb(const char* text) { g_calls.push_back(std::string("Code ") + text); }


}  // namespace

void DllTest::SetUp() {
  g_sim = SimBus{};
  g_bus_functions = {1, nullptr, SimEnumerate, SimOpen, SimClose, SimRead, SimWrite, SimSubscribe};
  g_calls.clear();
  g_dros.clear();
  g_leds = {{83, true}};  // jog enabled
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
  api.SetDoButton(DoButtonCb);
  api.SetSetDRO(SetDroCb);
  api.SetGetDRO(GetDroCb);
  api.SetGetLED(GetLedCb);
  api.SetSetLED(SetLedCb);
  api.SetCode(CodeCb);
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
  calls.swap(g_calls);
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
