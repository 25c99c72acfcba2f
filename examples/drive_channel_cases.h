/* The cases of drive_channel's tests, in one table that two harnesses run, as
 * fff's own tests are run: the plain C one (drive_channel_test.c) and
 * GoogleTest (drive_channel_test.cpp). Before each case, the harness gives it a
 * factory backplane in the process's memory and an empty history
 * (zmod4710_sim_reset); the case arranges what it needs, runs the logic, and
 * checks what it printed and returned, what the module then holds and which
 * calls it made.
 *
 * Included once by each harness, which first defines the checks:
 *   CHECK_INT(got, wanted)    two whole numbers are equal
 *   CHECK_TEXT(got, wanted)   two zero-terminated texts are equal */
#ifndef DRIVE_CHANNEL_CASES_H
#define DRIVE_CHANNEL_CASES_H

#include <stdio.h>

#include <zmod4710_sim.h>

#include "drive_channel.h"

/* What drive_channel wrote to out and err, and what it returned. */
struct drive_channel_run {
    int status;
    char out[256];
    char err[256];
};

static void read_back(FILE *file, char *text, size_t size) {
    size_t length = 0;
    if (file != NULL) {
        rewind(file);
        length = fread(text, 1, size - 1, file);
        fclose(file);
    }
    text[length] = '\0';
}

static struct drive_channel_run run_drive_channel(void) {
    struct drive_channel_run run;
    FILE *out = tmpfile(), *err = tmpfile();
    run.status = out != NULL && err != NULL ? drive_channel(out, err) : -1;
    read_back(out, run.out, sizeof run.out);
    read_back(err, run.err, sizeof run.err);
    return run;
}

static void drives_channel_0_of_the_module_it_finds(void) {
    struct drive_channel_run run;
    short range = 0;
    float value = 0.0f;

    CHECK_INT(zmod4710_sim_remove(0), 0);
    CHECK_INT(zmod4710_sim_insert(3, "ZM-4704", 3), 0);
    CHECK_INT(zmod4710_sim_calibrate(3, 0, 4, 32000, -5), 0);

    run = run_drive_channel();
    CHECK_INT(run.status, 0);
    CHECK_TEXT(run.out, "slot 3 channel 0: 12 mA, gain 32000, offset -5\n");
    CHECK_INT(zmod4710_sim_output(3, 0, &range, &value), 0);
    CHECK_INT(range, 4);
    CHECK_INT(value == 12.0f, 1);
}

static void tells_a_refused_write_and_reads_nothing_after_it(void) {
    struct drive_channel_run run;
    char last[128];

    CHECK_INT(zmod4710_sim_refuse("WriteAO", ZMOD4710_SIM_ANY, 0, 7, 1), 0);

    run = run_drive_channel();
    CHECK_INT(run.status, 1);
    CHECK_TEXT(run.err, "zmod4710_WriteAO refused with result 7\n");
    CHECK_INT(zmod4710_sim_call_count(), 2); /* Init(0), then the refused write */
    CHECK_INT(zmod4710_sim_call_text(1, last, (int)sizeof last), 0);
    CHECK_TEXT(last, "zmod4710_WriteAO(0, 0, 4, 12) = 7 (refused on request)");
}

static void says_so_when_no_module_answers(void) {
    struct drive_channel_run run;

    CHECK_INT(zmod4710_sim_remove(0), 0);

    run = run_drive_channel();
    CHECK_INT(run.status, 1);
    CHECK_TEXT(run.err, "no analog-output module on the backplane\n");
    CHECK_INT(zmod4710_sim_call_count(), 8); /* Init of every slot */
}

struct drive_channel_case {
    const char *name;
    void (*run)(void);
};

static const struct drive_channel_case drive_channel_cases[] = {
    {"DrivesChannel0OfTheModuleItFinds", drives_channel_0_of_the_module_it_finds},
    {"TellsARefusedWriteAndReadsNothingAfterIt", tells_a_refused_write_and_reads_nothing_after_it},
    {"SaysSoWhenNoModuleAnswers", says_so_when_no_module_answers},
};

#define DRIVE_CHANNEL_CASE_COUNT (sizeof drive_channel_cases / sizeof drive_channel_cases[0])

#endif /* DRIVE_CHANNEL_CASES_H */
