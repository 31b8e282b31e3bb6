// The exports of K2TPendant.dll (names in K2TPendant.def): the entry points
// forwarding to one module instance, the four COM exports, and DllMain.
#include <windows.h>
#include <objbase.h>

#include "common/guarded.h"
#include "k2t/plugin.h"
#include "platform/windows/hidden_window.h"
#include "platform/windows/sockets.h"
#include "platform/windows/windows_platform.h"
#include "plugin/module.h"

// The host passes and takes bool as one byte.
static_assert(sizeof(bool) == 1);

namespace {

struct Plugin {
  k2t::windows::WindowsPlatform platform;
  k2t::Module module{platform};
};

// Made on first use and never destroyed by the runtime: at process exit its
// destructor would touch windows and handles of a process half torn down.
// DllMain releases it when the host frees the library.
Plugin* g_plugin = nullptr;
k2t::windows::SocketLibrary g_sockets;

using k2t::Guarded;

char g_no_title[1] = {'\0'};

k2t::Module* TheModule() {
  if (g_sockets.refused()) return nullptr;  // the library refused to load
  if (!g_plugin) g_plugin = new Plugin();
  return &g_plugin->module;
}

}  // namespace

extern "C" {

bool InitControl(void* motion, void* setup, void* planner, void* host_window) {
  return Guarded(false, [&] {
    if (!g_sockets.Start()) return false;
    k2t::Module* m = TheModule();
    return m && m->InitControl(motion, setup, planner, host_window);
  });
}

char* SetProName(const char* profile_name) {
  return Guarded(g_no_title, [&] {
    k2t::Module* m = TheModule();
    return m ? m->SetProName(profile_name) : g_no_title;
  });
}

void PostInitControl(void) {
  Guarded([] {
    if (k2t::Module* m = TheModule()) m->PostInitControl();
  });
}
void Config(void) {
  Guarded([] {
    if (k2t::Module* m = TheModule()) m->Config();
  });
}
void Update(void) {
  Guarded([] {
    if (k2t::Module* m = TheModule()) m->Update();
  });
}
void StopPlug(void) {
  Guarded([] {
    if (k2t::Module* m = TheModule()) m->StopPlug();
    k2t::windows::HiddenWindow::UnregisterClass();
    g_sockets.Stop();
  });
}
void SetDoButton(K2tDoButton fn) {
  Guarded([fn] {
    if (k2t::Module* m = TheModule()) m->host.callbacks().do_button = fn;
  });
}
void SetSetDRO(K2tSetDRO fn) {
  Guarded([fn] {
    if (k2t::Module* m = TheModule()) m->host.callbacks().set_dro = fn;
  });
}
void SetGetDRO(K2tGetDRO fn) {
  Guarded([fn] {
    if (k2t::Module* m = TheModule()) m->host.callbacks().get_dro = fn;
  });
}
void SetGetLED(K2tGetLED fn) {
  Guarded([fn] {
    if (k2t::Module* m = TheModule()) m->host.callbacks().get_led = fn;
  });
}
void SetSetLED(K2tSetLED fn) {
  Guarded([fn] {
    if (k2t::Module* m = TheModule()) m->host.callbacks().set_led = fn;
  });
}
void SetCode(K2tCode fn) {
  Guarded([fn] {
    if (k2t::Module* m = TheModule()) m->host.callbacks().code = fn;
  });
}
void DoDwell(void) {}
void Reset(void) {}
void JogOn(void) {}
void JogOff(void) {}
void Purge(void) {}
void Probe(void) {}
void Home(void) {}

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
    Guarded([] { delete g_plugin; });  // the module forgets the host before it lets go
    g_plugin = nullptr;
  }
  return TRUE;
}

}  // extern "C"
