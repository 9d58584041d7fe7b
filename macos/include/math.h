// The math functions the plug-ins call, for 64-bit macOS, declared by us
// for the build without an Apple SDK; they come from libSystem
// (libsystem_m).
//
// Checked against apple-oss-distributions/Libm, tag Libm-2026:
// Source/ARM/math.h and Source/Intel/math.h declare
//   extern double exp ( double );
//   extern float logf ( float );
#pragma once

#if !defined(__APPLE__) || !defined(__LP64__)
#error "these declarations are for 64-bit macOS only"
#endif

#ifdef __cplusplus
extern "C" {
#endif

double exp(double x);
float logf(float x);

#ifdef __cplusplus
}  // extern "C"
#endif
