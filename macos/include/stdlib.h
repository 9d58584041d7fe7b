// The heap functions the plug-ins call, for 64-bit macOS, declared by us
// for the build without an Apple SDK.
//
// Checked against apple-oss-distributions/libmalloc, tag libmalloc-792.1.1,
// include/malloc/_malloc.h (which the SDK's stdlib.h includes):
//   void *malloc(size_t __size);
//   void free(void *);
#pragma once

#include <stddef.h>

#if !defined(__APPLE__) || !defined(__LP64__)
#error "these declarations are for 64-bit macOS only"
#endif

#ifdef __cplusplus
extern "C" {
#endif

void* malloc(size_t size);
void free(void* block);

#ifdef __cplusplus
}  // extern "C"
#endif
