#include "fuzz_input.h"

#include <float.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <limits>

#include "arguments.h"

double FuzzBytes::raw_double() {
    uint64_t bits = 0;
    for (int k = 0; k < 8; ++k) bits = (bits << 8) | byte();
    double value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

double special_value(FuzzBytes& bytes) {
    static const double kValues[] = {
        0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 2.9, -2.9, 0.1, 4.7, 13.9, 255.0, 256.0, 257.0,
        NAN, INFINITY, -INFINITY, 1e300, -1e300, DBL_MAX, 3.5e38 /* beyond single */, FLT_MAX,
        4.9406564584124654e-324 /* smallest denormal */, -4.9406564584124654e-324,
        1.1125369292536007e-308 /* DBL_MIN / 2 */, 1e-45 /* a single denormal */,
        2147483647.0, 2147483647.5, 2147483648.0, 2147483649.0, -2147483648.0, -2147483648.5,
        -2147483649.0, 4294967295.0, 4294967296.0, 4294967297.0, 9.2233720368547758e18,
        -9.2233720368547758e18, 1.8446744073709552e19};
    constexpr uint8_t kCount = sizeof kValues / sizeof kValues[0];
    const uint8_t choice = bytes.byte();
    if (choice < kCount) return kValues[choice];
    if (choice < 128) return static_cast<double>(choice - kCount);  // whole numbers 0 .. 88
    if (choice < 192) return static_cast<double>(bytes.byte()) + (choice - 128) / 64.0;
    if (choice < 224) return -static_cast<double>(bytes.byte()) - (choice - 192) / 32.0;
    return bytes.raw_double();
}

double value_near(FuzzBytes& bytes, double anchor) {
    static const double kOffsets[] = {0.0,  -1.0, 1.0, -0.5, 0.5, 0.99,  -0.01,
                                      1.5,  -1.5, 0.01, 2.0, -2.0, 0.999999, -0.999999};
    constexpr uint8_t kCount = sizeof kOffsets / sizeof kOffsets[0];
    const uint8_t choice = bytes.byte();
    if (choice < 8 * kCount) return anchor + kOffsets[choice % kCount];
    return special_value(bytes);
}

namespace {

template <typename T>
T saturate(double value) {
    if (isnan(value)) return 0;
    if (value <= static_cast<double>(std::numeric_limits<T>::min()))
        return std::numeric_limits<T>::min();
    if (value >= static_cast<double>(std::numeric_limits<T>::max()))
        return std::numeric_limits<T>::max();
    return static_cast<T>(value);
}

float to_single(double value) {
    if (isfinite(value) && fabs(value) > FLT_MAX) return value > 0 ? INFINITY : -INFINITY;
    return static_cast<float>(value);
}

template <typename T>
void store(void* data, size_t index, T value) {
    memcpy(static_cast<unsigned char*>(data) + index * sizeof(T), &value, sizeof(T));
}

void set_in_block(void* data, mxClassID class_id, size_t index, double value) {
    switch (class_id) {
        case mxDOUBLE_CLASS: store(data, index, value); break;
        case mxSINGLE_CLASS: store(data, index, to_single(value)); break;
        case mxLOGICAL_CLASS: store<uint8_t>(data, index, value != 0.0); break;
        case mxCHAR_CLASS: store(data, index, saturate<uint16_t>(value)); break;
        case mxINT8_CLASS: store(data, index, saturate<int8_t>(value)); break;
        case mxUINT8_CLASS: store(data, index, saturate<uint8_t>(value)); break;
        case mxINT16_CLASS: store(data, index, saturate<int16_t>(value)); break;
        case mxUINT16_CLASS: store(data, index, saturate<uint16_t>(value)); break;
        case mxINT32_CLASS: store(data, index, saturate<int32_t>(value)); break;
        case mxUINT32_CLASS: store(data, index, saturate<uint32_t>(value)); break;
        case mxINT64_CLASS: store(data, index, saturate<int64_t>(value)); break;
        case mxUINT64_CLASS: store(data, index, saturate<uint64_t>(value)); break;
        default: break;  // no data
    }
}

bool is_numeric(mxClassID id) { return id == mxDOUBLE_CLASS || id == mxSINGLE_CLASS || (id >= mxINT8_CLASS && id <= mxUINT64_CLASS); }

// A shape of at most 1024 elements.
std::vector<size_t> any_shape(FuzzBytes& bytes) {
    static const size_t kHuge[] = {2147483647u, 2147483648u, 2147483649u,
                                   4294967295u, 4294967296u, 4294967297u};
    switch (bytes.below(8)) {
        case 0: return {1, 1};
        case 1: return {0, 0};
        case 2: return bytes.below(2) ? std::vector<size_t>{0, 1 + bytes.below(8)}
                                      : std::vector<size_t>{1 + bytes.below(8), 0};
        case 3: return {1, 2 + bytes.below(31)};
        case 4: return {2 + bytes.below(31), 1};
        case 5: return {bytes.below(33), bytes.below(33)};
        case 6: {
            // 3-D, and now and then with no planes at all.
            const size_t planes = bytes.below(7);
            return {1 + bytes.below(12), 1 + bytes.below(12), planes == 0 ? 0 : planes + 1};
        }
        default: {
            const size_t huge = kHuge[bytes.below(6)];
            switch (bytes.below(4)) {
                case 0: return {0, huge};
                case 1: return {huge, 0};
                case 2: return {0, huge, 2};
                default: return {huge, 1, 0};
            }
        }
    }
}

ArrayForm any_form(FuzzBytes& bytes) {
    static const mxClassID kClasses[] = {
        mxDOUBLE_CLASS, mxSINGLE_CLASS, mxINT8_CLASS,  mxUINT8_CLASS,  mxINT16_CLASS,
        mxUINT16_CLASS, mxINT32_CLASS,  mxUINT32_CLASS, mxINT64_CLASS, mxUINT64_CLASS,
        mxLOGICAL_CLASS, mxCHAR_CLASS,  mxCELL_CLASS,  mxSTRUCT_CLASS, mxFUNCTION_CLASS};
    ArrayForm form;
    form.class_id = kClasses[bytes.below(sizeof kClasses / sizeof kClasses[0])];
    const uint8_t flags = bytes.byte();
    form.complex = (flags & 1) != 0 && is_numeric(form.class_id);
    // The host keeps sparse arrays of double and logical class only.
    form.sparse = (flags & 2) != 0 &&
                  (form.class_id == mxDOUBLE_CLASS || form.class_id == mxLOGICAL_CLASS);
    form.dims = any_shape(bytes);
    return form;
}

// Fills a data block: a value per element from the bytes, one value for
// all, or values drawn from pseudo-random bytes, so a large array needs
// few input bytes to look varied.
void fill_block(void* data, mxClassID class_id, size_t count, FuzzBytes& bytes,
                ValueSource values) {
    if (data == nullptr) return;
    const uint8_t mode = bytes.below(3);
    if (mode == 1) {
        const double value = values(bytes);
        for (size_t k = 0; k < count; ++k) set_in_block(data, class_id, k, value);
        return;
    }
    std::vector<uint8_t> noise;
    if (mode == 2) {
        uint32_t state = 0x9e3779b9u ^ (static_cast<uint32_t>(bytes.byte()) << 8);
        noise.resize(count * 4);
        for (uint8_t& b : noise) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            b = static_cast<uint8_t>(state >> 24);
        }
    }
    FuzzBytes noise_bytes(noise.data(), noise.size());
    FuzzBytes& source = mode == 2 ? noise_bytes : bytes;
    for (size_t k = 0; k < count; ++k) set_in_block(data, class_id, k, values(source));
}

}  // namespace

