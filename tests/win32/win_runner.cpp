// win_runner: the Windows test host. Under wine it loads TARV_c.dll with
// the stand-in libmx.dll and libmex.dll, calls _mexFunction once with the
// x87 precision control set as a host process would have it, and reports
// what happened; or it runs the reference loop below on the same inputs.
//
//   win_runner [--x87 24|53|64] [--fail-at K] [--reference] PLUGIN OUTPUT REPORT INPUT...
//
// Each INPUT is an array file; the result goes to OUTPUT as one. With
// --fail-at K the K-th "waitbar" or "close" call fails. REPORT gets one line per fact:
//   status ok | status error IDENTIFIER
//   message TEXT             (after an error)
//   leftover N               arrays the call left alive
//   unchanged 0|1            the inputs as before the call
//   heap N                   bytes of heap a repeated call leaves in use
//   x87 BEFORE AFTER         the control word around the call
//   call ...                 each "waitbar" and "close" call (call_record.h)
// Exit status: 0 when the report is written, 2 on a usage or file error.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "call_record.h"
#include "test_host.h"

namespace {

uint16_t x87_control_word() {
    uint16_t word;
    __asm__ volatile("fnstcw %0" : "=m"(word));
    return word;
}

// Sets the precision control: 24, 53 or 64 significant bits.
void set_x87_precision(int bits) {
    const uint16_t field = bits == 24 ? 0x000 : bits == 53 ? 0x200 : 0x300;
    const uint16_t word = static_cast<uint16_t>((x87_control_word() & ~0x300) | field);
    __asm__ volatile("fldcw %0" : : "m"(word));
}

// --- the reference loop ------------------------------------------------------
// The filter as the 32-bit Windows build defines it, written plainly:
// every expression in the x87 registers (long double at the precision
// control in force), rounded to single precision through a memory store
// exactly where a named quantity is kept. exp and log are CRTDLL.DLL's, as
// the plug-in's.

float stored(long double value) {
    volatile float slot = static_cast<float>(value);
    return slot;
}

using MathFunction = double (*)(double);

struct ReferenceInputs {
    const float* source;
    uint32_t rows, cols;
    int32_t iterations;
    float lambda;
    uint32_t first_row, last_row, first_col, last_col;
};

std::vector<float> reference_filter(const ReferenceInputs& in, MathFunction exp_fn,
                                    MathFunction log_fn) {
    const uint32_t M = in.rows, N = in.cols, count = M * N;
    std::vector<float> work(count), d_up(count), d_down(count), d_left(count), d_right(count),
        coef(count);
    for (uint32_t k = 0; k < count; ++k) work[k] = stored(exp_fn(static_cast<double>(in.source[k])));
    const uint32_t region_count =
        (in.last_col - in.first_col + 1) * (in.last_row - in.first_row + 1);
    for (int32_t iteration = 0; iteration < in.iterations; ++iteration) {
        float sum = 0.0f, sum2 = 0.0f;
        for (uint32_t i = in.first_row; i <= in.last_row; ++i) {
            for (uint32_t j = in.first_col; j <= in.last_col; ++j) {
                const long double v = work[i + M * j];
                sum = stored(sum + v);
                sum2 = stored(sum2 + v * v);
            }
        }
        const float n = stored(region_count);
        const float mean = stored(sum / static_cast<long double>(n));
        const float var = stored(sum2 / static_cast<long double>(n) - static_cast<long double>(mean) * mean);
        const float q0 = stored(var / (static_cast<long double>(mean) * mean));
        for (uint32_t j = 0; j < N; ++j) {
            for (uint32_t i = 0; i < M; ++i) {
                const uint32_t k = i + M * j;
                const long double c0 = work[k];
                const uint32_t up = i > 0 ? k - 1 : k, down = i + 1 < M ? k + 1 : k;
                const uint32_t left = j > 0 ? k - M : k, right = j + 1 < N ? k + M : k;
                const float dU = stored(work[up] - c0), dD = stored(work[down] - c0);
                const float dL = stored(work[left] - c0), dR = stored(work[right] - c0);
                d_up[k] = dU;
                d_down[k] = dD;
                d_left[k] = dL;
                d_right[k] = dR;
                const long double u = dU, d = dD, l = dL, r = dR;
                const float lap = stored((((u + d) + l) + r) / c0);
                const float grad = stored((((u * u + d * d) + l * l) + r * r) / (c0 * c0));
                const float num = stored(0.5L * grad - 0.0625L * (static_cast<long double>(lap) * lap));
                const float den = stored(1.0L + 0.25L * lap);
                const float q = stored(num / (static_cast<long double>(den) * den));
                const float t = stored((q - static_cast<long double>(q0)) /
                                       ((static_cast<long double>(q0) + 1.0L) * q0));
                const float c = stored(1.0L / (1.0L + t));
                coef[k] = c < 0.0f ? 0.0f : (c > 1.0f ? 1.0f : c);
            }
        }
        for (uint32_t j = 0; j < N; ++j) {
            for (uint32_t i = 0; i < M; ++i) {
                const uint32_t k = i + M * j;
                const long double cC = coef[k];
                const long double cD = coef[i + 1 < M ? k + 1 : k];
                const long double cR = coef[j + 1 < N ? k + M : k];
                const float div =
                    stored(((cC * d_up[k] + cD * d_down[k]) + cC * d_left[k]) + cR * d_right[k]);
                work[k] = stored(work[k] + (0.25L * in.lambda) * div);
            }
        }
    }
    for (uint32_t k = 0; k < count; ++k) work[k] = stored(log_fn(static_cast<double>(work[k])));
    return work;
}

// The reference for the eight inputs of a valid call (nothing is checked).
mxArray* run_reference(const std::vector<mxArray*>& inputs) {
    HMODULE crtdll = LoadLibraryA("crtdll.dll");
    if (crtdll == nullptr || inputs.size() < 7) return nullptr;
    const auto exp_fn = reinterpret_cast<MathFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(crtdll, "exp")));
    const auto log_fn = reinterpret_cast<MathFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(crtdll, "log")));
    if (exp_fn == nullptr || log_fn == nullptr) return nullptr;
    const auto bound = [&](int slot) {
        return static_cast<uint32_t>(static_cast<int32_t>(mxGetScalar(inputs[slot])) - 1);
    };
    ReferenceInputs in{};
    in.source = static_cast<const float*>(mxGetData(inputs[0]));
    in.rows = static_cast<uint32_t>(mxGetM(inputs[0]));
    in.cols = static_cast<uint32_t>(mxGetN(inputs[0]));
    in.iterations = static_cast<int32_t>(mxGetScalar(inputs[1]));
    in.lambda = static_cast<float>(mxGetScalar(inputs[2]));
    in.first_row = bound(3);
    in.last_row = bound(4);
    in.first_col = bound(5);
    in.last_col = bound(6);
    const std::vector<float> values = reference_filter(in, exp_fn, log_fn);
    return testhost::make_single(in.rows, in.cols, values);
}

