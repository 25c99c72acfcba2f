/*
 * The least a recorded call can cost: a fake zmod4710_WriteAO as a C test
 * would write one, which takes a mutex, stores its four arguments in a ring of
 * 65,536 and lets the mutex go.
 */
#include "recording_fake.h"

#include <pthread.h>

#define RECORDED_CALLS 65536u

struct recorded_call {
    int slot;
    int channel;
    short range;
    float value;
};

static pthread_mutex_t recorded_lock = PTHREAD_MUTEX_INITIALIZER;
static struct recorded_call recorded[RECORDED_CALLS];
static unsigned int next_recorded;

int recording_fake_write(int slot, int channel, short range, float value) {
    struct recorded_call *call;
    pthread_mutex_lock(&recorded_lock);
    call = &recorded[next_recorded++ % RECORDED_CALLS];
    call->slot = slot;
    call->channel = channel;
    call->range = range;
    call->value = value;
    pthread_mutex_unlock(&recorded_lock);
    return 0;
}
