// Calls of a plug-in on both platforms for the tests of either Windows
// build and the timing program: the Linux plug-in through the test host in
// this process, the Windows one through win_runner.exe under the wine loader
// of the build's width, each reported as an Outcome in the same terms; and
// the images and volumes they are called on.
#pragma once

#include <unistd.h>

#include <gtest/gtest.h>
#include <stdio.h>

#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "bits.h"
#include "call_record.h"
#include "test_host.h"
#include "windows_builds.h"
#include "wine_support.h"

namespace windows {

using wine::quoted;
using wine::ScratchDir;
using wine::windows_path;

inline const std::string kBuildDir = WINDOWS_BUILD_DIR;
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

inline const char* linux_plugin(Plugin p) { return p == Plugin::kFilter ? TARV_C_PLUGIN : BANDSCORE_PLUGIN; }
inline std::string windows_plugin(Plugin p) {
    return kBuildDir + (p == Plugin::kFilter ? "/TARV_c" : "/bandscore") + kBuild.suffix;
}

// Every test that runs a Windows program derives from this: where the
// build's wine loader is not installed (wine's 32-bit half, which
// tools/setup.sh may fail to install) or cannot run (a 32-bit one where the
// kernel refuses 32-bit programs and no qemu-i386 runs them), it is skipped
// with the reason.
class WineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static std::string reason;
        static const bool runs = [] {
            if (access(WINE_LOADER, X_OK) != 0) {
                reason = std::string("wine for ") + std::to_string(kBuild.bits) +
                         "-bit programs is not installed" +
                         (kBuild.needs_32_bit_programs ? " (package wine32:i386)" : "");
                return false;
            }
            return !kBuild.needs_32_bit_programs ||
                   wine::run_command(quoted(I386_PROGRAMS) + " probe", &reason) == 0;
        }();
        if (!runs) GTEST_SKIP() << reason;
    }
};

template <typename Param>
class WineTestWithParam : public WineTest, public ::testing::WithParamInterface<Param> {};

// The inputs of a call, owned here. An input with a shape text is an array
// without data (standin_create_shape_only); the runner makes its own from
// the shape.
struct Inputs {
    std::vector<mxArray*> arrays;
    std::vector<std::string> shapes;  // "" for an array written to a file
    Inputs() = default;
    Inputs(const Inputs&) = delete;
    Inputs& operator=(const Inputs&) = delete;
    ~Inputs() {
        for (mxArray* array : arrays) mxDestroyArray(array);
    }
    void add(mxArray* array, std::string shape = "") {
        arrays.push_back(array);
        shapes.push_back(std::move(shape));
    }
    void replace(size_t slot, mxArray* array, std::string shape = "") {
        mxDestroyArray(arrays[slot]);
        arrays[slot] = array;
        shapes[slot] = std::move(shape);
    }
    void drop_last() {
        mxDestroyArray(arrays.back());
        arrays.pop_back();
        shapes.pop_back();
    }
};

inline void add_scalar(Inputs& inputs, double value) { inputs.add(testhost::make_scalar(value)); }

// An array of `class_id` and `dims` without data, on both platforms.
inline void add_shape_only(Inputs& inputs, size_t slot, mxClassID class_id, const std::vector<size_t>& dims) {
    std::string shape = std::string("shape:") + (class_id == mxSINGLE_CLASS ? "single" : "double") + ":";
    for (size_t k = 0; k < dims.size(); ++k) shape += (k ? "x" : "") + std::to_string(dims[k]);
    inputs.replace(slot, standin_create_shape_only(class_id, static_cast<int>(dims.size()), dims.data()),
                   shape);
}

// What one call did, in the same terms for both platforms.
struct Outcome {
    std::string status;  // "ok" or "error IDENTIFIER"
    std::string message;
    std::vector<float> singles;
    std::vector<double> doubles;
    std::vector<size_t> dims;
    std::vector<std::string> calls;
    size_t leftover = 0;
    size_t blocks = 0;  // mxMalloc blocks left, which the host freed
    std::vector<std::string> warnings;  // "IDENTIFIER TEXT"
    bool unchanged = true;
    long long heap = 0;      // Windows: heap a repeated call left in use
    bool supported = true;   // Windows cores: whether the path runs here
    double seconds = 0;      // Windows, --time: the fastest call
    int threads_before = -1, threads_most = -1, threads_after = -1;  // Windows, --count-threads
    std::string next;  // Windows, with a failure mode: the status of the call after
    std::string x87;   // Windows: the x87 control word before and after the call
};

