// The processor's instruction-set choice for the fast paths.
//
// Both numeric cores keep their plain loops as the reference and add fast
// paths that give the same result bits: the same operations in the same
// precision and order, only vectorised and split across threads. Which
// paths a build has is its processor family's (platform/processor_family.h):
// where FAST_PATHS_AVAILABLE is 0 every path runs the plain loops.
#pragma once

#include <stdint.h>

#include "cpu_path.h"
#include "../platform/processor_family.h"

// Whether this build and this processor can run `path`.
bool cpu_path_supported(CpuPath path);
// kAutomatic resolved to the widest path supported; any other path as given.
CpuPath resolve_cpu_path(CpuPath path);
const char* cpu_path_name(CpuPath path);
