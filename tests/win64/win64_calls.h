// Calls of a plug-in on both platforms for the 64-bit Windows suite and
// its timing program: the Linux plug-in through the test host in this
// process, the Windows one through win64_runner.exe under the 64-bit wine
// loader, each reported as an Outcome in the same terms.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>

#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "bits.h"
#include "call_record.h"
#include "test_host.h"
#include "wine_support.h"

namespace win64 {

using wine::quoted;
using wine::ScratchDir;
using wine::windows_path;

inline const std::string kWin64Dir = WIN64_BUILD_DIR;
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

enum class Plugin { kFilter, kScorer };

inline const char* linux_plugin(Plugin p) { return p == Plugin::kFilter ? TARV_C_PLUGIN : BANDSCORE_PLUGIN; }
inline std::string windows_plugin(Plugin p) {
    return kWin64Dir + (p == Plugin::kFilter ? "/TARV_c.mexw64" : "/bandscore.mexw64");
}

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
    return run_linux(plugin, inputs);
}

// Runs win64_runner.exe under the 64-bit wine loader with `options` on
// `inputs`.
inline Outcome run_windows(Plugin plugin, const Inputs& inputs, const std::string& options = "") {
    Outcome outcome;
    ScratchDir dir;
    std::string command = "WINEPREFIX=" + quoted(WINE64_PREFIX_DIR) +
                          " WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' " +
                          quoted(WINE64_LOADER) + " " + quoted(kWin64Dir + "/win64_runner.exe") +
                          " " + options + " " + windows_path(windows_plugin(plugin)) + " " +
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

// The facts besides the values that must agree between the two builds, and
// a Windows call that leaves nothing behind.
inline void expect_same_behaviour(const Outcome& linux_outcome, const Outcome& windows) {
    EXPECT_EQ(windows.status, linux_outcome.status);
    EXPECT_EQ(windows.message, linux_outcome.message);
    EXPECT_EQ(windows.calls, linux_outcome.calls);
    EXPECT_EQ(windows.dims, linux_outcome.dims);
    // The filter leaves no array behind; the scorer leaves the copies of its
    // arguments to the host, as it always has.
    EXPECT_EQ(windows.leftover, linux_outcome.leftover);
    EXPECT_EQ(windows.blocks, linux_outcome.blocks);
    EXPECT_EQ(windows.warnings, linux_outcome.warnings);
    EXPECT_TRUE(windows.unchanged);
    EXPECT_EQ(windows.heap, 0);
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

}  // namespace win64
