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

#if !defined(__APPLE__) || !defined(__LP64__)
#error "these declarations are for 64-bit macOS only"
#endif

#ifdef __cplusplus
extern "C" {
#endif

void* memcpy(void* __restrict destination, const void* __restrict source, size_t size);
void* memset(void* destination, int value, size_t size);

#ifdef __cplusplus
}  // extern "C"
#endif
