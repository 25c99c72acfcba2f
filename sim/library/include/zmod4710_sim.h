/*
 * zmod4710_sim.h - what the simulated module library answers, and how a test
 * controls it.
 *
 * The simulated library offers the functions of zmod4710.h on a backplane that
 * it keeps in a state file (zmod4710(3)), or in the process's memory. Besides 0
 * for success, its functions return the results below; the module's own
 * library may return others, so a program meant for the controller treats any
 * result but 0 as a refusal.
 *
 * The zmod4710_sim_ functions below are not the module's: they let a test of a
 * program arrange the backplane, read back what the program did and see the
 * calls it made, in the process itself (zmod4710_sim(3)). They change the
 * backplane as the commands of zmod4710-sim(1) of the same names do, on the
 * same backplane; zmod4710_sim(3) tells where they differ.
 */
#ifndef ZMOD4710_SIM_H
#define ZMOD4710_SIM_H

#include "zmod4710.h"

/* The call did what it was asked. */
#define ZMOD4710_SIM_OK 0

/* A slot, channel, range code, power-on mode or value that the module would not
 * take, or a null pointer where the call writes a result. Nothing changed. */
#define ZMOD4710_SIM_BAD_ARGUMENT (-1)

/* No analog-output module in the slot, or none whose zmod4710_Init succeeded in
 * this process. Nothing changed. */
#define ZMOD4710_SIM_NO_MODULE (-2)

/* The state file could not be read, parsed or written, or is not the user's to
 * use; one line on standard error said why. Nothing changed. */
#define ZMOD4710_SIM_STATE_PROBLEM (-3)

/* Refused on request: a person asked for this call to be refused (zmod4710-sim
 * refuse), without another result. Nothing changed. */
#define ZMOD4710_SIM_REFUSED_ON_REQUEST (-4)

/* What zmod4710_GetLibVersion returns and zmod4710_GetLibDate writes. */
#define ZMOD4710_SIM_LIB_VERSION 0x0100
#define ZMOD4710_SIM_LIB_DATE "2026-12-08"

#define ZMOD4710_SIM_ANY (-1) /* any slot or channel, in a refusal or a search */
#define ZMOD4710_SIM_ALWAYS 0 /* times: every matching call until cleared */

/* The most calls the history keeps: the newest. */
#define ZMOD4710_SIM_HISTORY_SIZE 65536

