/* The simulated library's control interface, from C as a test of one's own
 * program would call it: each function, what it refuses, and the history of
 * calls. Written in C89, so that it also proves the header in C89 (and, built
 * again, in C99). Each row says what a call should return; the program's exit
 * status is the number of rows that failed. */
#include <setjmp.h>
#include <stdio.h>
#include <string.h>

#include "zmod4710_sim.h"

static int failures = 0;

static void expect(const char *what, long got, long wanted, int line) {
    if (got != wanted) {
        printf("line %d: %s gave %ld, expected %ld\n", line, what, got, wanted);
        ++failures;
    }
}

#define EXPECT(call, wanted) expect(#call, (long)(call), (long)(wanted), __LINE__)
#define EXPECT_TEXT(got, wanted)                                                                   \
    expect("\"" wanted "\" == " #got, (long)strcmp(got, wanted), 0L, __LINE__)

static void arranges_and_reads_back_the_backplane(void) {
    short range = -1, mode = 0, firmware = 0;
    float value = -1.0f;
    unsigned short gain = 0;
    short offset = 0;

    EXPECT(zmod4710_sim_insert(5, "ZM-4704", 12), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_Init(5), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_GetFirmwareVersion(5, &firmware), ZMOD4710_SIM_OK);
    EXPECT(firmware, 12);
    EXPECT(zmod4710_WriteAO(5, 3, 4, 25.0f), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_sim_output(5, 3, &range, &value), ZMOD4710_SIM_OK);
    EXPECT(range, 4);
    EXPECT(value == 20.0f, 1); /* saturated, as the module holds it */
    EXPECT(zmod4710_WritePowerOn_AO(5, 3, 1, 2.5f), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_sim_power_on_value(5, 3, &range, &value), ZMOD4710_SIM_OK);
    EXPECT(range == 1 && value == 2.5f, 1);
    EXPECT(zmod4710_SetPowerOnEnStatus(5, 2), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_sim_power_on_mode(5, &mode), ZMOD4710_SIM_OK);
    EXPECT(mode, 2);
    EXPECT(zmod4710_sim_power_cycle(), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_sim_output(5, 3, &range, &value), ZMOD4710_SIM_OK);
    EXPECT(range == 4 && value == 20.0f, 1); /* retentive: held */
    EXPECT(zmod4710_SetPowerOnEnStatus(5, 1), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_sim_power_cycle(), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_sim_output(5, 3, &range, &value), ZMOD4710_SIM_OK);
    EXPECT(range == 1 && value == 2.5f, 1);
    EXPECT(zmod4710_WriteAO(5, 0, 0, 1.0f), ZMOD4710_SIM_OK) /* a power cycle keeps Init */;
    EXPECT(zmod4710_sim_calibrate(5, 1, 2, 500, -12), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_ReadAO_GainOffset(5, 1, 2, &gain, &offset), ZMOD4710_SIM_OK);
    EXPECT(gain == 500 && offset == -12, 1);
    EXPECT(zmod4710_sim_insert(5, "other", 1), ZMOD4710_SIM_OK); /* in place of the ZM-4704 */
    EXPECT(zmod4710_sim_output(5, 0, &range, &value), ZMOD4710_SIM_NO_MODULE);
    EXPECT(zmod4710_sim_remove(5), ZMOD4710_SIM_OK);
}

static void refuses_what_the_command_line_would(void) {
    short range = 0;
    float value = 0.0f;

    EXPECT(zmod4710_sim_insert(8, "ZM-4710", 3), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_insert(1, "ZM-9999", 3), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_insert(1, NULL, 3), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_insert(1, "ZM-4710", -1), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_remove(-1), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_remove(4), ZMOD4710_SIM_NO_MODULE);
    EXPECT(zmod4710_sim_calibrate(0, 8, 0, 1, 1), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_calibrate(0, 0, 6, 1, 1), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_calibrate(4, 0, 0, 1, 1), ZMOD4710_SIM_NO_MODULE);
    EXPECT(zmod4710_sim_refuse("GetLibVersion", -1, -1, 1, 1), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_refuse("Bogus", -1, -1, 1, 1), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_refuse(NULL, -1, -1, 1, 1), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_refuse("WriteAO", -1, -1, 0, 1), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_refuse("WriteAO", -1, -1, 1, -1), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_refuse("WriteAO", 8, -1, 1, 1), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_refuse("WriteAO", -1, -2, 1, 1), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_refuse("Init", -1, 0, 1, 1), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_refuse("GetLibDate", 0, -1, 1, 1), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_refuse("any", 0, 0, 1, 1), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_refuse("zmod4710_any", 0, -1, 1, 1), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_refuse_after("WriteAO", 0, 0, 1, -1, 1), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_use_state(""), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_find_call(-1, "any", -1, -1), -1);
    EXPECT(zmod4710_sim_find_call(0, "Bogus", -1, -1), -1);
    EXPECT(zmod4710_sim_find_call(0, NULL, -1, -1), -1);
    EXPECT(zmod4710_sim_calls_text(NULL, 10), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_output(8, 0, &range, &value), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_output(0, 8, &range, &value), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_output(4, 0, &range, &value), ZMOD4710_SIM_NO_MODULE);
    EXPECT(zmod4710_sim_output(0, 0, NULL, &value), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_power_on_value(0, 0, &range, NULL), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_power_on_mode(0, NULL), ZMOD4710_SIM_BAD_ARGUMENT);
}

/* A meter reads the output with the channel's drift, as a 4 1/2-digit meter
 * shows it: no more than 19999 counts, on the lowest range that holds it. */
static void reads_a_meter_on_a_drifted_channel(void) {
    static const struct {
        short range;
        float output, gain, offset;
        double reading;
    } rows[] = {
        {3, 0.0f, 0.0f, 0.19999f, 0.19999}, {3, 0.0f, 0.0f, 0.2f, 0.2},
        {0, 5.0f, 0.0f, 0.0f, 5.0},         {4, 20.0f, 0.5f, -0.01f, 20.09},
        {3, 10.0f, 100.0f, 0.0f, 20.0},     {3, -10.0f, -50.0f, 0.0f, -5.0},
        {1, 10.0f, -100.0f, 0.0f, 0.0},     {3, 10.0f, 100.0f, 100.0f, 120.0},
        {3, 1.0f, 0.0f, 0.000004f, 1.0},    {3, 1.0f, 0.0f, 0.00006f, 1.0001},
    };
    size_t row;
    double reading = -1.0;

    EXPECT(zmod4710_Init(0), ZMOD4710_SIM_OK);
    for (row = 0; row < sizeof rows / sizeof rows[0]; ++row) {
        EXPECT(zmod4710_WriteAO(0, 2, rows[row].range, rows[row].output), ZMOD4710_SIM_OK);
        EXPECT(zmod4710_sim_drift(0, 2, rows[row].gain, rows[row].offset), ZMOD4710_SIM_OK);
        EXPECT(zmod4710_sim_meter(0, 2, &reading), ZMOD4710_SIM_OK);
        if (reading != rows[row].reading) {
            printf("row %d: the meter read %.6f, expected %.6f\n", (int)row, reading,
                   rows[row].reading);
            ++failures;
        }
    }
    EXPECT(zmod4710_sim_drift(0, 2, 100.5f, 0.0f), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_drift(0, 2, 0.0f, -100.5f), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_drift(0, 8, 0.0f, 0.0f), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_drift(4, 0, 0.0f, 0.0f), ZMOD4710_SIM_NO_MODULE);
    EXPECT(zmod4710_sim_meter(0, 8, &reading), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_meter(8, 0, &reading), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_meter(4, 0, &reading), ZMOD4710_SIM_NO_MODULE);
    EXPECT(zmod4710_sim_meter(0, 2, NULL), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_power_cycle(), ZMOD4710_SIM_OK); /* 0 V, and the drift kept */
    EXPECT(zmod4710_sim_meter(0, 2, &reading), ZMOD4710_SIM_OK);
    EXPECT(reading == 0.00006, 1);
    EXPECT(zmod4710_sim_reset(), ZMOD4710_SIM_OK); /* no drift */
    EXPECT(zmod4710_sim_meter(0, 2, &reading), ZMOD4710_SIM_OK);
    EXPECT(reading == 0.0, 1);
}

static void refuses_calls_on_request(void) {
    EXPECT(zmod4710_Init(0), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_sim_refuse("zmod4710_WriteAO", 0, 1, 7, 2), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_WriteAO(0, 1, 0, 9.0f), 7);
    EXPECT(zmod4710_WriteAO(0, 2, 0, 1.0f), ZMOD4710_SIM_OK);           /* another channel */
    EXPECT(zmod4710_WriteAO(0, 1, 6, 1.0f), ZMOD4710_SIM_BAD_ARGUMENT); /* the module's first */
    EXPECT(zmod4710_WriteAO(0, 1, 0, 9.0f), 7);
    EXPECT(zmod4710_WriteAO(0, 1, 0, 9.0f), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_sim_refuse("SetPowerOnEnStatus", ZMOD4710_SIM_ANY, ZMOD4710_SIM_ANY,
                               ZMOD4710_SIM_REFUSED_ON_REQUEST, ZMOD4710_SIM_ALWAYS),
           ZMOD4710_SIM_OK);
    EXPECT(zmod4710_SetPowerOnEnStatus(0, 2), ZMOD4710_SIM_REFUSED_ON_REQUEST);
    EXPECT(zmod4710_SetPowerOnEnStatus(0, 2), ZMOD4710_SIM_REFUSED_ON_REQUEST);
    EXPECT(zmod4710_sim_clear_refusals(), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_SetPowerOnEnStatus(0, 2), ZMOD4710_SIM_OK);
}

static void fails_the_third_write_of_a_ramp(void) {
    EXPECT(zmod4710_Init(0), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_sim_refuse_after("WriteAO", 0, 0, 7, 2, 1), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_WriteAO(0, 1, 0, 1.0f), ZMOD4710_SIM_OK); /* another channel: not counted */
    EXPECT(zmod4710_WriteAO(0, 0, 0, 1.0f), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_WriteAO(0, 0, 0, 2.0f), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_WriteAO(0, 0, 0, 3.0f), 7);
    EXPECT(zmod4710_WriteAO(0, 0, 0, 4.0f), ZMOD4710_SIM_OK); /* used up */

    /* The slot goes silent from its third call on, as a module pulled out. */
    EXPECT(zmod4710_sim_refuse_after("any", 0, ZMOD4710_SIM_ANY, ZMOD4710_SIM_NO_MODULE, 2,
                                     ZMOD4710_SIM_ALWAYS),
           ZMOD4710_SIM_OK);
    EXPECT(zmod4710_WriteAO(0, 0, 0, 5.0f), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_SetPowerOnEnStatus(0, 2), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_WriteAO(0, 0, 0, 6.0f), ZMOD4710_SIM_NO_MODULE);
    EXPECT(zmod4710_Init(0), ZMOD4710_SIM_NO_MODULE);
    EXPECT(zmod4710_GetLibVersion(), ZMOD4710_SIM_LIB_VERSION); /* no result to refuse */
    EXPECT(zmod4710_sim_clear_refusals(), ZMOD4710_SIM_OK);
}

/* What the callback below saw and did. */
struct callback_log {
    int calls;
    int inner_result; /* of a module call made from the callback */
    char last[32];
    float value;
};

/* Pulls the module in slot 0 out before the third call, answers firmware
 * requests itself, and lets everything else go on. */
static int pull_out_at_the_third_call(const zmod4710_sim_call *call, void *context) {
    struct callback_log *log = (struct callback_log *)context;
    short firmware = 0;

    ++log->calls;
    strcpy(log->last, call->name);
    log->value = call->value;
    if (call->result != 0)
        return 99; /* a call's result is not known yet */
    if (log->calls == 3)
        zmod4710_sim_remove(0);
    if (strcmp(call->name, "GetFirmwareVersion") == 0) {
        log->inner_result = zmod4710_GetFirmwareVersion(call->slot, &firmware);
        return 42;
    }
    return 0;
}

static void runs_the_tests_code_on_each_call(void) {
    struct callback_log log = {0, 0, "", 0.0f};
    zmod4710_sim_call call;
    char text[80];
    short firmware = 0;

    EXPECT(zmod4710_sim_on_call(pull_out_at_the_third_call, &log), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_sim_reset(), ZMOD4710_SIM_OK); /* keeps the callback */
    EXPECT(zmod4710_sim_insert(2, "ZM-4704", 9), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_Init(0), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_Init(2), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_WriteAO(0, 0, 0, 1.0f), ZMOD4710_SIM_NO_MODULE); /* pulled out */
    EXPECT_TEXT(log.last, "WriteAO");
    EXPECT(log.value == 1.0f, 1); /* the call as it is made */
    EXPECT(zmod4710_GetFirmwareVersion(2, &firmware), 42);
    EXPECT(log.inner_result, ZMOD4710_SIM_OK); /* answered, and not called back */
    EXPECT(firmware, 0);                       /* the callback's answer changed nothing */
    EXPECT(log.calls, 4);
    EXPECT(zmod4710_sim_call_count(), 5);
    EXPECT(zmod4710_sim_call_at(3, &call), ZMOD4710_SIM_OK); /* the inner call first */
    EXPECT(call.result == ZMOD4710_SIM_OK && call.answered_by_callback == 0, 1);
    EXPECT(zmod4710_sim_call_at(4, &call), ZMOD4710_SIM_OK);
    EXPECT(call.result == 42 && call.answered_by_callback == 1, 1);
    EXPECT(zmod4710_sim_call_text(4, text, (int)sizeof text), ZMOD4710_SIM_OK);
    EXPECT_TEXT(text, "zmod4710_GetFirmwareVersion(2) = 42 (answered by the callback)");
    EXPECT(zmod4710_sim_on_call(NULL, NULL), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_GetFirmwareVersion(2, &firmware), ZMOD4710_SIM_OK);
    EXPECT(log.calls, 4);
}

static jmp_buf failed_assertion;

/* Leaves the first call as a C test framework leaves a failed assertion:
 * with longjmp. */
static int fail_an_assertion(const zmod4710_sim_call *call, void *context) {
    (void)call;
    if (++*(int *)context == 1)
        longjmp(failed_assertion, 1);
    return 0;
}

static void calls_the_callback_again_after_a_longjmp(void) {
    static int called; /* kept across the longjmp */

    called = 0;
    EXPECT(zmod4710_sim_reset(), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_sim_on_call(fail_an_assertion, &called), ZMOD4710_SIM_OK);
    if (setjmp(failed_assertion) == 0) {
        zmod4710_Init(0);
        EXPECT(called, 0); /* not reached: the callback leaves by longjmp */
    }
    EXPECT(zmod4710_Init(0), ZMOD4710_SIM_OK);
    EXPECT(called, 2);
    EXPECT(zmod4710_sim_on_call(NULL, NULL), ZMOD4710_SIM_OK); /* waits for none */
}

static void finds_calls_and_tells_them_all(void) {
    char text[128];

    EXPECT(zmod4710_sim_reset(), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_Init(0), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_WriteAO(0, 1, 0, 1.5f), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_WriteAO(0, 2, 0, 2.0f), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_WriteAO(0, 1, 0, 3.0f), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_sim_find_call(0, "WriteAO", ZMOD4710_SIM_ANY, ZMOD4710_SIM_ANY), 1);
    EXPECT(zmod4710_sim_find_call(2, "zmod4710_WriteAO", 0, 1), 3);
    EXPECT(zmod4710_sim_find_call(0, "any", 0, 2), 2);
    EXPECT(zmod4710_sim_find_call(0, "Init", 1, ZMOD4710_SIM_ANY), -1);
    EXPECT(zmod4710_sim_find_call(4, "any", ZMOD4710_SIM_ANY, ZMOD4710_SIM_ANY), -1);
    EXPECT(zmod4710_sim_calls_text(text, (int)sizeof text), 4);
    EXPECT_TEXT(text, "zmod4710_Init(0) = 0\n"
                      "zmod4710_WriteAO(0, 1, 0, 1.5) = 0\n"
                      "zmod4710_WriteAO(0, 2, 0, 2) = 0\n"
                      "zmod4710_WriteAO(0, 1, 0, 3) = 0\n");
    EXPECT(zmod4710_sim_calls_text(text, 40), 1); /* cut at a line's end */
    EXPECT_TEXT(text, "zmod4710_Init(0) = 0\n");
    EXPECT(zmod4710_sim_calls_text(text, 21), 0);
    EXPECT_TEXT(text, "");
}

static void keeps_the_calls_made(void) {
    zmod4710_sim_call call;
    char text[64];
    int index;

    EXPECT(zmod4710_sim_clear_calls(), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_sim_call_count(), 0);
    EXPECT(zmod4710_sim_call_at(0, &call), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_refuse("WriteAO", 0, 2, 7, 1), ZMOD4710_SIM_OK); /* not a call */
    EXPECT(zmod4710_WriteAO(0, 2, 0, 3.0f), 7);
    EXPECT(zmod4710_WriteAO(9, 0, 0, 1.0f), ZMOD4710_SIM_NO_MODULE);
    EXPECT(zmod4710_GetLibVersion(), ZMOD4710_SIM_LIB_VERSION);
    EXPECT(zmod4710_sim_call_count(), 3);
    EXPECT(zmod4710_sim_call_at(0, &call), ZMOD4710_SIM_OK);
    EXPECT_TEXT(call.name, "WriteAO");
    EXPECT(call.slot == 0 && call.channel == 2 && call.range == 0 && call.value == 3.0f, 1);
    EXPECT(call.result == 7 && call.refused_on_request == 1 && call.mode == 0, 1);
    EXPECT(zmod4710_sim_call_at(1, &call), ZMOD4710_SIM_OK);
    EXPECT(call.result == ZMOD4710_SIM_NO_MODULE && call.refused_on_request == 0, 1);
    EXPECT(zmod4710_sim_call_at(2, &call), ZMOD4710_SIM_OK);
    EXPECT(call.slot == -1 && call.channel == -1 && call.range == -1, 1);
    EXPECT(zmod4710_sim_call_at(3, &call), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_call_at(-1, &call), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT(zmod4710_sim_call_text(0, text, (int)sizeof text), ZMOD4710_SIM_OK);
    EXPECT_TEXT(text, "zmod4710_WriteAO(0, 2, 0, 3) = 7 (refused on request)");
    EXPECT(zmod4710_sim_call_text(2, text, (int)sizeof text), ZMOD4710_SIM_OK);
    EXPECT_TEXT(text, "zmod4710_GetLibVersion() = 256");
    EXPECT(zmod4710_sim_call_text(0, text, 10), ZMOD4710_SIM_BAD_ARGUMENT);
    EXPECT_TEXT(text, "");
    EXPECT(zmod4710_sim_call_text(0, text, 0), ZMOD4710_SIM_BAD_ARGUMENT);

    /* The newest are kept, and the older ones counted. */
    for (index = 0; index < ZMOD4710_SIM_HISTORY_SIZE + 7; ++index)
        zmod4710_Init(index % 2);
    EXPECT(zmod4710_sim_call_count(), ZMOD4710_SIM_HISTORY_SIZE);
    EXPECT(zmod4710_sim_calls_dropped(), 10);
    EXPECT(zmod4710_sim_call_at(0, &call), ZMOD4710_SIM_OK);
    EXPECT(call.slot, 1); /* calls 0 to 9 went: 3 above, and the first 7 Inits */
    EXPECT(zmod4710_sim_clear_calls(), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_sim_call_count() == 0 && zmod4710_sim_calls_dropped() == 0, 1);
}

static void starts_clean_on_reset(void) {
    short range = -1;
    float value = -1.0f;

    EXPECT(zmod4710_Init(0), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_WriteAO(0, 0, 4, 12.0f), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_sim_refuse("Init", -1, -1, 5, 0), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_sim_reset(), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_sim_call_count(), 0);
    EXPECT(zmod4710_WriteAO(0, 0, 0, 1.0f), ZMOD4710_SIM_NO_MODULE); /* Init forgotten */
    EXPECT(zmod4710_Init(0), ZMOD4710_SIM_OK);                       /* no refusal left */
    EXPECT(zmod4710_sim_output(0, 0, &range, &value), ZMOD4710_SIM_OK);
    EXPECT(range == 0 && value == 0.0f, 1);
    EXPECT(zmod4710_sim_use_memory(), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_WriteAO(0, 0, 0, 1.0f), ZMOD4710_SIM_NO_MODULE); /* a new backplane */
}

static void forgets_an_init_on_a_module_taken_out(void) {
    EXPECT(zmod4710_Init(0), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_sim_remove(0), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_sim_insert(0, "ZM-4704", 9), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_WriteAO(0, 0, 0, 1.0f), ZMOD4710_SIM_NO_MODULE); /* another module */
    EXPECT(zmod4710_Init(0), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_sim_insert(0, "ZM-4704", 9), ZMOD4710_SIM_OK); /* in its place */
    EXPECT(zmod4710_WriteAO(0, 0, 0, 1.0f), ZMOD4710_SIM_NO_MODULE);
    EXPECT(zmod4710_Init(0), ZMOD4710_SIM_OK);
    EXPECT(zmod4710_WriteAO(0, 0, 0, 1.0f), ZMOD4710_SIM_OK);
}

int main(void) {
    EXPECT(zmod4710_sim_use_memory(), ZMOD4710_SIM_OK);
    arranges_and_reads_back_the_backplane();
    refuses_what_the_command_line_would();
    reads_a_meter_on_a_drifted_channel();
    refuses_calls_on_request();
    keeps_the_calls_made();
    starts_clean_on_reset();
    forgets_an_init_on_a_module_taken_out();
    fails_the_third_write_of_a_ramp();
    runs_the_tests_code_on_each_call();
    calls_the_callback_again_after_a_longjmp();
    finds_calls_and_tells_them_all();
    if (failures == 0)
        printf("the control interface answers as it should\n");
    return failures;
}
