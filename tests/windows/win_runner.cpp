// win_runner: the Windows test host, one source for both widths. Under
// wine it loads a plug-in of its width (TARV_c.dll, or TARV_c.mexw64 or
// bandscore.mexw64) with the stand-in libmx.dll and libmex.dll, calls its
// entry point, and reports what happened; or it runs a step of the plug-in's
// numeric core, built for Windows from the same sources with the same
// flags, or the 32-bit filter's reference loop (x87_reference.h), on the
// same inputs.
//
//   win_runner [OPTION...] PLUGIN OUTPUT REPORT INPUT...
//
// The plug-in's file name says which plug-in (or core) it is. Each INPUT is
// an array file, d:VALUE for a double scalar, or shape:CLASS:D1xD2[xD3...]
// for an array of that class and size without data (CLASS single or
// double), which only a size check may look at. The result goes to OUTPUT
// as an array file.
//
//   --x87 24|53|64    the x87 precision control every call and run below
//                     starts with (every exception masked, round to
//                     nearest); 53 bits, what Windows gives a process,
//                     unless told
// Options for calls of the plug-in:
//   --fail-at K       the K-th "waitbar" or "close" call fails
//   --time N          N calls instead of three (with --core, N runs of the
//                     core on the same buffers); the report gives the fastest
//   --count-threads   "waitbar" and "close" only count the process's threads
//                     (and return a handle): the report gives the count
//                     before the call, the most seen at those calls and the
//                     count after the call
//   --interrupt-at K  the stand-in host's failure modes, armed before each
//   --failing-allocation K   call: the K-th interpreter call interrupts the
//   --null-allocation K      plug-in, the K-th array creation or mxMalloc
//                     raises, or returns null. A fourth call without them
//                     follows; its result goes to OUTPUT and its status to
//                     "next".
// Options that run something else instead (nothing is checked: valid
// inputs only):
//   --reference       the 32-bit filter's reference loop on the filter's
//                     inputs
//   --core PATH T     the whole filter or scorer on PATH (plain, baseline,
//                     avx2, avx512, automatic) with T threads (0: the
//                     automatic team size)
//   --rounding MODE   with --core: the caller's rounding direction (nearest,
//                     upward, downward, zero) and --flush-to-zero its
//                     flush-to-zero and denormals-are-zero bits
//   --step NAME       one step of a core on the first input: exponentiate
//                     or logarithm (single arrays, the filter's), or
//                     span-prior (bandscore's, inputs spans, span_mean,
//                     span_sd, prior_weight; result spans x columns)
//
// REPORT gets one line per fact:
//   status ok | status error IDENTIFIER
//   message TEXT             (after an error)
//   leftover N               arrays the call left alive
//   blocks N                 mxMalloc blocks the call left, which the host freed
//   warning IDENTIFIER TEXT  each warning the call issued
//   unchanged 0|1            the inputs as before the call
//   x87 BEFORE AFTER         the x87 control word around the call
//   heap N                   bytes of heap a repeated call leaves in use
//   call ...                 each "waitbar" and "close" call (call_record.h)
//   supported 0|1            (--core) whether this processor has the path
//   seconds S                (--time) the fastest call
//   threads BEFORE MOST AFTER  (--count-threads)
//   next ok | next error IDENTIFIER  (with a failure mode) the call after
// Exit status: 0 when the report is written, 2 on a usage or file error.
#include <fenv.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "call_record.h"
#include "core_calls.h"
#include "kernel.h"
#include "scorer.h"
#include "test_host.h"
#include "x87_reference.h"

