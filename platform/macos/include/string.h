// The memory functions the plug-ins call (and the compiler may call for a
// copy or a fill), for 64-bit macOS, declared by us for the build without
// an Apple SDK.
//
// Checked against apple-oss-distributions/Libc, tag Libc-1725.0.11,
// include/_string.h:
//   void *memcpy(void *__dst, const void *__src, size_t __n);
//   void *memset(void *__b, int __c, size_t __len);
#pragma once

#include <stddef.h>

#include "darwin_declarations.h"

DARWIN_C_BEGIN

void* memcpy(void* __restrict destination, const void* __restrict source, size_t size);
void* memset(void* destination, int value, size_t size);

DARWIN_C_END
