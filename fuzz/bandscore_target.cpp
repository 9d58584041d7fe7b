// Fuzz target of the bandscore plug-in: argument lists built from the fuzz
// input, the built plug-in called through the test host. Every call must
// return a real double (A, B, C) volume when, and only when, the arguments
// are valid, and otherwise raise an error whose identifier starts with
// "bandscore:"; it must change no input and leave behind only the ten
// argument copies that the scorer hands to the host on success. The
// sanitizers report any access outside an array, any undefined conversion
// and any leaked block.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "argument_slots.h"
#include "fuzz_input.h"

namespace {

using namespace score_arguments;

// Valid calls with more cells are cut down to this many: a call stays short.
constexpr int64_t kMaxCells = 4096;
constexpr double kTwo31 = 2147483648.0;

testhost::Plugin plugin;

bool is_scalar_slot(int slot) {
    return slot == kTopOffset || slot == kBottomOffset || slot == kTopCount ||
           slot == kBottomCount || slot == kPriorWeight;
}
bool is_column_slot(int slot) {
    return slot == kSpanMean || slot == kSpanSd || slot == kSpanMin || slot == kSpanMax;
}

// context[0] is the image's row count R throughout.
double whole_up_to(FuzzBytes& bytes, double limit) {
    return static_cast<double>(bytes.byte() % (static_cast<int>(limit) + 1));
}

double offset_value(FuzzBytes& bytes, const double* context) {
    static const double kFractions[] = {0.5, -0.5, 0.7, -0.7, 0.999, 0.25};
    return plain_or_special(bytes, 176, [&](uint8_t c) {
        return c < 128 ? whole_up_to(bytes, context[0] + 1) - 1.0  // -1 .. R
                       : whole_up_to(bytes, context[0]) + kFractions[c % 6];
    });
}

double pixel_value(FuzzBytes& bytes, const double*) {
    return plain_or_special(bytes, 192, [](uint8_t c) { return (static_cast<int>(c) - 96) / 8.0; });
}

double count_value(FuzzBytes& bytes, const double* context) {
    return plain_or_special(bytes, 176, [&](uint8_t c) {
        return c < 128 ? whole_up_to(bytes, context[0]) : value_near(bytes, context[0]);
    });
}

double weight_value(FuzzBytes& bytes, const double*) {
    static const double kWeights[] = {1.0, 0.0, 0.5, 2.0, -1.0, 10.0, 0.1, -0.0};
    return plain_or_special(bytes, 128, [](uint8_t c) { return kWeights[c % 8]; });
}

double mean_value(FuzzBytes& bytes, const double* context) {
    return plain_or_special(bytes, 160, [&](uint8_t) { return whole_up_to(bytes, context[0]); });
}

double sd_value(FuzzBytes& bytes, const double*) {
    return plain_or_special(bytes, 144, [](uint8_t c) { return c < 128 ? 1.0 + c % 8 : 0.0; });
}

// Limits of the span: context[1] is the usual one (0 for the lowest, R for
// the highest).
double limit_value(FuzzBytes& bytes, const double* context) {
    return plain_or_special(bytes, 208, [&](uint8_t c) {
        return c < 128 ? value_near(bytes, context[1])
               : c < 192 ? whole_up_to(bytes, context[0]) - 2.0
                         : NAN;
    });
}

std::vector<mxArray*> build_inputs(FuzzBytes& bytes, int nrhs) {
    const size_t rows = 1 + bytes.below(40);
    const size_t cols = 1 + bytes.below(6);
    const bool column_vectors = bytes.below(2) == 1;
    // A 3-D image, of 2, 3 or 0 pages, is refused.
    static const size_t kPlanes[] = {1, 2, 3, 0};
    const ArrayForm image_form{mxDOUBLE_CLASS, false, false, {rows, cols, kPlanes[bytes.below(4)]}};
    const ArrayForm per_column_form{mxDOUBLE_CLASS, false, false,
                                    column_vectors ? std::vector<size_t>{cols, 1}
                                                   : std::vector<size_t>{1, cols}};
    const ArrayForm scalar_form;
    std::vector<mxArray*> inputs;
    for (int slot = 0; slot < nrhs; ++slot) {
        const double context[2] = {static_cast<double>(rows),
                                   slot == kSpanMax ? static_cast<double>(rows) : 0.0};
        ValueSource values{any_value, context};
        switch (slot) {
            case kTopOffset:
            case kBottomOffset: values.draw = offset_value; break;
            case kImage: values.draw = pixel_value; break;
            case kSpanMean: values.draw = mean_value; break;
            case kSpanSd: values.draw = sd_value; break;
            case kTopCount:
            case kBottomCount: values.draw = count_value; break;
            case kPriorWeight: values.draw = weight_value; break;
            case kSpanMin:
            case kSpanMax: values.draw = limit_value; break;
            default: break;  // extra inputs, ignored by the scorer
        }
        const ArrayForm& form = slot == kImage          ? image_form
                                : is_column_slot(slot) ? per_column_form
                                                       : scalar_form;
        inputs.push_back(fuzz_argument(bytes, form, values));
    }
    return inputs;
}

bool is_real_double(const mxArray* array) {
    return mxGetClassID(array) == mxDOUBLE_CLASS && !mxIsComplex(array) && !mxIsSparse(array);
}

// A count as the scorer takes it, or -1 if it is not one.
int64_t count_of(const mxArray* array) {
    if (!is_real_double(array) || mxGetNumberOfElements(array) != 1) return -1;
    const double value = *mxGetPr(array);
    return value >= 0.0 && value < kTwo31 ? static_cast<int64_t>(value) : -1;
}

// Whether a volume of a x b x c cells (each extent from 0 to 2^31 - 1) has
// fewer than 2^31 cells.
bool cells_fit(int64_t a, int64_t b, int64_t c) {
    return a == 0 || b == 0 || c == 0 || (a * b < 0x80000000 && a * b * c < 0x80000000);
}

// Keeps a valid call short: more than kMaxCells cells (but fewer than
// 2^31, which is refused) are cut down by lowering top_count.
void bound_run_time(std::vector<mxArray*>& inputs) {
    if (inputs.size() <= kBottomCount) return;
    const int64_t a = count_of(inputs[kTopCount]);
    const int64_t b = count_of(inputs[kBottomCount]);
    const int64_t c = mxGetDimensions(inputs[kImage])[1];
    if (a < 0 || b <= 0 || c <= 0) return;
    if (cells_fit(a, b, c) && a * b * c > kMaxCells)
        set_element(inputs[kTopCount], 0, static_cast<double>(kMaxCells / (b * c)));
}

// Candidate row `index` of a run starting at `offset`, if it lies in the
// signed 32-bit range.
bool candidate_row(int64_t index, double offset, int64_t* row) {
    const double value = static_cast<double>(index) + offset;
    if (!(value > -kTwo31 - 1.0 && value < kTwo31)) return false;
    *row = static_cast<int64_t>(value);
    return true;
}

// Whether the scorer must accept the call: the argument rules, written
// plainly and apart from the plug-in's checks, visiting every pair.
bool valid_call(int nlhs, const std::vector<mxArray*>& inputs) {
    if (inputs.size() < kInputCount || nlhs > 1) return false;
    for (int slot = 0; slot < kInputCount; ++slot) {
        if (!is_real_double(inputs[slot])) return false;
        if (is_scalar_slot(slot) && mxGetNumberOfElements(inputs[slot]) != 1) return false;
    }
    const mxArray* image = inputs[kImage];
    if (mxGetNumberOfDimensions(image) > 2 || mxGetNumberOfElements(image) >= 0x80000000u)
        return false;
    // R and C read as signed 32-bit entries.
    const int64_t rows = mxGetDimensions(image)[0];
    const int64_t cols = mxGetDimensions(image)[1];
    if (rows < 0 || cols < 0) return false;
    const int64_t top_count = count_of(inputs[kTopCount]);
    const int64_t bottom_count = count_of(inputs[kBottomCount]);
    if (top_count < 0 || bottom_count < 0) return false;
    if (!cells_fit(top_count, bottom_count, cols)) return false;
    for (int slot = 0; slot < kInputCount; ++slot)
        if (is_column_slot(slot) && mxGetNumberOfElements(inputs[slot]) < static_cast<size_t>(cols))
            return false;
    if (top_count == 0 || bottom_count == 0 || cols == 0) return true;

    const double top_offset = *mxGetPr(inputs[kTopOffset]);
    const double bottom_offset = *mxGetPr(inputs[kBottomOffset]);
    std::vector<int64_t> tops(top_count), bottoms(bottom_count);
    for (int64_t a = 0; a < top_count; ++a)
        if (!candidate_row(a, top_offset, &tops[a])) return false;
    for (int64_t b = 0; b < bottom_count; ++b)
        if (!candidate_row(b, bottom_offset, &bottoms[b])) return false;
    const double* span_min = mxGetPr(inputs[kSpanMin]);
    const double* span_max = mxGetPr(inputs[kSpanMax]);
    for (int64_t c = 0; c < cols; ++c) {
        for (int64_t top : tops) {
            for (int64_t bottom : bottoms) {
                const int64_t span = bottom - top;
                if (span < INT32_MIN || span > INT32_MAX) return false;
                const double s = static_cast<double>(span);
                const bool admissible = !(span_min[c] > s) && !(s > span_max[c]);
                // Only pairs that sum at least one row read the image.
                if (admissible && span >= 0 && (top < 0 || bottom >= rows)) return false;
            }
        }
    }
    return true;
}

void check_call(int nlhs, const std::vector<mxArray*>& inputs, const testhost::CallResult& call,
                bool valid) {
    if (!call.inputs_unchanged) fuzz_failure("an input changed");
    if (call.leftover_blocks != 0) fuzz_failure("%zu host memory blocks left behind", call.leftover_blocks);
    if (!call.ok) {
        if (strncmp(call.error_id.c_str(), "bandscore:", 10) != 0 || call.error_message.empty())
            fuzz_failure("error \"%s\" (%s) is not the scorer's", call.error_id.c_str(),
                         call.error_message.c_str());
        if (call.leftover_arrays != 0)
            fuzz_failure("%zu arrays left behind after %s", call.leftover_arrays,
                         call.error_id.c_str());
        if (valid)
            fuzz_failure("valid arguments refused: %s: %s", call.error_id.c_str(),
                         call.error_message.c_str());
        return;
    }
    if (!valid) fuzz_failure("invalid arguments accepted (%d outputs, %zu inputs)", nlhs, inputs.size());
    // The copies of the ten arguments are the host's to release, by design.
    if (call.leftover_arrays != kInputCount)
        fuzz_failure("%zu arrays left behind; the ten argument copies expected",
                     call.leftover_arrays);
    const size_t extents[3] = {static_cast<size_t>(count_of(inputs[kTopCount])),
                               static_cast<size_t>(count_of(inputs[kBottomCount])),
                               static_cast<size_t>(mxGetDimensions(inputs[kImage])[1])};
    const mxArray* result = call.result;
    if (result == nullptr || mxGetClassID(result) != mxDOUBLE_CLASS || mxIsComplex(result) ||
        mxIsSparse(result) ||
        testhost::dimensions(result) != host_shape({extents[0], extents[1], extents[2]}))
        fuzz_failure("the result is not a real double %zu x %zu x %zu volume", extents[0],
                     extents[1], extents[2]);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    plugin = load_fuzzed_plugin(FUZZ_PLUGIN_PATH);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzBytes bytes(data, size);
    const auto [nrhs, nlhs] = argument_counts(bytes, kInputCount);
    std::vector<mxArray*> inputs = build_inputs(bytes, nrhs);
    bound_run_time(inputs);
    const bool valid = valid_call(nlhs, inputs);

    testhost::CallResult call = testhost::call(plugin, nlhs, inputs);
    count_arguments(inputs);
    count_outcome(call);
    check_call(nlhs, inputs, call, valid);
    release_call(inputs, call);
    return 0;
}
