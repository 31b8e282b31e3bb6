/* A simulated HID bus a host may offer: when the host executable exports
 * K2tSimHidBus and it returns non-null, the module uses this bus instead of
 * hidraw. Reports have the module's own layout: 8 input bytes, 21 output
 * bytes, byte 0 the report id (0). */
#ifndef K2T_SIM_HID_H
#define K2T_SIM_HID_H

#ifdef __cplusplus
extern "C" {
#endif

#define K2T_DEVICE_ARRIVAL 0x8000
#define K2T_DEVICE_REMOVAL 0x8004

#define K2T_SIM_ACCESS_ATTRIBUTES 0
#define K2T_SIM_ACCESS_READ 1
#define K2T_SIM_ACCESS_WRITE 2

typedef struct K2tSimHidDevice {
    char path[256];
    unsigned short vendor_id, product_id;
} K2tSimHidDevice;

typedef struct K2tSimHidBus {
    unsigned version; /* 1 */
    void *context;
    /* writes up to max entries; returns how many interfaces are present */
    int (*enumerate)(void *context, K2tSimHidDevice *out, int max);
    /* access 0 = attributes only, 1 = read, 2 = write; handle >= 0, or -1 */
    int (*open)(void *context, const char *path, int access);
    void (*close)(void *context, int handle);
    /* oldest unread input report: its length, 0 if none within timeout_ms, -1 if gone */
    int (*read)(void *context, int handle, unsigned char *buf, int size, int timeout_ms);
    /* bytes written, or -1 */
    int (*write)(void *context, int handle, const unsigned char *buf, int size);
    /* notify(arg, 0x8000 or 0x8004, path) on the GUI thread; notify == NULL unsubscribes */
    void (*subscribe)(void *context, void (*notify)(void *arg, int event, const char *path), void *arg);
} K2tSimHidBus;

/* The host executable exports a function named K2tSimHidBus of this type.
 * The name is also the struct's, so the function gets another name in C and
 * is exported under this one:
 *  - Linux: link with -rdynamic and define it under an asm label, e.g.
 *      K2tSimHidBus *host_sim_bus(void) __asm__("K2tSimHidBus");
 *  - Windows (the module finds it with GetProcAddress(GetModuleHandle(NULL),
 *    "K2tSimHidBus")): export it under an alias in the executable's .def file,
 *      EXPORTS
 *        K2tSimHidBus = host_sim_bus
 *    (with mingw on 32-bit x86 the asm label does not combine with export). */
typedef K2tSimHidBus *(*K2tSimHidBusFn)(void);
#define K2T_SIM_HID_BUS_SYMBOL "K2tSimHidBus"

#ifdef __cplusplus
}
#endif

#endif /* K2T_SIM_HID_H */
