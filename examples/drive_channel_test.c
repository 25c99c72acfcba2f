/* drive_channel's test cases (drive_channel_cases.h) under a plain C harness:
 * each check that fails is told with its case and line, and the exit status is
 * 1 when any did. */
#include <stdio.h>
#include <string.h>

static const char *case_name = "";
static int failures = 0;

static void check(int passed, const char *what, int line) {
    if (!passed) {
        printf("%s, line %d: %s\n", case_name, line, what);
        ++failures;
    }
}

#define CHECK_INT(got, wanted)                                                                     \
    check((long)(got) == (long)(wanted), #got " is not " #wanted, __LINE__)
#define CHECK_TEXT(got, wanted) check(strcmp(got, wanted) == 0, #got " is not " #wanted, __LINE__)

#include "drive_channel_cases.h"

int main(void) {
    size_t index;
    if (zmod4710_sim_use_memory() != 0) {
        printf("no backplane in memory\n");
        return 1;
    }
    for (index = 0; index < DRIVE_CHANNEL_CASE_COUNT; ++index) {
        case_name = drive_channel_cases[index].name;
        CHECK_INT(zmod4710_sim_reset(), 0);
        drive_channel_cases[index].run();
    }
    printf("drive_channel: %d failed checks in %d cases\n", failures,
           (int)DRIVE_CHANNEL_CASE_COUNT);
    return failures == 0 ? 0 : 1;
}