mxArray* fuzz_argument(FuzzBytes& bytes, const ArrayForm& well_formed, ValueSource values) {
    const ArrayForm form = bytes.byte() < 224 ? well_formed : any_form(bytes);
    mxArray* array = testhost::make_array(form.class_id, form.dims, form.complex, form.sparse);
    if (!mxIsSparse(array)) {
        const size_t count = mxGetNumberOfElements(array);
        fill_block(mxGetData(array), form.class_id, count, bytes, values);
        fill_block(mxGetImagData(array), form.class_id, count, bytes, values);
    }
    return array;
}

void set_element(mxArray* array, size_t index, double value) {
    if (!mxIsSparse(array) && mxGetData(array) != nullptr && index < mxGetNumberOfElements(array))
        set_in_block(mxGetData(array), mxGetClassID(array), index, value);
}

double any_value(FuzzBytes& bytes, const double*) { return special_value(bytes); }

bool is_real_scalar(const mxArray* array) {
    const mxClassID id = mxGetClassID(array);
    return (is_numeric(id) || id == mxLOGICAL_CLASS) && !mxIsComplex(array) &&
           !mxIsSparse(array) && mxGetNumberOfElements(array) == 1;
}

std::vector<size_t> host_shape(std::vector<size_t> dims) {
    while (dims.size() < 2) dims.push_back(1);
    while (dims.size() > 2 && dims.back() == 1) dims.pop_back();
    return dims;
}

bool fuzz_statistics_on = false;

std::map<std::string, size_t>& fuzz_statistics() {
    static std::map<std::string, size_t> statistics;
    return statistics;
}

void count_arguments(const std::vector<mxArray*>& inputs) {
    if (!fuzz_statistics_on) return;
    for (const mxArray* input : inputs) {
        char label[64] = "class ";
        describe_class(input, label + 6, sizeof label - 6);
        ++fuzz_statistics()[label];
        const std::vector<size_t> dims = testhost::dimensions(input);
        const char* shape = mxGetNumberOfElements(input) == 0 ? "empty"
                            : dims.size() > 2                 ? "3-D"
                            : mxGetNumberOfElements(input) == 1 ? "scalar"
                            : dims[0] == 1 || dims[1] == 1    ? "vector"
                                                              : "matrix";
        ++fuzz_statistics()[std::string("shape ") + shape];
    }
}

void count_outcome(const testhost::CallResult& result) {
    if (!fuzz_statistics_on) return;
    ++fuzz_statistics()["outcome " + (result.ok ? std::string("ok") : result.error_id)];
}

testhost::Plugin load_fuzzed_plugin(const char* path) {
    std::string error;
    const testhost::Plugin plugin = testhost::load_plugin(path, &error);
    if (plugin.entry == nullptr) fuzz_failure("cannot load %s: %s", path, error.c_str());
    return plugin;
}

ArgumentCounts argument_counts(FuzzBytes& bytes, int input_count) {
    const uint8_t choice = bytes.byte();
    const int nrhs = choice < 192 ? input_count : choice % 13;
    const int nlhs = choice < 128 ? 1 : choice < 192 ? 0 : 2 + choice % 2;
    return ArgumentCounts{nrhs, nlhs};
}

void fuzz_failure(const char* format, ...) {
    va_list args;
    va_start(args, format);
    fprintf(stderr, "fuzz check failed: ");
    vfprintf(stderr, format, args);
    fprintf(stderr, "\n");
    va_end(args);
    abort();
}

void release_call(std::vector<mxArray*>& inputs, testhost::CallResult& result) {
    mxDestroyArray(result.result);
    result.result = nullptr;
    for (mxArray* input : inputs) mxDestroyArray(input);
    inputs.clear();
}