inline void take_result(const mxArray* result, Outcome* outcome) {
    outcome->dims = testhost::dimensions(result);
    if (mxGetClassID(result) == mxSINGLE_CLASS) outcome->singles = testhost::single_values(result);
    if (mxGetClassID(result) == mxDOUBLE_CLASS) outcome->doubles = testhost::double_values(result);
}

inline Outcome run_linux(Plugin plugin, const Inputs& inputs, int fail_at = 0) {
    static testhost::Plugin loaded[2];
    testhost::Plugin& entry = loaded[static_cast<int>(plugin)];
    if (entry.entry == nullptr) {
        std::string error;
        entry = testhost::load_plugin(linux_plugin(plugin), &error);
        if (entry.entry == nullptr) ADD_FAILURE() << error;
    }
    testhost::ProgressRecorder recorder;
    recorder.fail_at = fail_at;
    testhost::install_progress_recorder(&recorder);
    testhost::CallResult result = testhost::call(entry, 1, inputs.arrays);
    standin_clear_functions();
    Outcome outcome;
    outcome.status = result.ok ? "ok" : "error " + result.error_id;
    outcome.message = result.error_message;
    if (result.result != nullptr) {
        take_result(result.result, &outcome);
        mxDestroyArray(result.result);
    }
    outcome.calls = describe_calls(recorder.calls);
    outcome.leftover = result.leftover_arrays;
    outcome.blocks = result.leftover_blocks;
    for (const auto& [identifier, text] : result.warnings) outcome.warnings.push_back(identifier + " " + text);
    outcome.unchanged = result.inputs_unchanged;
    return outcome;
}

// The Linux plug-in with one of the stand-in host's failure modes armed
// for the call: "--interrupt-at", "--failing-allocation" or
// "--null-allocation" and its k, as the runner takes them.
inline Outcome run_linux_failing(Plugin plugin, const Inputs& inputs, const std::string& mode, int k) {
    if (mode == "--interrupt-at") standin_set_interrupt_at(k);
    else if (mode == "--failing-allocation") standin_set_failing_allocation(k);
    else if (mode == "--null-allocation") standin_set_null_allocation(k);
    else ADD_FAILURE() << "no failure mode " << mode;
    const Outcome outcome = run_linux(plugin, inputs);
    // As the runner does: a call without failures tidies what the failing
    // call could not (a progress window an interrupted call left open).
    run_linux(plugin, inputs);
    return outcome;
}

// Runs win_runner.exe under the build's wine loader with `options` on
// `inputs`.
inline Outcome run_windows(Plugin plugin, const Inputs& inputs, const std::string& options = "") {
    Outcome outcome;
    ScratchDir dir;
    std::string command = "WINEPREFIX=" + quoted(WINE_PREFIX_DIR) + " WINEARCH=" + kBuild.wine_arch +
                          " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' " + quoted(WINE_LOADER) +
                          " " + quoted(kBuildDir + "/win_runner.exe") + " " + options + " " +
                          windows_path(windows_plugin(plugin)) + " " +
                          windows_path(dir.file("out.mxa")) + " " +
                          windows_path(dir.file("report.txt"));
    for (size_t k = 0; k < inputs.arrays.size(); ++k) {
        if (!inputs.shapes[k].empty()) {
            command += " " + quoted(inputs.shapes[k]);
            continue;
        }
        const std::string path = dir.file("in" + std::to_string(k) + ".mxa");
        EXPECT_TRUE(testhost::write_array_file(path, inputs.arrays[k]));
        command += " " + windows_path(path);
    }
    std::string output;
    const int status = wine::run_command(command, &output);
    EXPECT_EQ(status, 0) << command << "\n" << output;

    std::ifstream report(dir.file("report.txt"));
    std::string line;
    while (std::getline(report, line)) {
        const size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "status") outcome.status = value;
        else if (key == "message") outcome.message = value;
        else if (key == "leftover") outcome.leftover = std::stoul(value);
        else if (key == "blocks") outcome.blocks = std::stoul(value);
        else if (key == "warning") outcome.warnings.push_back(value);
        else if (key == "next") outcome.next = value;
        else if (key == "unchanged") outcome.unchanged = value == "1";
        else if (key == "heap") outcome.heap = std::stoll(value);
        else if (key == "call") outcome.calls.push_back(value);
        else if (key == "supported") outcome.supported = value == "1";
        else if (key == "seconds") outcome.seconds = std::stod(value);
        else if (key == "x87") outcome.x87 = value;
        else if (key == "threads")
            sscanf(value.c_str(), "%d %d %d", &outcome.threads_before, &outcome.threads_most,
                   &outcome.threads_after);
    }
    EXPECT_FALSE(outcome.status.empty()) << "no report from " << command << "\n" << output;
    // The result of the call, or after a failing call that of the next.
    if ((outcome.status == "ok" || outcome.next == "ok") && outcome.supported) {
        std::string error;
        mxArray* result = testhost::read_array_file(dir.file("out.mxa"), &error);
        EXPECT_NE(result, nullptr) << error;
        if (result != nullptr) {
            take_result(result, &outcome);
            mxDestroyArray(result);
        }
    }
    return outcome;
}