namespace {

double seconds_now() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Runs `body` `runs` times and returns the fastest run in seconds.
template <typename Body>
double fastest_of(int runs, Body body) {
    double fastest = 0.0;
    for (int k = 0; k < runs; ++k) {
        const double start = seconds_now();
        body();
        const double seconds = seconds_now() - start;
        if (k == 0 || seconds < fastest) fastest = seconds;
    }
    return fastest;
}

struct Options {
    int precision = 53;
    bool reference = false;
    int fail_at = 0;
    int timed_calls = 0;
    bool count_threads = false;
    int interrupt_at = 0;
    int failing_allocation = 0;
    int null_allocation = 0;
    bool failure_mode() const { return interrupt_at > 0 || failing_allocation > 0 || null_allocation > 0; }
    bool core = false;
    CpuPath path = CpuPath::kPlain;
    int32_t threads = 1;
    int rounding = FE_TONEAREST;
    bool flush_to_zero = false;
    std::string step;
};

// Whether the file at `path` is the plug-in `name` (its file name, not the
// folders it lies in, which may hold the same word).
bool is_plugin(const std::string& path, const char* name) {
    const size_t slash = path.find_last_of("/\\");
    return path.compare(slash == std::string::npos ? 0 : slash + 1, strlen(name), name) == 0;
}

// --- inputs ---------------------------------------------------------------------

mxArray* shape_only(const char* shape) {
    const char* colon = strchr(shape, ':');
    if (colon == nullptr) return nullptr;
    const std::string class_name(shape, colon);
    const mxClassID class_id = class_name == "single"   ? mxSINGLE_CLASS
                               : class_name == "double" ? mxDOUBLE_CLASS
                                                        : mxUNKNOWN_CLASS;
    if (class_id == mxUNKNOWN_CLASS) return nullptr;
    std::vector<size_t> dims;
    for (const char* p = colon + 1; *p != '\0';) {
        char* end;
        dims.push_back(static_cast<size_t>(strtoull(p, &end, 10)));
        if (end == p || (*end != '\0' && *end != 'x')) return nullptr;
        p = *end == 'x' ? end + 1 : end;
    }
    if (dims.size() < 2) return nullptr;
    return standin_create_shape_only(class_id, static_cast<int>(dims.size()), dims.data());
}

mxArray* read_input(const char* text, std::string* error) {
    if (strncmp(text, "d:", 2) == 0) return testhost::make_scalar(strtod(text + 2, nullptr));
    if (strncmp(text, "shape:", 6) == 0) {
        mxArray* array = shape_only(text + 6);
        if (array == nullptr) *error = std::string("bad shape ") + text;
        return array;
    }
    return testhost::read_array_file(text, error);
}

// --- the cores ------------------------------------------------------------------
// The core runs `runs` times on the same buffers; *seconds gets the fastest
// run.

mxArray* run_filter_core(const std::vector<mxArray*>& in, const PathChoice& choice, int runs,
                         double* seconds) {
    if (in.size() < 7) return nullptr;
    FilterCore core(in);
    *seconds = fastest_of(runs, [&] { core.run(choice); });
    return testhost::make_single(core.rows, core.cols, core.work);
}

mxArray* run_score_core(const std::vector<mxArray*>& in, const PathChoice& choice, int runs,
                        double* seconds) {
    if (in.size() < 10) return nullptr;
    const ScoreCore core(in);
    const size_t dims[3] = {static_cast<size_t>(core.params.top_count),
                            static_cast<size_t>(core.params.bottom_count), static_cast<size_t>(core.cols)};
    mxArray* result = standin_create_array(mxDOUBLE_CLASS, 3, dims, false, false);
    *seconds = fastest_of(runs, [&] { core.run(choice, mxGetPr(result)); });
    return result;
}

mxArray* run_step(const std::string& step, const std::vector<mxArray*>& in) {
    if (in.empty()) return nullptr;
    if (step == "exponentiate" || step == "logarithm") {
        if (mxGetClassID(in[0]) != mxSINGLE_CLASS) return nullptr;
        const uint32_t count = static_cast<uint32_t>(mxGetNumberOfElements(in[0]));
        const float* values = static_cast<const float*>(mxGetData(in[0]));
        std::vector<float> out(values, values + count);
        if (step == "exponentiate")
            exponentiate_pixels(values, out.data(), 0, count);
        else
            take_logarithms(out.data(), 0, count);
        return testhost::make_single(mxGetM(in[0]), mxGetN(in[0]), out);
    }
    if (step == "span-prior" && in.size() >= 4) {
        const size_t spans = mxGetNumberOfElements(in[0]);
        const size_t cols = mxGetNumberOfElements(in[1]);
        std::vector<double> out(spans * cols);
        for (size_t c = 0; c < cols; ++c)
            for (size_t k = 0; k < spans; ++k)
                out[k + spans * c] = span_prior(mxGetPr(in[0])[k], mxGetPr(in[1])[c],
                                                mxGetPr(in[2])[c], mxGetScalar(in[3]));
        return testhost::make_double({spans, cols}, out);
    }
    return nullptr;
}

bool parse_path(const char* name, CpuPath* path) {
    for (CpuPath p : {CpuPath::kPlain, CpuPath::kBaseline, CpuPath::kAvx2, CpuPath::kAvx512,
                      CpuPath::kAutomatic}) {
        if (strcmp(name, cpu_path_name(p)) == 0) {
            *path = p;
            return true;
        }
    }
    return false;
}

bool parse_rounding(const char* name, int* mode) {
    const struct {
        const char* name;
        int mode;
    } kModes[] = {{"nearest", FE_TONEAREST}, {"upward", FE_UPWARD}, {"downward", FE_DOWNWARD},
                  {"zero", FE_TOWARDZERO}};
    for (const auto& entry : kModes) {
        if (strcmp(name, entry.name) == 0) {
            *mode = entry.mode;
            return true;
        }
    }
    return false;
}

// --- the call through the plug-in ----------------------------------------------

uint16_t x87_control_word() {
    uint16_t word;
    __asm__ volatile("fnstcw %0" : "=m"(word));
    return word;
}

// The SSE control and status register, through the instructions: the
// compiler's builtins for it need SSE code generation, which the 32-bit
// build leaves off.
unsigned sse_control() {
    unsigned csr;
    __asm__ volatile("stmxcsr %0" : "=m"(csr));
    return csr;
}

void set_sse_control(unsigned csr) { __asm__ volatile("ldmxcsr %0" : : "m"(csr)); }

// Every exception masked, round to nearest, and the precision control at
// 24, 53 or 64 significant bits. (MinGW's start-up code leaves 64 bits; a
// Windows host process runs at what the system or the host has set.)
void set_x87_precision(int bits) {
    const uint16_t field = bits == 24 ? 0x000 : bits == 53 ? 0x200 : 0x300;
    const uint16_t word = static_cast<uint16_t>(0x07f | field);
    __asm__ volatile("fldcw %0" : : "m"(word));
}

// Threads of this process now.
int process_threads() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}