// --- the call through the plug-in ----------------------------------------------

// One call with the progress recorder in place; its facts are appended to
// `report` when that is given.
void call_once(const testhost::Plugin& plugin, const std::vector<mxArray*>& inputs, int fail_at,
               const std::string& output_path, std::string* report) {
    testhost::ProgressRecorder recorder;
    recorder.fail_at = fail_at;
    testhost::install_progress_recorder(&recorder);
    const uint16_t control_before = x87_control_word();
    testhost::CallResult result = testhost::call(plugin, 1, inputs);
    const uint16_t control_after = x87_control_word();
    standin_clear_functions();
    if (report != nullptr) {
        if (result.ok) {
            *report += "status ok\n";
            if (result.result != nullptr) testhost::write_array_file(output_path, result.result);
        } else {
            *report += "status error " + result.error_id + "\nmessage " + result.error_message + "\n";
        }
        *report += "leftover " + std::to_string(result.leftover_arrays) + "\n";
        *report += std::string("unchanged ") + (result.inputs_unchanged ? "1" : "0") + "\n";
        *report += "x87 " + hex_bits(control_before, 4) + " " + hex_bits(control_after, 4) + "\n";
        for (const std::string& call : describe_calls(recorder.calls)) *report += "call " + call + "\n";
    }
    if (result.result != nullptr) mxDestroyArray(result.result);
}

bool write_report(const std::string& path, const std::string& text) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
    return fclose(file) == 0 && ok;
}

int usage() {
    fprintf(stderr, "usage: win_runner [--x87 24|53|64] [--fail-at K] [--reference] PLUGIN OUTPUT "
                    "REPORT INPUT...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int precision = 0;
    int fail_at = 0;
    bool reference = false;
    int arg = 1;
    for (; arg < argc && strncmp(argv[arg], "--", 2) == 0; ++arg) {
        if (strcmp(argv[arg], "--x87") == 0 && arg + 1 < argc) {
            precision = atoi(argv[++arg]);
            if (precision != 24 && precision != 53 && precision != 64) return usage();
        } else if (strcmp(argv[arg], "--fail-at") == 0 && arg + 1 < argc) {
            fail_at = atoi(argv[++arg]);
        } else if (strcmp(argv[arg], "--reference") == 0) {
            reference = true;
        } else {
            return usage();
        }
    }
    if (argc - arg < 3) return usage();
    const std::string plugin_path = argv[arg], output_path = argv[arg + 1],
                      report_path = argv[arg + 2];

    std::vector<mxArray*> inputs;
    for (int k = arg + 3; k < argc; ++k) {
        std::string error;
        inputs.push_back(testhost::read_array_file(argv[k], &error));
        if (inputs.back() == nullptr) {
            fprintf(stderr, "win_runner: %s\n", error.c_str());
            return 2;
        }
    }
    if (precision != 0) set_x87_precision(precision);

    if (reference) {
        mxArray* result = run_reference(inputs);
        if (result == nullptr || !testhost::write_array_file(output_path, result)) {
            fprintf(stderr, "win_runner: no reference result\n");
            return 2;
        }
        return write_report(report_path, "status ok\n") ? 0 : 2;
    }

    std::string error;
    const testhost::Plugin plugin = testhost::load_plugin(plugin_path, &error);
    if (plugin.entry == nullptr) {
        fprintf(stderr, "win_runner: %s\n", error.c_str());
        return 2;
    }
    // Three identical calls: the first fills what the stand-in host keeps
    // between calls, so any growth of the heap from the second to the third
    // is the call's own leak. The third is reported; its report text has
    // room reserved before, so writing it allocates nothing.
    std::string report;
    report.reserve(size_t{1} << 20);
    call_once(plugin, inputs, fail_at, output_path, nullptr);
    call_once(plugin, inputs, fail_at, output_path, nullptr);
    const size_t heap_before = testhost::heap_in_use();
    call_once(plugin, inputs, fail_at, output_path, &report);
    const size_t heap_after = testhost::heap_in_use();
    report += "heap " + std::to_string(static_cast<long long>(heap_after) -
                                       static_cast<long long>(heap_before)) + "\n";
    return write_report(report_path, report) ? 0 : 2;
}
