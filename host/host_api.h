// The one header the plug-in sources include for the host. Every difference
// between the hosts we build for (our declarations for Linux, Windows and
// macOS, GNU Octave's own headers) is settled here or in mex_host.h, so the
// plug-in sources have no host conditionals.
#pragma once

#include <stdint.h>

#if defined(MEX_HOST_OCTAVE)

#include "mex.h"
// Built with -fvisibility=hidden like our own builds: the entry point is the
// plug-in's only export, so two plug-ins loaded into one Octave never see
// each other's helpers.
#define MEX_ENTRY_POINT extern "C" __attribute__((visibility("default")))

// Octave's mxGetPr is for double arrays only; mxGetData reaches any class.
inline float* host_single_data(const mxArray* array) {
    return static_cast<float*>(mxGetData(array));
}
typedef mwSize host_dimension_t;

#else

#include "mex_host.h"

// The array library hands out a single array's data through mxGetPr too.
inline float* host_single_data(const mxArray* array) {
    return reinterpret_cast<float*>(mxGetPr(array));
}
typedef mxDimension host_dimension_t;

#endif

// Entry k (0-based) of an array's dimension vector, widened so that every
// host's size type fits. The caller keeps k below the number of dimensions,
// which is at least 2 for every host array.
inline int64_t host_dimension(const mxArray* array, int k) {
    return static_cast<int64_t>(mxGetDimensions(array)[k]);
}

// The number of entries of an array's dimension vector: 2 for a matrix.
inline int host_dimension_count(const mxArray* array) {
    return static_cast<int>(mxGetNumberOfDimensions(array));
}

// A new real double array of dims[0] x dims[1] x dims[2]; each extent is
// below 2^31.
inline mxArray* host_create_double_volume(const int32_t dims[3]) {
    const host_dimension_t host_dims[3] = {static_cast<host_dimension_t>(dims[0]),
                                           static_cast<host_dimension_t>(dims[1]),
                                           static_cast<host_dimension_t>(dims[2])};
    return mxCreateNumericArray(3, host_dims, mxDOUBLE_CLASS, mxREAL);
}

// Raises a host error with a ready-made message; never returns. The host
// unwinds past the caller's stack, so the caller frees what it owns first.
[[noreturn]] inline void host_raise(const char* identifier, const char* message) {
    mexErrMsgIdAndTxt(identifier, "%s", message);
    __builtin_unreachable();
}
