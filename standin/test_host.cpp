#include "test_host.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif
#include <malloc.h>
#include <math.h>
#include <setjmp.h>
#include <stdio.h>
#include <string.h>

namespace testhost {

namespace {

// An input as it was before the call.
struct Snapshot {
    mxClassID class_id;
    std::vector<size_t> dims;
    std::vector<unsigned char> real;
    std::vector<unsigned char> imag;
};

constexpr size_t kLargestSnapshot = size_t{256} << 20;

size_t data_bytes(const mxArray* array) {
    if (mxIsSparse(array)) return 0;
    return mxGetNumberOfElements(array) * mxGetElementSize(array);
}

std::vector<unsigned char> block(const void* data, size_t bytes) {
    const auto* begin = static_cast<const unsigned char*>(data);
    return data == nullptr ? std::vector<unsigned char>{} : std::vector<unsigned char>(begin, begin + bytes);
}

Snapshot take_snapshot(const mxArray* array) {
    Snapshot snapshot{mxGetClassID(array), dimensions(array), {}, {}};
    const size_t bytes = data_bytes(array);
    if (bytes > kLargestSnapshot) return snapshot;  // too large to compare; only its shape is
    snapshot.real = block(mxGetData(array), bytes);
    if (mxIsComplex(array)) snapshot.imag = block(mxGetImagData(array), bytes);
    return snapshot;
}

bool unchanged(const Snapshot& before, const mxArray* array) {
    if (!standin_is_live(array)) return false;
    if (before.class_id != mxGetClassID(array) || before.dims != dimensions(array)) return false;
    const size_t bytes = data_bytes(array);
    if (bytes > kLargestSnapshot) return true;
    return before.real == block(mxGetData(array), bytes) &&
           (!mxIsComplex(array) || before.imag == block(mxGetImagData(array), bytes));
}

// The call itself, apart from any C++ object: a raised error longjmps back
// here, past the plug-in's frames.
bool invoke(MexFunction entry, int nlhs, mxArray** outputs, int nrhs, const mxArray** inputs) {
    jmp_buf target;
    standin_set_error_target(&target);
    if (setjmp(target) != 0) {
        standin_set_error_target(nullptr);
        return false;
    }
    entry(nlhs, outputs, nrhs, inputs);
    standin_set_error_target(nullptr);
    return true;
}

const char* record_call(void* context, const char* name, int nlhs, mxArray* plhs[], int nrhs,
                        mxArray* prhs[], const char** message) {
    auto* recorder = static_cast<ProgressRecorder*>(context);
    InterpreterCall call;
    call.name = name;
    call.nlhs = nlhs;
    for (int k = 0; k < nrhs; ++k) {
        call.inputs.push_back(prhs[k]);
        const bool has_value = prhs[k] != nullptr && mxGetNumberOfElements(prhs[k]) != 0 &&
                               mxGetClassID(prhs[k]) == mxDOUBLE_CLASS;
        call.first_values.push_back(has_value ? mxGetScalar(prhs[k]) : NAN);
        const char* text = prhs[k] != nullptr ? standin_string(prhs[k]) : nullptr;
        call.texts.push_back(text != nullptr ? text : "");
    }
    recorder->calls.push_back(call);
    if (static_cast<int>(recorder->calls.size()) == recorder->fail_at) {
        *message = "the progress window is gone";
        return "testhost:failed";
    }
    if (nlhs >= 1) {
        plhs[0] = make_scalar(static_cast<double>(recorder->handles_returned.size() + 1));
        recorder->handles_returned.push_back(plhs[0]);
    }
    return nullptr;
}

const char* record_waitbar(void* context, int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[],
                           const char** message) {
    return record_call(context, "waitbar", nlhs, plhs, nrhs, prhs, message);
}

const char* record_close(void* context, int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[],
                         const char** message) {
    return record_call(context, "close", nlhs, plhs, nrhs, prhs, message);
}

#if defined(_WIN32)
// A 32-bit Windows plug-in exports its entry point as _mexFunction, a
// 64-bit one as mexFunction.
#if defined(_WIN64)
constexpr char kEntryName[] = "mexFunction";
#else
constexpr char kEntryName[] = "_mexFunction";
#endif

void* open_library(const std::string& path, std::string* error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr)
        *error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return reinterpret_cast<void*>(module);
}

void* find_symbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void close_library(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
#else
constexpr char kEntryName[] = "mexFunction";

void* open_library(const std::string& path, std::string* error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) *error = dlerror();
    return handle;
}

void* find_symbol(void* handle, const char* name) { return dlsym(handle, name); }

void close_library(void* handle) { dlclose(handle); }
#endif

}  // namespace

