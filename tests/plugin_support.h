// Helpers for calling a built plug-in through the test host.
#pragma once

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "test_host.h"

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Loads the plug-in at `path` once per process.
inline const testhost::Plugin& plugin_at(const char* path) {
    static std::string loaded_path;
    static testhost::Plugin plugin;
    if (loaded_path != path) {
        std::string error;
        plugin = testhost::load_plugin(path, &error);
        if (plugin.entry == nullptr) ADD_FAILURE() << "cannot load " << path << ": " << error;
        loaded_path = path;
    }
    return plugin;
}

// Input arrays of one call, destroyed with it.
struct Inputs {
    std::vector<mxArray*> arrays;
    Inputs() = default;
    explicit Inputs(std::vector<mxArray*> list) : arrays(std::move(list)) {}
    Inputs(const Inputs&) = delete;
    Inputs& operator=(const Inputs&) = delete;
    Inputs(Inputs&&) = default;
    Inputs& operator=(Inputs&&) = default;
    ~Inputs() {
        for (mxArray* array : arrays) mxDestroyArray(array);
    }
};

// Puts `array` in place of input `slot`, destroying the one it replaces.
inline void replace(Inputs& inputs, int slot, mxArray* array) {
    mxDestroyArray(inputs.arrays[slot]);
    inputs.arrays[slot] = array;
}

// A call's result, destroyed with it.
struct Outcome {
    testhost::CallResult call;
    Outcome(const Outcome&) = delete;
    Outcome& operator=(const Outcome&) = delete;
    explicit Outcome(testhost::CallResult result) : call(std::move(result)) {}
    Outcome(Outcome&& other) noexcept : call(std::move(other.call)) { other.call.result = nullptr; }
    ~Outcome() {
        if (call.result != nullptr) mxDestroyArray(call.result);
    }
};

// Records "waitbar" and "close" calls while it lives.
struct RecordedProgress {
    testhost::ProgressRecorder recorder;
    explicit RecordedProgress(int fail_at = 0) {
        recorder.fail_at = fail_at;
        testhost::install_progress_recorder(&recorder);
    }
    RecordedProgress(const RecordedProgress&) = delete;
    RecordedProgress& operator=(const RecordedProgress&) = delete;
    ~RecordedProgress() { standin_clear_functions(); }
    const std::vector<testhost::InterpreterCall>& calls() const { return recorder.calls; }
};

// Runs `body` twice and reports how much more heap is in use after the
// second run than before it (the first run lets one-off host buffers grow).
// glibc's per-thread cache counts freed blocks as in use, so the count is
// exact only with the cache off: ctest runs the tests with
// GLIBC_TUNABLES=glibc.malloc.tcache_count=0.
template <typename Body>
long heap_growth(Body body) {
    body();
    const size_t before = testhost::heap_in_use();
    body();
    return static_cast<long>(testhost::heap_in_use()) - static_cast<long>(before);
}
