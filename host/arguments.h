// Argument checks and conversions shared by the plug-ins' entry points.
// Header-only and free of the C++ runtime, like the plug-ins themselves.
#pragma once

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "host_api.h"

// The host's name of an array's class, with "complex " or "sparse " before
// it where that applies, for error messages.
inline void describe_class(const mxArray* array, char* text, size_t size) {
    static const char* const kNames[] = {"unknown", "cell",   "struct", "logical", "char",
                                         "void",    "double", "single", "int8",    "uint8",
                                         "int16",   "uint16", "int32",  "uint32",  "int64",
                                         "uint64",  "function handle"};
    const int id = static_cast<int>(mxGetClassID(array));
    const char* name = id >= 0 && id < static_cast<int>(sizeof kNames / sizeof kNames[0])
                           ? kNames[id]
                           : "unknown";
    snprintf(text, size, "%s%s%s", mxIsComplex(array) ? "complex " : "",
             mxIsSparse(array) ? "sparse " : "", name);
}

inline bool is_numeric_or_logical_class(mxClassID id) {
    return id == mxLOGICAL_CLASS || id == mxDOUBLE_CLASS || id == mxSINGLE_CLASS ||
           (id >= mxINT8_CLASS && id <= mxUINT64_CLASS);
}

inline bool is_real_full(const mxArray* array) {
    return !mxIsComplex(array) && !mxIsSparse(array);
}

// Truncates toward zero to a signed 32-bit integer. Returns false for NaN
// and for values whose truncation lies outside the 32-bit range, where a
// plain conversion would be undefined.
inline bool truncate_to_int32(double value, int32_t* result) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return false;
    *result = static_cast<int32_t>(value);
    return true;
}

// A number as the host's users write it: NaN, Inf, -Inf, whole numbers in
// full (2147483648, not 2.14748e+09), others with as many digits as it takes
// to read the value back.
struct NumberText {
    char text[32];
};
inline NumberText number_text(double value) {
    NumberText result;
    if (value != value) {
        snprintf(result.text, sizeof result.text, "NaN");
    } else if (value > 1.7976931348623157e308 || value < -1.7976931348623157e308) {
        snprintf(result.text, sizeof result.text, value > 0 ? "Inf" : "-Inf");
    } else {
        snprintf(result.text, sizeof result.text, "%.15g", value);
        if (strtod(result.text, nullptr) != value)
            snprintf(result.text, sizeof result.text, "%.17g", value);
    }
    return result;
}

// Raises `identifier` with a printf-style message; never returns. Owned
// memory must be released before: the host unwinds past the caller.
[[noreturn]] inline void raise_error(const char* identifier, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
[[noreturn]] inline void raise_error(const char* identifier, const char* format, ...) {
    char message[512];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    host_raise(identifier, message);
}
