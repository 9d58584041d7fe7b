// Fuzz target of the TARV_c plug-in: argument lists built from the fuzz
// input, the built plug-in called through the test host. Every call must
// return a real single M x N result when, and only when, the arguments are
// valid and no progress call fails, and otherwise raise an error whose
// identifier starts with "TARV_c:"; it must leave no array behind and
// change no input. The
// sanitizers report any access outside an array, any undefined conversion
// and any leaked block.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "argument_slots.h"
#include "fuzz_input.h"

namespace {

using namespace filter_arguments;

// Valid iteration counts above this are cut to it, unless the progress bar
// is on, whose failure then cancels the call: every call stays short.
constexpr int32_t kMaxIterations = 6;

testhost::Plugin plugin;
testhost::ProgressRecorder recorder;

double pixel_value(FuzzBytes& bytes, const double*) {
    // log intensities -6 .. 6
    return plain_or_special(bytes, 192, [](uint8_t c) { return (static_cast<int>(c) - 96) / 16.0; });
}

double iterations_value(FuzzBytes& bytes, const double*) {
    return plain_or_special(bytes, 160, [](uint8_t c) {
        return c < 128 ? 1 + c % kMaxIterations : c % kMaxIterations + 0.9;
    });
}

double lambda_value(FuzzBytes& bytes, const double*) {
    static const double kLambdas[] = {0.25, 0.1, 0.2, 0.05, 0.0, 1.0, -0.25, 0.5};
    return plain_or_special(bytes, 128, [](uint8_t c) { return kLambdas[c % 8]; });
}

// context: {the bound's usual place, the other end of its axis}.
double bound_value(FuzzBytes& bytes, const double* context) {
    return plain_or_special(bytes, 224, [&](uint8_t c) {
        return value_near(bytes, context[c < 160 ? 0 : 1]);
    });
}

double progress_value(FuzzBytes& bytes, const double*) {
    return plain_or_special(bytes, 128, [](uint8_t c) { return c < 96 ? 0.0 : 1.0; });
}

bool fits_int32(double value) { return value > -2147483649.0 && value < 2147483648.0; }

// The progress flag as the filter reads it: the low 8 bits of its
// truncation, NaN and values beyond 32 bits being off.
bool progress_on(const std::vector<mxArray*>& inputs) {
    if (inputs.size() <= kProgress || !is_real_scalar(inputs[kProgress])) return false;
    const double flag = mxGetScalar(inputs[kProgress]);
    const int32_t truncated = fits_int32(flag) ? static_cast<int32_t>(flag) : INT32_MIN;
    return (static_cast<uint32_t>(truncated) & 0xffu) != 0;
}

// Whether the filter must accept the call: the argument rules, written
// plainly and apart from the plug-in's own checks.
bool valid_call(int nlhs, const std::vector<mxArray*>& inputs) {
    if (inputs.size() < kInputCount || nlhs > 1) return false;
    const mxArray* image = inputs[kImage];
    const std::vector<size_t> dims = testhost::dimensions(image);
    if (mxGetClassID(image) != mxSINGLE_CLASS || mxIsComplex(image) || mxIsSparse(image) ||
        dims.size() > 3)
        return false;
    const size_t rows = dims[0];
    const size_t cols = dims[1];
    const size_t pages = dims.size() == 3 ? dims[2] : 1;
    if (rows >= 0x80000000u || cols >= 0x80000000u || pages >= 0x80000000u ||
        rows * cols >= 0x80000000u || rows * cols * pages >= 0x80000000u)
        return false;
    for (int slot = kIterations; slot < kInputCount; ++slot)
        if (!is_real_scalar(inputs[slot])) return false;
    if (!fits_int32(mxGetScalar(inputs[kIterations]))) return false;
    if (rows == 0 || cols == 0 || pages == 0) return true;
    const size_t extents[] = {rows, rows, cols, cols};
    for (int slot = kFirstRow; slot <= kLastCol; ++slot) {
        const double bound = mxGetScalar(inputs[slot]);
        if (!(bound >= 1.0 && bound < static_cast<double>(extents[slot - kFirstRow]) + 1.0))
            return false;
    }
    return true;
}

std::vector<mxArray*> build_inputs(FuzzBytes& bytes, int nrhs) {
    const ArrayForm image_form{mxSINGLE_CLASS, false, false,
                               {1 + bytes.below(32), 1 + bytes.below(32)}};
    const ArrayForm scalar_form;
    std::vector<mxArray*> inputs;
    double rows = 0.0, cols = 0.0;
    for (int slot = 0; slot < nrhs; ++slot) {
        double anchors[2] = {0.0, 0.0};
        ValueSource values{any_value, anchors};
        switch (slot) {
            case kImage: values.draw = pixel_value; break;
            case kIterations: values.draw = iterations_value; break;
            case kLambda: values.draw = lambda_value; break;
            case kFirstRow: anchors[0] = 1; anchors[1] = rows; values.draw = bound_value; break;
            case kLastRow: anchors[0] = rows; anchors[1] = 1; values.draw = bound_value; break;
            case kFirstCol: anchors[0] = 1; anchors[1] = cols; values.draw = bound_value; break;
            case kLastCol: anchors[0] = cols; anchors[1] = 1; values.draw = bound_value; break;
            case kProgress: values.draw = progress_value; break;
            default: break;  // extra inputs, ignored by the filter
        }
        inputs.push_back(fuzz_argument(bytes, slot == kImage ? image_form : scalar_form, values));
        if (slot == kImage) {
            rows = static_cast<double>(mxGetM(inputs[kImage]));
            cols = static_cast<double>(mxGetN(inputs[kImage]));
        }
    }
    return inputs;
}

// Keeps a valid call short: a long run is cut to kMaxIterations, or, with
// the bar on, cancelled by a failing progress call.
void bound_run_time(std::vector<mxArray*>& inputs, bool bar_on) {
    if (inputs.size() <= kIterations || !is_real_scalar(inputs[kIterations])) return;
    const double iterations = mxGetScalar(inputs[kIterations]);
    if (!(iterations > kMaxIterations + 1.0) || !fits_int32(iterations)) return;
    if (!bar_on)
        set_element(inputs[kIterations], 0, kMaxIterations);
    else if (recorder.fail_at == 0 || recorder.fail_at > kMaxIterations + 1)
        recorder.fail_at = kMaxIterations + 1;
}

void check_call(int nlhs, const std::vector<mxArray*>& inputs, const testhost::CallResult& call,
                bool valid, bool bar_on, const std::vector<size_t>& shape) {
    if (!call.inputs_unchanged) fuzz_failure("an input changed");
    if (call.leftover_arrays != 0)
        fuzz_failure("%zu arrays left behind (%s)", call.leftover_arrays,
                     call.ok ? "returned" : call.error_id.c_str());
    if (call.leftover_blocks != 0) fuzz_failure("%zu scratch blocks left behind", call.leftover_blocks);
    if (!call.ok) {
        if (strncmp(call.error_id.c_str(), "TARV_c:", 7) != 0 || call.error_message.empty())
            fuzz_failure("error \"%s\" (%s) is not the filter's", call.error_id.c_str(),
                         call.error_message.c_str());
        // A valid call ends in an error only when a progress call failed.
        const bool cancelled = call.error_id == "TARV_c:cancelled" && bar_on &&
                               recorder.fail_at != 0 &&
                               recorder.calls.size() >= static_cast<size_t>(recorder.fail_at);
        if (valid && !cancelled)
            fuzz_failure("valid arguments refused: %s: %s", call.error_id.c_str(),
                         call.error_message.c_str());
        if (!valid && call.error_id == "TARV_c:cancelled")
            fuzz_failure("invalid arguments got as far as the progress bar");
        return;
    }
    if (!valid) fuzz_failure("invalid arguments accepted (%d outputs, %zu inputs)", nlhs, inputs.size());
    const mxArray* result = call.result;
    if (result == nullptr || mxGetClassID(result) != mxSINGLE_CLASS || mxIsComplex(result) ||
        mxIsSparse(result) || testhost::dimensions(result) != shape)
        fuzz_failure("the result is not a real single array of the image's size");
    // An empty image has nothing to filter, so no bar is shown for it.
    size_t elements = 1;
    for (size_t extent : shape) elements *= extent;
    const bool bar_shown = bar_on && elements != 0;
    if (recorder.calls.empty() == bar_shown)
        fuzz_failure("progress bar %s though the flag is %s and the image has %zu elements",
                     recorder.calls.empty() ? "not shown" : "shown", bar_on ? "on" : "off",
                     elements);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    plugin = load_fuzzed_plugin(FUZZ_PLUGIN_PATH);
    testhost::install_progress_recorder(&recorder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzBytes bytes(data, size);
    const auto [nrhs, nlhs] = argument_counts(bytes, kInputCount);
    std::vector<mxArray*> inputs = build_inputs(bytes, nrhs);

    recorder = testhost::ProgressRecorder{};
    const uint8_t failure = bytes.byte();
    recorder.fail_at = failure < 192 ? 0 : 1 + failure % 8;
    const bool bar_on = progress_on(inputs);
    bound_run_time(inputs, bar_on);
    const bool valid = valid_call(nlhs, inputs);
    const std::vector<size_t> shape =
        nrhs > kImage ? testhost::dimensions(inputs[kImage]) : std::vector<size_t>{};

    testhost::CallResult call = testhost::call(plugin, nlhs, inputs);
    count_arguments(inputs);
    count_outcome(call);
    check_call(nlhs, inputs, call, valid, bar_on, shape);
    release_call(inputs, call);
    return 0;
}
