// runs_32_bit_programs: exits 0 if this machine's kernel executes 32-bit
// x86 programs, which the 32-bit wine loader is; otherwise says why and
// exits 77, which ctest reads as "skipped".
#include <stdio.h>

#include "wine_support.h"

int main() {
    std::string reason;
    if (wine::kernel_runs_32_bit_programs(&reason)) return 0;
    printf("skipped: %s; the 32-bit wine loader cannot run here\n", reason.c_str());
    return 77;
}