Plugin load_plugin(const std::string& path, std::string* error) {
    Plugin plugin;
    plugin.handle = open_library(path, error);
    if (plugin.handle == nullptr) return plugin;
    plugin.entry = reinterpret_cast<MexFunction>(find_symbol(plugin.handle, kEntryName));
    if (plugin.entry == nullptr) *error = path + " has no " + kEntryName;
    return plugin;
}

namespace {

// The exit function each loaded plug-in named, by its handle.
std::vector<std::pair<void*, standin_exit_function>>& exit_functions() {
    static std::vector<std::pair<void*, standin_exit_function>> named;
    return named;
}

}  // namespace

void unload_plugin(Plugin* plugin) {
    auto& named = exit_functions();
    for (size_t k = 0; k < named.size(); ++k) {
        if (named[k].first != plugin->handle) continue;
        named[k].second();
        named.erase(named.begin() + static_cast<std::ptrdiff_t>(k));
        break;
    }
    close_library(plugin->handle);
    *plugin = Plugin{};
}

CallResult call(const Plugin& plugin, int nlhs, const std::vector<mxArray*>& inputs,
                bool check_inputs) {
    std::vector<Snapshot> before;
    if (check_inputs)
        for (const mxArray* input : inputs) before.push_back(take_snapshot(input));
    std::vector<const mxArray*> prhs(inputs.begin(), inputs.end());
    std::vector<mxArray*> plhs(nlhs > 1 ? nlhs : 1, nullptr);

    const uint64_t first_serial = standin_next_serial();
    standin_clear_warnings();
    CallResult result;
    result.ok = invoke(plugin.entry, nlhs, plhs.data(), static_cast<int>(prhs.size()), prhs.data());
    if (result.ok) {
        result.result = plhs[0];
    } else {
        result.error_id = standin_error_identifier();
        result.error_message = standin_error_message();
    }
    standin_set_failing_allocation(0);
    standin_set_null_allocation(0);
    standin_set_interrupt_at(0);
    if (const standin_exit_function named = standin_take_exit_function()) {
        bool known = false;
        for (auto& [handle, function] : exit_functions())
            if (handle == plugin.handle) function = named, known = true;
        if (!known) exit_functions().emplace_back(plugin.handle, named);
    }
    result.leftover_arrays = standin_release_since(first_serial, result.result);
    result.leftover_blocks = standin_release_blocks();
    for (size_t k = 0; k < standin_warning_count(); ++k)
        result.warnings.emplace_back(standin_warning_identifier(k), standin_warning_message(k));
    standin_clear_warnings();
    for (size_t k = 0; k < before.size(); ++k)
        result.inputs_unchanged = result.inputs_unchanged && unchanged(before[k], inputs[k]);
    return result;
}

#if defined(_WIN32)
// Busy blocks of every heap of the process: the runtime's malloc (whichever
// runtime DLL a module imports it from) allocates from one of them. Small
// blocks that a heap carves out of a bigger busy one count with it.
size_t heap_in_use() {
    HANDLE heaps[64];
    const DWORD count = GetProcessHeaps(64, heaps);
    size_t total = 0;
    for (DWORD h = 0; h < count && h < 64; ++h) {
        PROCESS_HEAP_ENTRY entry{};
        HeapLock(heaps[h]);
        while (HeapWalk(heaps[h], &entry))
            if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) total += entry.cbData;
        HeapUnlock(heaps[h]);
    }
    return total;
}
#else
size_t heap_in_use() { return mallinfo2().uordblks; }
#endif

