/* A module that exports every entry point but Config: the bench must refuse
 * it and name what is missing. */
#include <stdbool.h>

#define EXPORT __attribute__((visibility("default")))

EXPORT bool InitControl(void *motion, void *setup, void *planner, void *window) {
  (void)motion; (void)setup; (void)planner; (void)window;
  return true;
}
EXPORT char *SetProName(const char *name) { (void)name; return (char *)"missing"; }
EXPORT void PostInitControl(void) {}
EXPORT void Update(void) {}
EXPORT void StopPlug(void) {}
EXPORT void SetDoButton(void *fn) { (void)fn; }
EXPORT void SetSetDRO(void *fn) { (void)fn; }
EXPORT void SetGetDRO(void *fn) { (void)fn; }
EXPORT void SetGetLED(void *fn) { (void)fn; }
EXPORT void SetSetLED(void *fn) { (void)fn; }
EXPORT void SetCode(void *fn) { (void)fn; }
EXPORT void DoDwell(void) {}
EXPORT void Reset(void) {}
EXPORT void JogOn(void) {}
EXPORT void JogOff(void) {}
EXPORT void Purge(void) {}
EXPORT void Probe(void) {}
EXPORT void Home(void) {}
