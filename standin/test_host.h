// The test host: loads a plug-in as a real host does, builds argument
// arrays, calls mexFunction, catches raised errors, and accounts for every
// array the call created.
#pragma once

#include <stddef.h>

#include <string>
#include <vector>

#include "standin.h"

namespace testhost {

using MexFunction = void (*)(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

struct Plugin {
    void* handle = nullptr;
    MexFunction entry = nullptr;
};

// Loads a plug-in as the platform's loader does (dlopen, or LoadLibrary on
// Windows) and finds its entry point (mexFunction, or _mexFunction in a
// 32-bit Windows plug-in). On failure the returned plugin has no entry and
// `error` says why.
Plugin load_plugin(const std::string& path, std::string* error);

// Runs the exit function the plug-in named (mexAtExit), as a host that
// clears a plug-in does, then unloads it.
void unload_plugin(Plugin* plugin);

struct CallResult {
    bool ok = false;  // returned normally rather than raising an error
    std::string error_id;
    std::string error_message;
    mxArray* result = nullptr;  // slot 0 after a normal return; destroy it with mxDestroyArray
    // Arrays the call created that it neither returned in slot 0 nor
    // destroyed; the host has destroyed them. After an error, slot 0 counts
    // among them.
    size_t leftover_arrays = 0;
    // Blocks from mxMalloc the call still held when it ended; the host has
    // freed them, as every host does when a call ends by an error.
    size_t leftover_blocks = 0;
    bool inputs_unchanged = true;  // every input's class, size and data as before the call
    // The warnings the call issued: identifier, then message.
    std::vector<std::pair<std::string, std::string>> warnings;
};

// Calls the plug-in with `inputs` (which stay the caller's) asking for
// `nlhs` outputs. Slot 0 of the output list exists even when nlhs is 0.
// The failure modes set before (standin_set_failing_allocation,
// standin_set_null_allocation, standin_set_interrupt_at) apply to this call and are off after it.
// Without `check_inputs` the inputs are not compared with copies taken
// before the call (for timing calls as a host makes them).
CallResult call(const Plugin& plugin, int nlhs, const std::vector<mxArray*>& inputs,
                bool check_inputs = true);

// Bytes of the process heap in use.
size_t heap_in_use();

// --- building arrays -------------------------------------------------------
mxArray* make_array(mxClassID class_id, const std::vector<size_t>& dims, bool complex = false,
                    bool sparse = false);
mxArray* make_single(size_t rows, size_t cols, const std::vector<float>& values);
mxArray* make_double(const std::vector<size_t>& dims, const std::vector<double>& values);
mxArray* make_scalar(double value);
// The data of a single or double array as a vector.
std::vector<float> single_values(const mxArray* array);
std::vector<double> double_values(const mxArray* array);
std::vector<size_t> dimensions(const mxArray* array);

// --- array files -------------------------------------------------------------
// A plain file format both our tools and interpreter scripts read and
// write: "MXA1", then uint32 class code, uint32 complex flag, uint32 number
// of dimensions, uint64 dimensions, then the real block and the imaginary
// block (if complex), all little-endian.
bool write_array_file(const std::string& path, const mxArray* array);
mxArray* read_array_file(const std::string& path, std::string* error);

// --- interpreter functions -----------------------------------------------
// One recorded call of "waitbar" or "close".
struct InterpreterCall {
    std::string name;
    int nlhs = 0;
    std::vector<const mxArray*> inputs;  // handles as passed
    std::vector<double> first_values;    // each input's first element (NaN if empty)
    std::vector<std::string> texts;      // each input's text, for character arrays
};

// Records every call of "waitbar" and "close". The opening "waitbar" call
// (one output) returns a fresh handle. If fail_at is k > 0, the k-th call
// (1-based, counting both functions) fails with "testhost:failed".
struct ProgressRecorder {
    std::vector<InterpreterCall> calls;
    int fail_at = 0;
    std::vector<mxArray*> handles_returned;
};

// Registers "waitbar" and "close" as recording functions (replacing any
// earlier ones).
void install_progress_recorder(ProgressRecorder* recorder);

}  // namespace testhost
