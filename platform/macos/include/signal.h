// The signal-set operations the worker team uses to block the host's
// signals in its threads, for 64-bit macOS, declared by us for the build
// without an Apple SDK. Darwin's numbers and sigset_t differ from Linux's.
//
// Checked against apple-oss-distributions/xnu, tag xnu-11417.101.15:
// - bsd/sys/signal.h: SIGILL 4, SIGTRAP 5, SIGFPE 8, SIGBUS 10, SIGSEGV 11,
//   SIGSYS 12; SIG_SETMASK 3 (Linux: 2); __DARWIN_NSIG 32;
// - bsd/sys/_types.h and bsd/sys/_types/_sigset_t.h: sigset_t is
//   __darwin_sigset_t, a __uint32_t (bit signo - 1 stands for signal signo);
// and against apple-oss-distributions/Libc, tag Libc-1725.0.11,
// include/signal.h: pthread_sigmask(int, const sigset_t *, sigset_t *)
// (its __DARWIN_ALIAS adds no suffix on 64-bit macOS, see pthread.h here);
// sigfillset and sigdelset are macros over the 32-bit mask there, as the
// inline functions below are, so nothing of them is imported.
#pragma once

#include "darwin_declarations.h"

DARWIN_C_BEGIN

typedef unsigned int sigset_t;

#define SIGILL 4
#define SIGTRAP 5
#define SIGFPE 8
#define SIGBUS 10
#define SIGSEGV 11
#define SIGSYS 12

#define SIG_SETMASK 3

int pthread_sigmask(int how, const sigset_t* set, sigset_t* old_set);

static inline int sigfillset(sigset_t* set) {
    *set = ~(sigset_t)0;
    return 0;
}

static inline int sigdelset(sigset_t* set, int signo) {
    if (signo >= 1 && signo <= 32) *set &= ~(1u << (signo - 1));
    return 0;
}

DARWIN_C_END
