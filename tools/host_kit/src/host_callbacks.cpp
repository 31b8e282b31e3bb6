#include "host_callbacks.h"

namespace host_kit {

namespace {

HostCallbacks* g_current = nullptr;

void DoButtonThunk(short code) {
  if (g_current) g_current->DoButton(code);
}
void SetDROThunk(int code, double value) {
  if (g_current) g_current->SetDRO(code, value);
}
double GetDROThunk(int code) { return g_current ? g_current->GetDRO(code) : 0.0; }
bool GetLEDThunk(int code) { return g_current ? g_current->GetLED(code) : false; }
void SetLEDThunk(int code, bool on) {
  if (g_current) g_current->SetLED(code, on);
}
void CodeThunk(const char* text) {
  if (g_current) g_current->Code(text ? text : "");
}

constexpr CallbackThunks kThunks{&DoButtonThunk, &SetDROThunk, &GetDROThunk,
                                 &GetLEDThunk,   &SetLEDThunk, &CodeThunk};

HostLoopCallbacks* LoopOf(void* context) { return static_cast<HostLoopCallbacks*>(context); }

unsigned AddTimerThunk(void* context, unsigned period_ms, void (*fn)(void*), void* arg) {
  return fn ? LoopOf(context)->AddTimer(period_ms, fn, arg) : 0;
}
void RemoveTimerThunk(void* context, unsigned id) { LoopOf(context)->RemoveTimer(id); }
unsigned AddReaderThunk(void* context, int fd, void (*fn)(void*), void* arg) {
  return fn ? LoopOf(context)->AddReader(fd, fn, arg) : 0;
}
void RemoveReaderThunk(void* context, unsigned id) { LoopOf(context)->RemoveReader(id); }

}  // namespace

HostCallbacks::~HostCallbacks() {
  if (g_current == this) g_current = nullptr;
}

void HostCallbacks::MakeCurrent() { g_current = this; }

const CallbackThunks& Thunks() { return kThunks; }

void HandCallbacks(const K2tEntryPoints& api) {
  api.SetDoButton(kThunks.do_button);
  api.SetSetDRO(kThunks.set_dro);
  api.SetGetDRO(kThunks.get_dro);
  api.SetGetLED(kThunks.get_led);
  api.SetSetLED(kThunks.set_led);
  api.SetCode(kThunks.code);
}

K2tHostLoop HostLoopCallbacks::HostLoop() {
  return {this, &AddTimerThunk, &RemoveTimerThunk, &AddReaderThunk, &RemoveReaderThunk};
}

}  // namespace host_kit
