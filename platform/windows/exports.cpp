// The exports of K2TPendant.dll (names in K2TPendant.def): the entry points
// forwarding to one module instance, the four COM exports, and DllMain.
#include <windows.h>
#include <objbase.h>

#include "platform/windows/platform.h"
#include "platform/windows/poll_window.h"
#include "platform/windows/sockets.h"
#include "plugin/exports.h"

// The host passes and takes bool as one byte.
static_assert(sizeof(bool) == 1);

namespace {

struct Plugin {
  k2t::windows_platform::WindowsPlatform platform;
  k2t::Module module{platform};
};

// Made on first use and never destroyed by the runtime: at process exit its
// destructor would touch windows and handles of a process half torn down.
// DllMain releases it when the host frees the library.
Plugin* g_plugin = nullptr;
k2t::windows_platform::SocketLibrary g_sockets;

k2t::Module* TheModule() {
  if (g_sockets.refused()) return nullptr;  // the library refused to load
  if (!g_plugin) g_plugin = new Plugin();
  return &g_plugin->module;
}

// The first InitControl starts the socket library; StopPlug ends it and
// removes the hidden window's class.
const k2t::ExportHooks kHooks{
    &TheModule, [] { return g_sockets.Start(); },
    [] {
      k2t::windows_platform::HiddenWindow::UnregisterClass();
      g_sockets.Stop();
    }};

}  // namespace

K2T_DEFINE_ENTRY_POINTS(extern "C", kHooks)

extern "C" {

// COM calls these with stdcall. The module serves no COM class and has no
// type library: no class object is available, and registering or
// unregistering has nothing to do, so it succeeds.
STDAPI DllGetClassObject(REFCLSID, REFIID, LPVOID* object) {
  if (object) *object = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}
STDAPI DllCanUnloadNow(void) { return S_OK; }
STDAPI DllRegisterServer(void) { return S_OK; }
STDAPI DllUnregisterServer(void) { return S_OK; }

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // The module computes in SSE2 registers: on an older processor the host
  // would crash at its first use, so the library refuses to load instead.
  if (reason == DLL_PROCESS_ATTACH) return ::IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) ? TRUE : FALSE;
  if (reason != DLL_PROCESS_DETACH) return TRUE;
  // At process exit (reserved set) other threads are gone and the host is
  // half torn down: nothing is touched. When the host frees the library
  // without StopPlug, this runs under the loader lock: of the User32 calls
  // only those that keep Windows from calling into the unmapped code are
  // made (the timer and the window end), device handles are closed without
  // waiting for their transfers, and nothing of the host's is called. The
  // window class stays registered: no window of it is left, and a later
  // load of the library reuses it or registers its own.
  if (reserved == nullptr && g_plugin) {
    k2t::Guarded([] { delete g_plugin; });  // the module forgets the host before it lets go
    g_plugin = nullptr;
  }
  return TRUE;
}

}  // extern "C"