struct ThreadCount {
    int before = 0;
    int most = 0;
};

const char* count_threads(void* context, int nlhs, mxArray* plhs[], int, mxArray*[],
                          const char**) {
    auto* count = static_cast<ThreadCount*>(context);
    const int now = process_threads();
    if (now > count->most) count->most = now;
    if (nlhs >= 1) plhs[0] = testhost::make_scalar(1.0);
    return nullptr;
}

// One call with the progress recorder in place; its facts are appended to
// `report` when that is given. Returns the call's time in seconds.
double call_once(const testhost::Plugin& plugin, const std::vector<mxArray*>& inputs,
                 const Options& options, const std::string& output_path, std::string* report) {
    testhost::ProgressRecorder recorder;
    recorder.fail_at = options.fail_at;
    testhost::install_progress_recorder(&recorder);
    ThreadCount threads;
    if (options.count_threads) {
        standin_register_function("waitbar", count_threads, &threads);
        standin_register_function("close", count_threads, &threads);
        threads.before = process_threads();
    }
    // The failure modes are off again after each call.
    standin_set_interrupt_at(options.interrupt_at);
    standin_set_failing_allocation(options.failing_allocation);
    standin_set_null_allocation(options.null_allocation);
    const uint16_t control_before = x87_control_word();
    const double start = seconds_now();
    testhost::CallResult result = testhost::call(plugin, 1, inputs);
    const double seconds = seconds_now() - start;
    const uint16_t control_after = x87_control_word();
    const int threads_after = options.count_threads ? process_threads() : 0;
    standin_clear_functions();
    if (report != nullptr) {
        if (result.ok) {
            *report += "status ok\n";
            if (result.result != nullptr) testhost::write_array_file(output_path, result.result);
        } else {
            *report += "status error " + result.error_id + "\nmessage " + result.error_message + "\n";
        }
        *report += "leftover " + std::to_string(result.leftover_arrays) + "\n";
        *report += "blocks " + std::to_string(result.leftover_blocks) + "\n";
        for (const auto& [identifier, text] : result.warnings)
            *report += "warning " + identifier + " " + text + "\n";
        *report += std::string("unchanged ") + (result.inputs_unchanged ? "1" : "0") + "\n";
        *report += "x87 " + hex_bits(control_before, 4) + " " + hex_bits(control_after, 4) + "\n";
        for (const std::string& call : describe_calls(recorder.calls)) *report += "call " + call + "\n";
        if (options.count_threads)
            *report += "threads " + std::to_string(threads.before) + " " +
                       std::to_string(threads.most) + " " + std::to_string(threads_after) + "\n";
    }
    if (result.result != nullptr) mxDestroyArray(result.result);
    return seconds;
}

