/* The host's event loop as the module sees it on Linux: the fourth InitControl
 * argument points to one of these, valid until StopPlug returns. */
#ifndef K2T_HOST_LOOP_H
#define K2T_HOST_LOOP_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct K2tHostLoop {
    void *context;
    /* fn(arg) every period_ms on the GUI thread until removed; non-zero id, 0 on failure */
    unsigned (*add_timer)(void *context, unsigned period_ms, void (*fn)(void *arg), void *arg);
    void (*remove_timer)(void *context, unsigned id);
    /* fn(arg) on the GUI thread whenever fd is readable, until removed */
    unsigned (*add_reader)(void *context, int fd, void (*fn)(void *arg), void *arg);
    void (*remove_reader)(void *context, unsigned id);
} K2tHostLoop;

#ifdef __cplusplus
}
#endif

#endif /* K2T_HOST_LOOP_H */