mxArray* make_array(mxClassID class_id, const std::vector<size_t>& dims, bool complex,
                    bool sparse) {
    return standin_create_array(class_id, static_cast<int>(dims.size()), dims.data(), complex,
                                sparse);
}

mxArray* make_single(size_t rows, size_t cols, const std::vector<float>& values) {
    mxArray* array = make_array(mxSINGLE_CLASS, {rows, cols});
    if (!values.empty()) memcpy(mxGetData(array), values.data(), sizeof(float) * rows * cols);
    return array;
}

mxArray* make_double(const std::vector<size_t>& dims, const std::vector<double>& values) {
    mxArray* array = make_array(mxDOUBLE_CLASS, dims);
    if (!values.empty()) memcpy(mxGetData(array), values.data(), sizeof(double) * mxGetNumberOfElements(array));
    return array;
}

mxArray* make_scalar(double value) { return make_double({1, 1}, {value}); }

std::vector<float> single_values(const mxArray* array) {
    const auto* data = static_cast<const float*>(mxGetData(array));
    return data == nullptr ? std::vector<float>{}
                           : std::vector<float>(data, data + mxGetNumberOfElements(array));
}

std::vector<double> double_values(const mxArray* array) {
    const auto* data = static_cast<const double*>(mxGetData(array));
    return data == nullptr ? std::vector<double>{}
                           : std::vector<double>(data, data + mxGetNumberOfElements(array));
}

std::vector<size_t> dimensions(const mxArray* array) {
    const size_t* dims = standin_dimensions(array);
    return std::vector<size_t>(dims, dims + mxGetNumberOfDimensions(array));
}

bool write_array_file(const std::string& path, const mxArray* array) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const std::vector<size_t> dims = dimensions(array);
    const uint32_t header[3] = {static_cast<uint32_t>(mxGetClassID(array)),
                                mxIsComplex(array) ? 1u : 0u, static_cast<uint32_t>(dims.size())};
    bool ok = fwrite("MXA1", 1, 4, file) == 4 && fwrite(header, sizeof header, 1, file) == 1;
    for (size_t d : dims) {
        const uint64_t extent = d;
        ok = ok && fwrite(&extent, sizeof extent, 1, file) == 1;
    }
    const size_t bytes = data_bytes(array);
    if (bytes != 0) {
        ok = ok && fwrite(mxGetData(array), 1, bytes, file) == bytes;
        if (mxIsComplex(array)) ok = ok && fwrite(mxGetImagData(array), 1, bytes, file) == bytes;
    }
    return fclose(file) == 0 && ok;
}

mxArray* read_array_file(const std::string& path, std::string* error) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = "cannot open " + path;
        return nullptr;
    }
    char magic[4];
    uint32_t header[3];
    bool ok = fread(magic, 1, 4, file) == 4 && memcmp(magic, "MXA1", 4) == 0 &&
              fread(header, sizeof header, 1, file) == 1 && header[2] >= 1 && header[2] <= 32;
    std::vector<size_t> dims;
    for (uint32_t k = 0; ok && k < header[2]; ++k) {
        uint64_t extent;
        ok = fread(&extent, sizeof extent, 1, file) == 1;
        dims.push_back(extent);
    }
    mxArray* array = nullptr;
    if (ok) {
        array = make_array(static_cast<mxClassID>(header[0]), dims, header[1] != 0);
        const size_t bytes = data_bytes(array);
        if (bytes != 0) {
            ok = fread(mxGetData(array), 1, bytes, file) == bytes;
            if (header[1] != 0) ok = ok && fread(mxGetImagData(array), 1, bytes, file) == bytes;
        }
    }
    fclose(file);
    if (!ok) {
        *error = path + " is not a complete array file";
        mxDestroyArray(array);
        return nullptr;
    }
    return array;
}

void install_progress_recorder(ProgressRecorder* recorder) {
    standin_register_function("waitbar", record_waitbar, recorder);
    standin_register_function("close", record_close, recorder);
}

}  // namespace testhost
