// Argument checks and conversions shared by the plug-ins' entry points.
// Header-only and free of the C++ runtime, like the plug-ins themselves.
#pragma once

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>

#include "host_api.h"
#include "../platform/processor_family.h"

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
    // Joined by hand: the 32-bit Windows plug-in imports no formatting
    // function from its runtime.
    const char* const parts[3] = {mxIsComplex(array) ? "complex " : "",
                                  mxIsSparse(array) ? "sparse " : "", name};
    if (size == 0) return;
    size_t used = 0;
    for (const char* part : parts)
        for (; *part != '\0' && used + 1 < size; ++part) text[used++] = *part;
    text[used] = '\0';
}

// The names of an entry point's arguments, "a, b, c", for the message that
// lists them all.
inline void join_names(const char* const* names, int count, char* text, size_t size) {
    if (size == 0) return;
    size_t used = 0;
    auto put = [&](const char* part) {
        for (; *part != '\0' && used + 1 < size; ++part) text[used++] = *part;
    };
    for (int k = 0; k < count; ++k) {
        if (k > 0) put(", ");
        put(names[k]);
    }
    text[used] = '\0';
}

// An array's size as the host's users write it: "1x2", "3x3x2".
struct SizeText {
    char text[96];
};

inline SizeText size_text(const mxArray* array) {
    SizeText result{};
    size_t used = 0;
    const int count = host_dimension_count(array);
    for (int k = 0; k < count && used + 22 < sizeof result.text; ++k) {
        if (k > 0) result.text[used++] = 'x';
        char digits[20];
        int length = 0;
        for (uint64_t extent = static_cast<uint64_t>(host_dimension(array, k));
             length == 0 || extent != 0; extent /= 10)
            digits[length++] = static_cast<char>('0' + extent % 10);
        while (length > 0) result.text[used++] = digits[--length];
    }
    result.text[used] = '\0';
    return result;
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

// A number as the host's users write it in an error message: NaN, Inf and
// -Inf by name, others as printf's "%.15g" writes them (2147483648, 0.5,
// 1e+300). Formatted here rather than by the C library, which the 32-bit
// Windows plug-in may not import from; the digits come from long double
// arithmetic, exact for whole numbers below 10^15 and within a unit of the
// 15th digit otherwise.
struct NumberText {
    char text[32];
};

// On x86, long double is the x87 unit's, whose precision control the host
// process sets: Linux runs it at 64 bits, Windows at 53. The digits of an
// error message must not depend on the host, so number_text computes at 64
// bits and restores the host's setting after (FullX87Precision, the
// processor family's). Nothing else in the plug-ins touches the control
// word.

inline NumberText number_text(double value) {
    [[maybe_unused]] const FullX87Precision precision;
    value = FullX87Precision::after_setting(value);
    NumberText result{};
    char* out = result.text;
    auto put = [&out](const char* text) {
        while (*text != '\0') *out++ = *text++;
    };
    auto put_digits = [&out](uint64_t digits, int count) {  // `count` digits, zero-padded
        for (int k = count - 1; k >= 0; --k, digits /= 10) out[k] = static_cast<char>('0' + digits % 10);
        out += count;
    };
    if (value != value) {
        put("NaN");
        return result;
    }
    if (value < 0) {
        put("-");
        value = -value;
    }
    if (value > 1.7976931348623157e308) {
        put("Inf");
        return result;
    }
    if (value == 0) {
        put("0");
        return result;
    }
    // Fifteen significant digits: value = digits * 10^(exponent - 14).
    int exponent = 0;
    long double scaled = value;
    while (scaled >= 10.0L) scaled /= 10.0L, ++exponent;
    while (scaled < 1.0L) scaled *= 10.0L, --exponent;
    uint64_t digits = static_cast<uint64_t>(scaled * 1e14L + 0.5L);
    if (digits >= 1000000000000000ull) digits /= 10, ++exponent;
    int length = 15;
    while (length > 1 && digits % 10 == 0) digits /= 10, --length;
    uint64_t lead = 1;  // 10^(length - 1), the place of the leading digit
    for (int k = 1; k < length; ++k) lead *= 10;
    if (exponent < -4 || exponent >= 15) {
        put_digits(digits / lead, 1);
        if (length > 1) {
            put(".");
            put_digits(digits % lead, length - 1);
        }
        put(exponent < 0 ? "e-" : "e+");
        const int magnitude = exponent < 0 ? -exponent : exponent;
        put_digits(static_cast<uint64_t>(magnitude), magnitude >= 100 ? 3 : 2);
    } else if (exponent >= length - 1) {  // a whole number
        put_digits(digits, length);
        for (int k = length - 1; k < exponent; ++k) put("0");
    } else if (exponent >= 0) {
        uint64_t point = 1;  // 10^(digits after the point)
        for (int k = exponent + 1; k < length; ++k) point *= 10;
        put_digits(digits / point, exponent + 1);
        put(".");
        put_digits(digits % point, length - 1 - exponent);
    } else {
        put("0.");
        for (int k = -1; k > exponent; --k) put("0");
        put_digits(digits, length);
    }
    return result;
}



// The progress flag's 32-bit integer, truncated toward zero. The 64-bit
// builds convert it as a signed integer: NaN and values outside the signed
// range convert to -2^31. The 32-bit Windows build converts it as an
// unsigned one: a flag of 2^31 or more has 2^31 taken off before the
// truncation and put back after it; NaN and flags below -2^31 convert to
// 2^31, flags of 2^32 or more to 0.
inline uint32_t truncate_flag(double value) {
    const bool high = kProgressFlagIsUnsigned && value >= 2147483648.0;
    int32_t truncated;
    if (!truncate_to_int32(high ? value - 2147483648.0 : value, &truncated)) truncated = INT32_MIN;
    return static_cast<uint32_t>(truncated) + (high ? 0x80000000u : 0u);
}

// Raises `empty_id` or `size_id`, naming argument `slot` (0-based) as
// `name`, unless `array` holds exactly one element.
inline void require_one_element(const mxArray* array, int slot, const char* name,
                                const char* empty_id, const char* size_id) {
    const size_t elements = mxGetNumberOfElements(array);
    if (elements == 0) raise_error(empty_id, "argument %d (%s) must not be empty", slot + 1, name);
    if (elements > 1)
        raise_error(size_id, "argument %d (%s) must be a scalar, was %s", slot + 1, name,
                    size_text(array).text);
}