// What the two builds must agree on whether or not the call succeeds, and
// a Windows call that leaves nothing behind.
inline void expect_same_ending(const Outcome& linux_outcome, const Outcome& windows) {
    EXPECT_EQ(windows.status, linux_outcome.status);
    EXPECT_EQ(windows.message, linux_outcome.message);
    // The filter leaves no array behind; the scorer leaves the copies of its
    // arguments to the host, as it always has.
    EXPECT_EQ(windows.leftover, linux_outcome.leftover);
    EXPECT_EQ(windows.blocks, linux_outcome.blocks);
    EXPECT_EQ(windows.warnings, linux_outcome.warnings);
    EXPECT_TRUE(windows.unchanged);
    EXPECT_EQ(windows.heap, 0);
}

// The facts besides the values that must agree between the two builds.
inline void expect_same_behaviour(const Outcome& linux_outcome, const Outcome& windows) {
    expect_same_ending(linux_outcome, windows);
    EXPECT_EQ(windows.calls, linux_outcome.calls);
    EXPECT_EQ(windows.dims, linux_outcome.dims);
}

// The largest distance and the count of differing elements.
struct Difference {
    int64_t max_ulps = 0;
    size_t differing = 0;
};

template <typename T>
inline Difference difference(const std::vector<T>& a, const std::vector<T>& b) {
    Difference d;
    for (size_t k = 0; k < a.size() && k < b.size(); ++k) {
        const int64_t ulps = wine::ulps_apart(a[k], b[k]);
        d.max_ulps = std::max(d.max_ulps, ulps);
        d.differing += !same_bits(a[k], b[k]);
    }
    return d;
}

// --- images and volumes ------------------------------------------------------------

// A filter call: an image of log intensities drawn from a fixed seed, and
// the seven scalars.
struct FilterCase {
    const char* name;
    uint32_t rows, cols;
    float low, high;  // log intensities drawn uniformly from [low, high]
    double iterations, lambda;
    double first_row, last_row, first_col, last_col;  // 1-based, inclusive
    double flag;
    int64_t max_x87_ulps = 4;  // the 32-bit build's distance from the Linux results
    bool special = false;      // a few NaN, infinite and huge inputs besides
    uint32_t flat_rows = 0, flat_cols = 0;  // a constant patch at the top left
};

inline void PrintTo(const FilterCase& c, std::ostream* os) { *os << c.name; }

inline std::vector<float> filter_image(const FilterCase& c) {
    std::mt19937 random(c.rows * 7919u + c.cols);
    std::uniform_real_distribution<float> draw(c.low, c.high);
    std::uniform_int_distribution<int> percent(0, 99);
    static const float kSpecial[] = {NAN, INFINITY, -INFINITY, 0.0f, -0.0f, 1e-40f, -95.0f, 89.0f, 45.0f};
    std::uniform_int_distribution<int> pick(0, 8);
    std::vector<float> image(static_cast<size_t>(c.rows) * c.cols);
    for (float& value : image)
        value = c.special && percent(random) < 3 ? kSpecial[pick(random)] : draw(random);
    for (uint32_t j = 0; j < c.flat_cols; ++j)
        for (uint32_t i = 0; i < c.flat_rows; ++i) image[i + c.rows * j] = 1.0f;
    return image;
}

