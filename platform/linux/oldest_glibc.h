// Binds the C library functions the Linux plug-ins call to their oldest
// symbol versions, so that the plug-ins load on every x86-64 and 64-bit
// Arm glibc from 2.17 on, the oldest that the hosts' Linux releases still run on. The
// build includes this file ahead of every plug-in source (-include).
//
// Newer glibc releases added versions of these functions: exp@GLIBC_2.29
// and logf@GLIBC_2.27 dropped the old error-handling wrappers, which never
// change a result; pthread_create@GLIBC_2.34 and its neighbours moved from
// libpthread into libc. The GLIBC_2.2.5 versions are still in every glibc
// and give the same results; before 2.34 the pthread ones come from
// libpthread.so.0, which the plug-ins list among their needed libraries.
// A directive for a function a source does not call has no effect.
#pragma once

#if defined(__linux__) && defined(__x86_64__)
__asm__(".symver exp,exp@GLIBC_2.2.5");
__asm__(".symver logf,logf@GLIBC_2.2.5");
__asm__(".symver pthread_create,pthread_create@GLIBC_2.2.5");
__asm__(".symver pthread_join,pthread_join@GLIBC_2.2.5");
__asm__(".symver pthread_sigmask,pthread_sigmask@GLIBC_2.2.5");
#elif defined(__linux__) && defined(__aarch64__)
// 64-bit Arm glibc begins at 2.17, whose versions are the oldest there.
__asm__(".symver exp,exp@GLIBC_2.17");
__asm__(".symver logf,logf@GLIBC_2.17");
__asm__(".symver pthread_create,pthread_create@GLIBC_2.17");
__asm__(".symver pthread_join,pthread_join@GLIBC_2.17");
__asm__(".symver pthread_sigmask,pthread_sigmask@GLIBC_2.17");
#endif
