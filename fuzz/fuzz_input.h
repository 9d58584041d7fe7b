// Argument lists for the fuzz targets, built from the fuzzer's bytes.
//
// The bytes are read front to back. Once they run out every read gives 0,
// and 0 always picks the plain, well-formed choice, so a short input is an
// ordinary call and each further byte steers one decision away from it:
// another argument count, another class, complexity, sparsity or shape,
// another value.
//
// Arrays stay small (at most 1024 elements) so that one call takes well
// under a millisecond; extents near 2^31 appear only in shapes with no
// elements.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "standin.h"
#include "test_host.h"

class FuzzBytes {
public:
    FuzzBytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
    // 0 .. bound - 1, from one byte (bound <= 256).
    uint32_t below(uint32_t bound) { return byte() % bound; }
    // Eight bytes as they are: any bit pattern of a double.
    double raw_double();

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

// A value for a numeric argument: a whole number, a fraction, a signed zero,
// NaN, an infinity, a huge or denormal magnitude, an edge of the signed or
// unsigned 32-bit range, or any bit pattern.
double special_value(FuzzBytes& bytes);
// plain(choice) for a first byte `choice` below `threshold`, otherwise a
// special value: the usual shape of a ValueSource.
template <typename Plain>
double plain_or_special(FuzzBytes& bytes, uint8_t threshold, Plain plain) {
    const uint8_t choice = bytes.byte();
    return choice < threshold ? plain(choice) : special_value(bytes);
}
// A value at or next to `anchor` (a row count, a first or last row): the
// anchor itself, 1 below or above, halves, and values just inside and
// outside the next whole number.
double value_near(FuzzBytes& bytes, double anchor);

// Where an argument's values come from.
struct ValueSource {
    double (*draw)(FuzzBytes& bytes, const double* context);
    const double* context;  // passed to draw, for instance the extents of the image
    double operator()(FuzzBytes& bytes) const { return draw(bytes, context); }
};

struct ArrayForm {
    mxClassID class_id = mxDOUBLE_CLASS;
    bool complex = false;
    bool sparse = false;
    std::vector<size_t> dims{1, 1};
};

// One argument: mostly of its well-formed form, otherwise of any class
// (numeric, logical, char, cell, struct, ...), complex or real, sparse or
// full, and of any shape: empty, scalar, vector, matrix, 3-D, or a shape
// with no elements and an extent at or beyond 2^31.
mxArray* fuzz_argument(FuzzBytes& bytes, const ArrayForm& well_formed, ValueSource values);
// Element `index` of a numeric, logical or char array set to `value`,
// converted to its class (integers saturate, NaN becomes 0).
void set_element(mxArray* array, size_t index, double value);

// A value from special_value, as a ValueSource.
double any_value(FuzzBytes& bytes, const double* context);

// A real, full array of one element of a numeric or logical class: what
// the plug-ins accept as a scalar.
bool is_real_scalar(const mxArray* array);
// The dimension vector as the host keeps it: at least two entries, no
// trailing singletons beyond the second.
std::vector<size_t> host_shape(std::vector<size_t> dims);

// What the fuzz inputs covered: classes and shapes of the arguments passed,
// outcomes (error identifiers or "ok"), counted by label while
// fuzz_statistics_on is set (the replay sets it on request).
extern bool fuzz_statistics_on;
std::map<std::string, size_t>& fuzz_statistics();
void count_arguments(const std::vector<mxArray*>& inputs);
void count_outcome(const testhost::CallResult& result);

// The plug-in under test; failing to load it aborts.
testhost::Plugin load_fuzzed_plugin(const char* path);

// Mostly `input_count` inputs and one output; otherwise 0 to 12 inputs and
// 0 to 3 outputs.
struct ArgumentCounts {
    int nrhs;
    int nlhs;
};
ArgumentCounts argument_counts(FuzzBytes& bytes, int input_count);

// A broken promise of the plug-in: prints what and aborts, which the
// fuzzer reports as a crash with this input.
[[noreturn]] void fuzz_failure(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Destroys the inputs and the result of a call.
void release_call(std::vector<mxArray*>& inputs, testhost::CallResult& result);
