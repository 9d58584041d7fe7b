// The POSIX thread functions the worker team calls, and their types, for
// 64-bit macOS (arm64 and x86_64), declared by us for the build without an
// Apple SDK (macos/CMakeLists.txt). A Mac's own SDK has the full header.
//
// Checked against apple-oss-distributions/libpthread, tag libpthread-539:
// - include/sys/_pthread/_pthread_types.h: with __LP64__ a mutex is a long
//   signature and 56 opaque bytes (__PTHREAD_MUTEX_SIZE__), a condition
//   variable a long and 40 (__PTHREAD_COND_SIZE__); pthread_t is a pointer
//   to struct _opaque_pthread_t;
// - include/pthread/pthread.h: the prototypes below. pthread_cond_init,
//   pthread_cond_wait and pthread_join carry __DARWIN_ALIAS or
//   __DARWIN_ALIAS_C, which on 64-bit macOS add no suffix to the symbol:
//   apple-oss-distributions/xnu, tag xnu-11417.101.15, bsd/sys/cdefs.h sets
//   __DARWIN_ONLY_UNIX_CONFORMANCE to 1 for x86_64 and arm64 (so
//   __DARWIN_SUF_UNIX03 is empty) and __DARWIN_NON_CANCELABLE to 0 (so
//   __DARWIN_SUF_NON_CANCELABLE is empty).
// The attribute types are only ever passed as null pointers here, so they
// stay incomplete.
#pragma once

#include "darwin_declarations.h"

DARWIN_C_BEGIN

struct _opaque_pthread_t;
typedef struct _opaque_pthread_t* pthread_t;

typedef struct _opaque_pthread_mutex_t {
    long __sig;
    char __opaque[56];
} pthread_mutex_t;

typedef struct _opaque_pthread_cond_t {
    long __sig;
    char __opaque[40];
} pthread_cond_t;

typedef struct _opaque_pthread_attr_t pthread_attr_t;
typedef struct _opaque_pthread_mutexattr_t pthread_mutexattr_t;
typedef struct _opaque_pthread_condattr_t pthread_condattr_t;

int pthread_create(pthread_t* __restrict thread, const pthread_attr_t* __restrict attr,
                   void* (*start)(void*), void* __restrict argument);
int pthread_join(pthread_t thread, void** result);

int pthread_mutex_init(pthread_mutex_t* __restrict mutex,
                       const pthread_mutexattr_t* __restrict attr);
int pthread_mutex_destroy(pthread_mutex_t* mutex);
int pthread_mutex_lock(pthread_mutex_t* mutex);
int pthread_mutex_unlock(pthread_mutex_t* mutex);

int pthread_cond_init(pthread_cond_t* __restrict cond, const pthread_condattr_t* __restrict attr);
int pthread_cond_destroy(pthread_cond_t* cond);
int pthread_cond_wait(pthread_cond_t* __restrict cond, pthread_mutex_t* __restrict mutex);
int pthread_cond_broadcast(pthread_cond_t* cond);
int pthread_cond_signal(pthread_cond_t* cond);

DARWIN_C_END

#if defined(__cplusplus) && __cplusplus >= 201103L
static_assert(sizeof(pthread_mutex_t) == 64, "a 64-bit Darwin mutex is 64 bytes");
static_assert(sizeof(pthread_cond_t) == 48, "a 64-bit Darwin condition variable is 48 bytes");
static_assert(sizeof(pthread_t) == 8, "pthread_t is a pointer");
#endif
