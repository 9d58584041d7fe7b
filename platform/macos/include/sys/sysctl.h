// sysctlbyname, which the plug-ins ask for the processors the system keeps
// active (hw.activecpu) and, on x86_64, whether a thread may use AVX-512
// (hw.optional.avx512f), for 64-bit macOS; declared by us for the build
// without an Apple SDK.
//
// Checked against apple-oss-distributions/xnu, tag xnu-11417.101.15:
// bsd/sys/sysctl.h declares
//   int sysctlbyname(const char *, void *, size_t *, void *, size_t);
// and bsd/kern/kern_mib.c makes hw.activecpu and hw.optional.avx512f
// CTLTYPE_INT values (an int each).
#pragma once

#include <stddef.h>

#include "darwin_declarations.h"

DARWIN_C_BEGIN

int sysctlbyname(const char* name, void* old_value, size_t* old_size, void* new_value,
                 size_t new_size);

DARWIN_C_END
