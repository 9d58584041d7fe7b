// The formatting function the plug-ins write their messages with, for
// 64-bit macOS, declared by us for the build without an Apple SDK.
//
// Checked against apple-oss-distributions/Libc, tag Libc-1725.0.11,
// include/stdio.h:
//   int vsnprintf(char * __restrict __str, size_t __size,
//                 const char * __restrict __format, va_list) __printflike(3, 0);
#pragma once

#include <stdarg.h>
#include <stddef.h>

#include "darwin_declarations.h"

DARWIN_C_BEGIN

int vsnprintf(char* __restrict text, size_t size, const char* __restrict format, va_list args)
    __attribute__((format(printf, 3, 0)));

DARWIN_C_END
