/* ao_power_on run as a process, as a test of one's own that starts the tools
 * would run it: the backplane arranged in a state file with the control
 * interface, the tool given its answers on standard input, and what the module
 * holds read back afterwards. The exit status is 1 when a check failed.
 *
 *   ao_power_on_test PATH_OF_AO_POWER_ON
 *
 * It builds with Visual Studio 2008 as C, as the other C test does. */
#ifndef _WIN32
#define _POSIX_C_SOURCE 200112L
#endif
#include <stdio.h>
#include <stdlib.h>

#include "zmod4710_sim.h"

#ifdef _WIN32
#include <process.h>
#else
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

/* Beside the test, in the folder ctest runs it in. */
#define STATE "ao_power_on_test.json"
#define ANSWERS "ao_power_on_test.in"

/* Range 4 (4 ~ 20 mA), 12 mA on channel 2, power-on mode 1 with 4 mA, a key. */
static const char answers[] = "4\n12\n2\n1\n4\n\n";

static int failures = 0;

static void check(int passed, const char *what, int line) {
    if (!passed) {
        printf("line %d: %s\n", line, what);
        ++failures;
    }
}

#define CHECK(condition) check(condition, #condition, __LINE__)

/* Runs the program on STATE with its standard input from ANSWERS: its exit
 * status, or -1 when it could not be run. */
static int run_tool(const char *program) {
#ifdef _WIN32
    if (_putenv("ZMOD4710_SIM_STATE=" STATE) != 0 || freopen(ANSWERS, "r", stdin) == NULL)
        return -1;
    /* The command line is not quoted: the program ignores its arguments. */
    return (int)_spawnl(_P_WAIT, program, "ao_power_on", (const char *)NULL);
#else
    pid_t child;
    int status = 0;
    if (setenv("ZMOD4710_SIM_STATE", STATE, 1) != 0)
        return -1;
    fflush(stdout);
    child = fork();
    if (child == 0) {
        if (freopen(ANSWERS, "r", stdin) != NULL)
            execl(program, "ao_power_on", (char *)NULL);
        _exit(127);
    }
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
#endif
}

static int write_answers(void) {
    FILE *file = fopen(ANSWERS, "w");
    int written;
    if (file == NULL)
        return 0;
    written = fputs(answers, file) >= 0;
    return fclose(file) == 0 && written;
}

int main(int argc, char **argv) {
    short range = -1, mode = 0;
    float value = -1.0f;

    if (argc != 2) {
        printf("usage: ao_power_on_test PATH_OF_AO_POWER_ON\n");
        return 2;
    }
    remove(STATE);
    /* A ZM-4704 in slot 3 and nothing before it: the tool must find it there. */
    CHECK(zmod4710_sim_use_state(STATE) == ZMOD4710_SIM_OK);
    CHECK(zmod4710_sim_reset() == ZMOD4710_SIM_OK);
    CHECK(zmod4710_sim_remove(0) == ZMOD4710_SIM_OK);
    CHECK(zmod4710_sim_insert(3, "ZM-4704", 7) == ZMOD4710_SIM_OK);
    CHECK(write_answers());

    CHECK(run_tool(argv[1]) == 0);
    CHECK(zmod4710_sim_output(3, 2, &range, &value) == ZMOD4710_SIM_OK);
    CHECK(range == 4 && value == 12.0f);
    CHECK(zmod4710_sim_power_on_value(3, 2, &range, &value) == ZMOD4710_SIM_OK);
    CHECK(range == 4 && value == 4.0f);
    CHECK(zmod4710_sim_power_on_mode(3, &mode) == ZMOD4710_SIM_OK);
    CHECK(mode == 1);
    /* What the tool says the channel does at the next power-up. */
    CHECK(zmod4710_sim_power_cycle() == ZMOD4710_SIM_OK);
    CHECK(zmod4710_sim_output(3, 2, &range, &value) == ZMOD4710_SIM_OK);
    CHECK(range == 4 && value == 4.0f);

    remove(ANSWERS);
    remove(STATE);
    printf("ao_power_on: %d failed checks\n", failures);
    return failures == 0 ? 0 : 1;
}
