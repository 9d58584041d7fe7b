// The one header the plug-in sources include for the host. Every difference
// between the hosts we build for (our declarations for Linux, Windows and
// macOS, GNU Octave's own headers) is settled here or in mex_host.h, so the
// plug-in sources have no host conditionals.
#pragma once

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>

#include "core_call.h"

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

// A new real array of class `class_id` and dims[0] x dims[1] x dims[2];
// each extent is below 2^31.
inline mxArray* host_create_numeric_volume(const int32_t dims[3], mxClassID class_id) {
    const host_dimension_t host_dims[3] = {static_cast<host_dimension_t>(dims[0]),
                                           static_cast<host_dimension_t>(dims[1]),
                                           static_cast<host_dimension_t>(dims[2])};
    return mxCreateNumericArray(3, host_dims, class_id, mxREAL);
}

// Raises a host error with a ready-made message; never returns. The host
// unwinds past the caller's stack, so the caller frees what it owns first.
[[noreturn]] inline void host_raise(const char* identifier, const char* message) {
    mexErrMsgIdAndTxt(identifier, "%s", message);
    __builtin_unreachable();
}

// --- the user's interrupt (Ctrl-C) ------------------------------------------
// A long call asks the host, on the host's calling thread only, whether the
// user has interrupted it; if so it joins its threads, frees what it owns
// and leaves through host_leave_interrupted. How each host answers is in
// host_interrupt.cpp: GNU Octave through its interrupt state (quit.h);
// MATLAB through utIsInterruptPending of its libut, found at run time in the
// host process, since no needed library may be added (a host without it,
// such as our stand-in by default, is never asked); the 32-bit Windows build
// does not ask, as its imports are fixed.
struct HostInterruptQuery {
    bool (*pending)();  // null where the host offers no way to ask
};

// The host's way to ask, looked up once per call.
HostInterruptQuery host_interrupt_query();

// Whether the user has interrupted the call; `query` is the call's
// HostInterruptQuery, whose `pending` is not null.
inline bool host_interrupt_pending(void* query) {
    return static_cast<const HostInterruptQuery*>(query)->pending();
}

// The numeric cores' interrupt check that asks through `query`, at the
// cores' own pace; never asked where the host offers no way to ask.
inline InterruptCheck host_interrupt_check(HostInterruptQuery* query) {
    return {query->pending != nullptr ? host_interrupt_pending : nullptr, query, 0};
}

// Leaves the call as the host's own interrupt does: GNU Octave's interrupt,
// or the error `identifier` with `message` in a host that has no other way
// to leave. Called with every thread joined and the scratch memory freed.
[[noreturn]] void host_leave_interrupted(const char* identifier, const char* message);

// --- errors and warnings with printf-style messages ---------------------------
#if defined(_WIN32)

// Raises `identifier` with a printf-style message; never returns. Owned
// memory must be released before: the host unwinds past the caller. The
// Windows plug-ins import from their runtime only what the numbers need
// (the 32-bit one nothing but malloc, free, exp and log), so the host
// formats the message; it reads %zu and %lld as the C library does.
template <typename... Args>
[[noreturn]] inline void raise_error(const char* identifier, const char* format, Args... args) {
    mexErrMsgIdAndTxt(identifier, format, args...);
}

// Issues the warning `identifier` with a printf-style message; the host
// shows it, or raises it as an error where its user asked for that.
template <typename... Args>
inline void raise_warning(const char* identifier, const char* format, Args... args) {
    mexWarnMsgIdAndTxt(identifier, format, args...);
}

#else

struct MessageText {
    char text[1024];
};

inline MessageText format_message(const char* format, va_list args) {
    MessageText message;
    vsnprintf(message.text, sizeof message.text, format, args);
    return message;
}

// Raises `identifier` with a printf-style message; never returns. Owned
// memory must be released before: the host unwinds past the caller.
[[noreturn]] inline void raise_error(const char* identifier, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
[[noreturn]] inline void raise_error(const char* identifier, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const MessageText message = format_message(format, args);
    va_end(args);
    host_raise(identifier, message.text);
}

// Issues the warning `identifier` with a printf-style message; the host
// shows it, or raises it as an error where its user asked for that.
inline void raise_warning(const char* identifier, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
inline void raise_warning(const char* identifier, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const MessageText message = format_message(format, args);
    va_end(args);
    mexWarnMsgIdAndTxt(identifier, "%s", message.text);
}

#endif

// --- the progress flag's conversion ---------------------------------------------
// The 32-bit Windows build converts the progress flag as an unsigned 32-bit
// integer, the 64-bit builds as a signed one (arguments.h, truncate_flag).
#if defined(_WIN32) && !defined(_WIN64)
constexpr bool kProgressFlagIsUnsigned = true;
#else
constexpr bool kProgressFlagIsUnsigned = false;
#endif
