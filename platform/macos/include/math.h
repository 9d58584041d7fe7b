// The math functions the plug-ins call, for 64-bit macOS, declared by us
// for the build without an Apple SDK; they come from libSystem
// (libsystem_m).
//
// Checked against apple-oss-distributions/Libm, tag Libm-2026:
// Source/ARM/math.h and Source/Intel/math.h declare
//   extern double exp ( double );
//   extern float logf ( float );
#pragma once

#include "darwin_declarations.h"

DARWIN_C_BEGIN

double exp(double x);
float logf(float x);

DARWIN_C_END
