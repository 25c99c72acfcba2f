/* Tests of drive_channel against the simulated module, in plain C: each case
 * starts from a factory backplane in the process's memory, arranges what it
 * needs, runs the logic, and reads back what the module holds and which calls
 * the program made. */
#undef NDEBUG /* the checks are the test */
#include <assert.h>
#include <stdio.h>
#include <string.h>

#include <zmod4710_sim.h>

#include "drive_channel.h"

/* What drive_channel wrote to out and err, and what it returned. */
struct run {
    int status;
    char out[256];
    char err[256];
};

static void read_back(FILE *file, char *text, size_t size) {
    size_t length;
    rewind(file);
    length = fread(text, 1, size - 1, file);
    text[length] = '\0';
    fclose(file);
}

static struct run run_drive_channel(void) {
    struct run run;
    FILE *out = tmpfile(), *err = tmpfile();
    assert(out != NULL && err != NULL);
    run.status = drive_channel(out, err);
    read_back(out, run.out, sizeof run.out);
    read_back(err, run.err, sizeof run.err);
    return run;
}

static void drives_channel_0_of_the_module_it_finds(void) {
    struct run run;
    short range = 0;
    float value = 0.0f;

    assert(zmod4710_sim_reset() == 0);
    assert(zmod4710_sim_remove(0) == 0);
    assert(zmod4710_sim_insert(3, "ZM-4704", 3) == 0);
    assert(zmod4710_sim_calibrate(3, 0, 4, 32000, -5) == 0);

    run = run_drive_channel();
    assert(run.status == 0);
    assert(strcmp(run.out, "slot 3 channel 0: 12 mA, gain 32000, offset -5\n") == 0);
    assert(zmod4710_sim_output(3, 0, &range, &value) == 0);
    assert(range == 4 && value == 12.0f);
}

static void tells_a_refused_write_and_reads_nothing_after_it(void) {
    struct run run;
    zmod4710_sim_call last;

    assert(zmod4710_sim_reset() == 0);
    assert(zmod4710_sim_refuse("WriteAO", ZMOD4710_SIM_ANY, 0, 7, 1) == 0);

    run = run_drive_channel();
    assert(run.status == 1);
    assert(strcmp(run.err, "zmod4710_WriteAO refused with result 7\n") == 0);
    assert(zmod4710_sim_call_count() == 2); /* Init(0), then the refused write */
    assert(zmod4710_sim_call_at(1, &last) == 0);
    assert(strcmp(last.name, "WriteAO") == 0 && last.refused_on_request == 1);
}

static void says_so_when_no_module_answers(void) {
    struct run run;

    assert(zmod4710_sim_reset() == 0);
    assert(zmod4710_sim_remove(0) == 0);

    run = run_drive_channel();
    assert(run.status == 1);
    assert(strcmp(run.err, "no analog-output module on the backplane\n") == 0);
    assert(zmod4710_sim_call_count() == 8);
}

int main(void) {
    assert(zmod4710_sim_use_memory() == 0);
    drives_channel_0_of_the_module_it_finds();
    tells_a_refused_write_and_reads_nothing_after_it();
    says_so_when_no_module_answers();
    printf("drive_channel: 3 cases passed\n");
    return 0;
}