#ifdef __cplusplus
extern "C" {
#endif

/* The backplane: from now on, a factory backplane in this process's memory,
 * which no other program sees (so does ZMOD4710_SIM_STATE=:memory:). */
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_use_memory(void);
/* From now on, the backplane in the state file at path; with NULL, the one
 * ZMOD4710_SIM_STATE or the default place names, looked up at each call.
 * Until then, ZMOD4710_SIM_STATE is not looked at. */
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_use_state(const char *path);
/* The factory backplane, no refusal pending, no slot initialised, no history. */
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_reset(void);
/* A factory-fresh module ("ZM-4710", "ZM-4704" or "other") in place of
 * whatever the slot holds. */
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_insert(int slot, const char *module, short firmware);
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_remove(int slot);
/* What a power-up does: in mode 1 channels take their power-on values. */
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_power_cycle(void);
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_calibrate(int slot, int channel, short range,
                                                      unsigned short gain, short offset);
/* Gives a channel an error of its own, which only a meter sees: from now on
 * it reads the output times (1 + gain_percent / 100), plus offset, in the
 * output's unit. gain_percent -100 to 100, offset -100 to 100; 0 and 0: none.
 * A power cycle keeps it, a reset clears it. */
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_drift(int slot, int channel, float gain_percent,
                                                  float offset);
/* The next times matching calls ("WriteAO" or "zmod4710_WriteAO"; "any": every
 * call but GetLibVersion) return result; slot and channel may be
 * ZMOD4710_SIM_ANY, times ZMOD4710_SIM_ALWAYS. */
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_refuse(const char *call, int slot, int channel,
                                                   int result, int times);
/* The same, once after matching calls have gone through as if it were not
 * there: the after+1-th matching call is the first refused. */
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_refuse_after(const char *call, int slot, int channel,
                                                         int result, int after, int times);
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_clear_refusals(void);

/* What the module holds: a channel's output, its power-on value, the module's
 * power-on mode (a saturated value as saturated). */
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_output(int slot, int channel, short *range,
                                                   float *value);
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_power_on_value(int slot, int channel, short *range,
                                                           float *value);
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_power_on_mode(int slot, short *mode);
/* What a meter on a channel's terminals reads, in the unit of the channel's
 * range: its output with its drift, to the resolution of a 4 1/2-digit meter
 * (at most 19999 counts, on the lowest of the ranges 0.2, 2, 20, 200 and 2000
 * that holds it). A channel without drift reads its output. */
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_meter(int slot, int channel, double *reading);

/* One call of the module library that this process made. */
typedef struct zmod4710_sim_call {
    const char *name;         /* "WriteAO": the call's name without zmod4710_; static text */
    int slot;                 /* -1 for a call made on no slot */
    int channel;              /* -1 for a call made on no channel */
    short range;              /* -1 where the call takes none */
    short mode;               /* SetPowerOnEnStatus's mode, else 0 */
    float value;              /* WriteAO's and WritePowerOn_AO's value, else 0 */
    int result;               /* what the call returned */
    int refused_on_request;   /* 1 when a refusal asked for answered it */
    int answered_by_callback; /* 1 when the callback of zmod4710_sim_on_call did */
    double time; /* seconds from the library's time zero, on a clock that never goes back */
} zmod4710_sim_call;

/* The library's time zero (when it was loaded), in seconds since 1970-01-01
 * UTC, to the microsecond: a call's trace line tells the UTC of this plus its
 * time. The first line a process writes to a trace tells it too. */
ZMOD4710_API double ZMOD4710_CALL zmod4710_sim_time_zero(void);

#ifdef _WIN32
#define ZMOD4710_SIM_CALLBACK __cdecl
#else
#define ZMOD4710_SIM_CALLBACK
#endif

/* A test's own code, called before each module call is answered, with the call
 * (its result 0: not known yet) and the context given with it. It returns 0 to
 * let the call go on, or the result to answer it with instead, which changes
 * nothing. It may call any zmod4710_sim_ function; a module call it makes is
 * answered as if no callback were set. It is called from whichever thread
 * makes the call, from several at once when they do. */
typedef int(ZMOD4710_SIM_CALLBACK *zmod4710_sim_callback)(const zmod4710_sim_call *call,
                                                          void *context);
/* Sets the callback for every call from now on; NULL removes it. It returns
 * once no other thread runs the callback it replaced, so that its context may
 * then be freed. */
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_on_call(zmod4710_sim_callback callback, void *context);

/* The calls this process made, oldest first: how many are kept, one of them,
 * one as the trace tells it (without the time, the process number and the line end). */
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_call_count(void);
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_call_at(int index, zmod4710_sim_call *call);
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_call_text(int index, char *text, int size);
/* The index of the first call at or after from that matches: call by name
 * ("any": every call), slot and channel, each ZMOD4710_SIM_ANY for any; -1 when
 * none does, or an argument is bad (an unknown call, from below 0). */
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_find_call(int from, const char *call, int slot,
                                                      int channel);
/* Every call kept, a line each as zmod4710_sim_call_text gives it, as many whole
 * lines as fit in size bytes with the closing 0. Returns how many it wrote. */
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_calls_text(char *text, int size);
ZMOD4710_API int ZMOD4710_CALL zmod4710_sim_clear_calls(void);
/* How many older calls the history let go since it was last cleared. */
ZMOD4710_API unsigned long ZMOD4710_CALL zmod4710_sim_calls_dropped(void);

#ifdef __cplusplus
}
#endif

#endif /* ZMOD4710_SIM_H */
