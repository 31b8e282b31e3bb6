/* The host contract of the K2T pendant module: the entry points a host calls,
 * the callbacks it hands over and the least sizes of the records it passes to
 * InitControl. Usable from C and C++. */
#ifndef K2T_PLUGIN_H
#define K2T_PLUGIN_H

#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Entry points and callbacks use the C calling convention (cdecl), also on
 * 32-bit Windows; bool is one byte; texts are in the process code page. */
typedef void (*K2tDoButton)(short code);
typedef void (*K2tSetDRO)(int code, double value);
typedef double (*K2tGetDRO)(int code);
typedef bool (*K2tGetLED)(int code);
typedef void (*K2tSetLED)(int code, bool on);
typedef void (*K2tCode)(const char *text); /* the host must not keep the pointer */

/* Least sizes a host allocates for its records: the last field's offset plus its size.
 * The planner record ends with MessageText: a char[256] on Linux, the
 * window framework's string object (one pointer) on Windows. */
#define K2T_MOTION_RECORD_SIZE 0x289E0
#define K2T_SETUP_RECORD_SIZE 0x20A30
#ifdef _WIN32
#define K2T_PLANNER_RECORD_SIZE (0x11BB0C + 4)
#else
#define K2T_PLANNER_RECORD_SIZE (0x11BB0C + 256)
#endif

/* Byte offsets of the record fields the module reads or writes (little-endian). */
#define K2T_SETUP_INCREMENTAL_MODE 0x4A8        /* int32 */
#define K2T_SETUP_ROTATION_ANGLE 0x20A28        /* double, degrees */
#define K2T_MOTION_QUEUE_HEAD 0x28000           /* int32 */
#define K2T_MOTION_QUEUE_TAIL 0x28004           /* int32 */
#define K2T_MOTION_AXIS_JOG 0x28064             /* + 96 * axis */
#define K2T_MOTION_AXIS_JOG_STRIDE 96
#define K2T_AXIS_JOG_VELOCITY 0                 /* int32 */
#define K2T_AXIS_JOG_MAX_VELOCITY 4             /* int32 */
#define K2T_AXIS_JOG_ACCELERATION 8             /* int32 */
#define K2T_AXIS_JOG_STOP 14                    /* byte, 1 = stop */
#define K2T_AXIS_JOG_ACTIVE 16                  /* byte */
#define K2T_AXIS_JOG_DIRECTION 20               /* int32, 0 or 1 */
#define K2T_MOTION_JOG_INHIBIT 0x289DF          /* byte */
#define K2T_PLANNER_AXIS_MAX_VELOCITY 0x8F4C8   /* double + 8 * axis */
#define K2T_PLANNER_QUEUE_HEAD 0xC355C          /* int32 */
#define K2T_PLANNER_QUEUE_TAIL 0xC3560          /* int32 */
#define K2T_PLANNER_AXIS_MAX_VELOCITY_STEPS 0xC3B48 /* int32 + 4 * axis */
#define K2T_PLANNER_AXIS_ACCELERATION_STEPS 0xC3B60 /* int32 + 4 * axis */
#define K2T_PLANNER_JOG_UNIT_FACTOR 0xC3C50     /* double */
#define K2T_PLANNER_BUSY 0xC3CB0                /* int32 */
#define K2T_PLANNER_MESSAGE_TEXT 0x11BB0C       /* Linux: char[256], NUL-terminated;
                                                   Windows: the framework's string object */

bool InitControl(void *motion, void *setup, void *planner, void *host_window);
char *SetProName(const char *profile_name);
void PostInitControl(void);
void Config(void);
void Update(void);
void StopPlug(void);
void SetDoButton(K2tDoButton fn);
void SetSetDRO(K2tSetDRO fn);
void SetGetDRO(K2tGetDRO fn);
void SetGetLED(K2tGetLED fn);
void SetSetLED(K2tSetLED fn);
void SetCode(K2tCode fn);
/* Exported for hosts that call them; they do nothing. */
void DoDwell(void);
void Reset(void);
void JogOn(void);
void JogOff(void);
void Purge(void);
void Probe(void);
void Home(void);

#ifdef __cplusplus
}
#endif

#endif /* K2T_PLUGIN_H */