bool write_report(const std::string& path, const std::string& text) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
    return fclose(file) == 0 && ok;
}

int usage() {
    fprintf(stderr,
            "usage: win_runner [--x87 24|53|64] [--fail-at K] [--interrupt-at K] "
            "[--failing-allocation K] [--null-allocation K] [--time N] [--count-threads] "
            "[--reference] [--core PATH THREADS [--rounding MODE] [--flush-to-zero]] [--step NAME] "
            "PLUGIN OUTPUT REPORT INPUT...\n");
    return 2;
}

// Runs a core or one of its steps; the report says whether the path runs
// here.
int run_core(const Options& options, const std::string& plugin_path,
             const std::vector<mxArray*>& inputs, const std::string& output_path,
             const std::string& report_path) {
    if (options.core && !cpu_path_supported(options.path))
        return write_report(report_path, "status ok\nsupported 0\n") ? 0 : 2;
    mxArray* result = nullptr;
    double fastest = 0.0;
    if (!options.step.empty()) {
        result = run_step(options.step, inputs);
    } else {
        const PathChoice choice{options.path, options.threads};
        const unsigned saved_csr = sse_control();
        fesetround(options.rounding);
        if (options.flush_to_zero) set_sse_control(sse_control() | 0x8040);
        const int runs = options.timed_calls > 0 ? options.timed_calls : 1;
        result = is_plugin(plugin_path, "bandscore") ? run_score_core(inputs, choice, runs, &fastest)
                                                     : run_filter_core(inputs, choice, runs, &fastest);
        set_sse_control(saved_csr);
        fesetround(FE_TONEAREST);
    }
    if (result == nullptr || !testhost::write_array_file(output_path, result)) {
        fprintf(stderr, "win_runner: no result from the core\n");
        return 2;
    }
    mxDestroyArray(result);
    std::string report = "status ok\nsupported 1\n";
    if (options.timed_calls > 0) {
        char line[64];
        snprintf(line, sizeof line, "seconds %.9f\n", fastest);
        report += line;
    }
    return write_report(report_path, report) ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int arg = 1;
    for (; arg < argc && strncmp(argv[arg], "--", 2) == 0; ++arg) {
        const bool has_value = arg + 1 < argc;
        if (strcmp(argv[arg], "--x87") == 0 && has_value) {
            options.precision = atoi(argv[++arg]);
            if (options.precision != 24 && options.precision != 53 && options.precision != 64)
                return usage();
        } else if (strcmp(argv[arg], "--reference") == 0) {
            options.reference = true;
        } else if (strcmp(argv[arg], "--fail-at") == 0 && has_value) {
            options.fail_at = atoi(argv[++arg]);
        } else if (strcmp(argv[arg], "--time") == 0 && has_value) {
            options.timed_calls = atoi(argv[++arg]);
            if (options.timed_calls < 1) return usage();
        } else if (strcmp(argv[arg], "--interrupt-at") == 0 && has_value) {
            options.interrupt_at = atoi(argv[++arg]);
        } else if (strcmp(argv[arg], "--failing-allocation") == 0 && has_value) {
            options.failing_allocation = atoi(argv[++arg]);
        } else if (strcmp(argv[arg], "--null-allocation") == 0 && has_value) {
            options.null_allocation = atoi(argv[++arg]);
        } else if (strcmp(argv[arg], "--count-threads") == 0) {
            options.count_threads = true;
        } else if (strcmp(argv[arg], "--core") == 0 && arg + 2 < argc) {
            options.core = true;
            if (!parse_path(argv[++arg], &options.path)) return usage();
            options.threads = atoi(argv[++arg]);
        } else if (strcmp(argv[arg], "--rounding") == 0 && has_value) {
            if (!parse_rounding(argv[++arg], &options.rounding)) return usage();
        } else if (strcmp(argv[arg], "--flush-to-zero") == 0) {
            options.flush_to_zero = true;
        } else if (strcmp(argv[arg], "--step") == 0 && has_value) {
            options.step = argv[++arg];
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
        inputs.push_back(read_input(argv[k], &error));
        if (inputs.back() == nullptr) {
            fprintf(stderr, "win_runner: %s\n", error.c_str());
            return 2;
        }
    }
    set_x87_precision(options.precision);
    if (options.reference) {
        mxArray* result = x87_reference::filter(inputs);
        if (result == nullptr || !testhost::write_array_file(output_path, result)) {
            fprintf(stderr, "win_runner: no reference result\n");
            return 2;
        }
        return write_report(report_path, "status ok\n") ? 0 : 2;
    }
    if (options.core || !options.step.empty())
        return run_core(options, plugin_path, inputs, output_path, report_path);

    std::string error;
    const testhost::Plugin plugin = testhost::load_plugin(plugin_path, &error);
    if (plugin.entry == nullptr) {
        fprintf(stderr, "win_runner: %s\n", error.c_str());
        return 2;
    }
    std::string report;
    if (options.timed_calls > 0) {
        double fastest = 0.0;
        for (int k = 0; k < options.timed_calls; ++k) {
            const double seconds = call_once(plugin, inputs, options, output_path,
                                             k + 1 == options.timed_calls ? &report : nullptr);
            if (k == 0 || seconds < fastest) fastest = seconds;
        }
        char line[64];
        snprintf(line, sizeof line, "seconds %.9f\n", fastest);
        report += line;
        return write_report(report_path, report) ? 0 : 2;
    }
    // Three identical rounds: the first fills what the stand-in host keeps
    // between calls, so any growth of the heap from the second to the third
    // is the call's own leak. The third is reported; its report texts have
    // room reserved before, so writing them allocates nothing. In a failure
    // mode each failing call is followed by one without failures, which must
    // work (the host is whole again) and which tidies what the failing call
    // could not (a progress window an interrupted call left open), so that
    // every failing call starts from the same state.
    Options plain = options;
    plain.interrupt_at = plain.failing_allocation = plain.null_allocation = 0;
    plain.count_threads = false;
    std::string next;
    report.reserve(size_t{1} << 20);
    next.reserve(size_t{1} << 16);
    const auto round = [&](std::string* failed_report, std::string* next_report) {
        call_once(plugin, inputs, options, output_path, failed_report);
        if (options.failure_mode()) call_once(plugin, inputs, plain, output_path, next_report);
    };
    round(nullptr, nullptr);
    round(nullptr, nullptr);
    const size_t heap_before = testhost::heap_in_use();
    round(&report, &next);
    const size_t heap_after = testhost::heap_in_use();
    report += "heap " + std::to_string(static_cast<long long>(heap_after) -
                                       static_cast<long long>(heap_before)) + "\n";
    if (options.failure_mode())
        report += "next " + next.substr(next.find(' ') + 1, next.find('\n') - next.find(' ') - 1) + "\n";
    return write_report(report_path, report) ? 0 : 2;
}
