/* drive_channel: the example as a program of its own. */
#include "drive_channel.h"

int main(void) {
    return drive_channel(stdout, stderr);
}
