// libut.so of the stand-in host: the host's answer to whether the user has
// interrupted the running call, which a test sets from another thread
// while the call runs. Only a test host linked against it offers
// utIsInterruptPending to the plug-ins it loads; without it the stand-in
// host, like any host without the function, is never asked.
#include <pthread.h>

#include "standin.h"

namespace {

bool interrupt_pending = false;
uint64_t questions = 0;
uint64_t questions_elsewhere = 0;  // from a thread other than the host's
pthread_t host_thread = pthread_self();

}  // namespace

STANDIN_EXPORT bool utIsInterruptPending(void) {
    __atomic_add_fetch(&questions, 1, __ATOMIC_RELAXED);
    if (!pthread_equal(pthread_self(), host_thread))
        __atomic_add_fetch(&questions_elsewhere, 1, __ATOMIC_RELAXED);
    return __atomic_load_n(&interrupt_pending, __ATOMIC_ACQUIRE);
}

STANDIN_EXPORT void standin_reset_interrupt(void) {
    host_thread = pthread_self();
    __atomic_store_n(&questions, 0, __ATOMIC_RELAXED);
    __atomic_store_n(&questions_elsewhere, 0, __ATOMIC_RELAXED);
    __atomic_store_n(&interrupt_pending, false, __ATOMIC_RELEASE);
}

STANDIN_EXPORT void standin_set_interrupt_pending(bool pending) {
    __atomic_store_n(&interrupt_pending, pending, __ATOMIC_RELEASE);
}

STANDIN_EXPORT uint64_t standin_interrupt_questions(void) {
    return __atomic_load_n(&questions, __ATOMIC_RELAXED);
}

STANDIN_EXPORT uint64_t standin_interrupt_questions_elsewhere(void) {
    return __atomic_load_n(&questions_elsewhere, __ATOMIC_RELAXED);
}