inline void make_filter_inputs(const FilterCase& c, Inputs& inputs) {
    inputs.add(testhost::make_single(c.rows, c.cols, filter_image(c)));
    for (double scalar : {c.iterations, c.lambda, c.first_row, c.last_row, c.first_col, c.last_col, c.flag})
        add_scalar(inputs, scalar);
}

// A scorer call: an image and per-column spans drawn from a fixed seed.
struct ScoreCase {
    const char* name;
    int32_t rows, cols, top_count, bottom_count;
    double top_offset, bottom_offset, prior_weight;
    double span_low, span_high;  // admissible spans of every column
    int64_t max_ulps = 4;
};

inline void PrintTo(const ScoreCase& c, std::ostream* os) { *os << c.name; }

struct ScoreArrays {
    std::vector<double> image, span_mean, span_sd, span_min, span_max;
};

inline ScoreArrays score_arrays(const ScoreCase& c) {
    std::mt19937 random(static_cast<unsigned>(c.rows * 131 + c.cols));
    std::uniform_real_distribution<double> value(-1.0, 3.0), centre(5.0, 30.0), width(2.0, 12.0);
    ScoreArrays a;
    a.image.resize(static_cast<size_t>(c.rows) * c.cols);
    for (double& v : a.image) v = value(random);
    for (int32_t k = 0; k < c.cols; ++k) {
        a.span_mean.push_back(centre(random));
        a.span_sd.push_back(width(random));
        a.span_min.push_back(c.span_low);
        a.span_max.push_back(c.span_high);
    }
    return a;
}

inline void make_score_inputs(const ScoreCase& c, Inputs& inputs) {
    const ScoreArrays a = score_arrays(c);
    const auto row = [](const std::vector<double>& v) { return testhost::make_double({1, v.size()}, v); };
    add_scalar(inputs, c.top_offset);
    add_scalar(inputs, c.bottom_offset);
    inputs.add(testhost::make_double({static_cast<size_t>(c.rows), static_cast<size_t>(c.cols)}, a.image));
    inputs.add(row(a.span_mean));
    inputs.add(row(a.span_sd));
    add_scalar(inputs, c.top_count);
    add_scalar(inputs, c.bottom_count);
    add_scalar(inputs, c.prior_weight);
    inputs.add(row(a.span_min));
    inputs.add(row(a.span_max));
}

// The images both builds' results are compared with Linux's on.
inline const std::vector<FilterCase> kComparedImages = {
    // Ordinary images, with the contrast of speckle: x87 arithmetic differs
    // from Linux's by rounding only, a few ulps.
    {"speckle", 40, 33, 0.0f, 4.0f, 12, 0.2, 5, 20, 3, 15, 0},
    {"lambda_not_single", 19, 23, -2.0f, 3.0f, 8, 0.1, 1, 19, 1, 23, 1},
    {"one_row", 1, 29, 0.0f, 3.0f, 6, 0.2, 1, 1, 3, 9, 0},
    {"one_column", 31, 1, 0.0f, 3.0f, 6, 0.2, 4, 12, 1, 1, 0},
    {"no_iteration", 9, 7, -5.0f, 5.0f, 0, 0.2, 1, 9, 1, 7, 0},
    // A reference region of low contrast, from the start or after many
    // iterations have smoothed it: var = sum2/n - mean^2 cancels, and x87
    // arithmetic rounds mean^2 differently from Linux (not at all), so q0
    // differs by about mean^2/var ulps and the results by more than a few.
    {"low_contrast", 24, 17, 1.0f, 1.5f, 10, 0.25, 3, 8, 2, 6, 0, 32},
    {"many_iterations", 16, 16, 0.5f, 2.5f, 60, 0.24, 2, 14, 2, 14, 3, 32},
};

// Large enough for the plug-ins to start their threads.
inline const FilterCase kThreadedFilter{"threaded", 300, 260, 0.0f, 4.0f, 3, 0.2, 21, 60, 31, 90, 1};
inline const ScoreCase kThreadedScorer{"threaded", 200, 64, 48, 40, 2.0, 9.0, 0.5, 0.0, 200.0};

}  // namespace windows
