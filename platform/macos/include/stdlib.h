// The heap functions and the environment lookup the plug-ins call, for
// 64-bit macOS, declared by us for the build without an Apple SDK.
//
// Checked against apple-oss-distributions/libmalloc, tag libmalloc-792.1.1,
// include/malloc/_malloc.h (which the SDK's stdlib.h includes):
//   void *malloc(size_t __size);
//   void free(void *);
// and apple-oss-distributions/Libc, include/stdlib.h:
//   char *getenv(const char *);
#pragma once

#include <stddef.h>

#include "darwin_declarations.h"

DARWIN_C_BEGIN

void* malloc(size_t size);
void free(void* block);
char* getenv(const char* name);

DARWIN_C_END
