// libmx.so of the stand-in host: arrays of every class over a plain model
// (class, dimensions, real and imaginary blocks, a sparse flag), with an
// account of every live array so the test host can find what a plug-in
// left behind.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <unordered_map>
#include <unordered_set>

#include "array.h"
#include "standin.h"

namespace {

constexpr uint32_t kArrayMagic = 0x6d784172;  // "mxAr"

uint64_t next_serial = 1;
standin_destroy_hook destroy_hook = nullptr;
void* destroy_hook_context = nullptr;
std::unordered_map<const mxArray*, uint64_t>& live_arrays() {
    static std::unordered_map<const mxArray*, uint64_t> arrays;
    return arrays;
}

// Arrays a plug-in made persistent: they outlive the call that made them,
// until the plug-in destroys them.
std::unordered_set<const mxArray*>& persistent_arrays() {
    static std::unordered_set<const mxArray*> arrays;
    return arrays;
}

std::unordered_map<void*, size_t>& live_blocks() {
    static std::unordered_map<void*, size_t> blocks;
    return blocks;
}

jmp_buf* error_target = nullptr;
std::string error_identifier;
std::string error_message;
int allocations_until_failure = 0;
int allocations_until_null = 0;
int interpreter_calls_until_interrupt = 0;

// Counts one event toward a failure mode; true when the mode is due now.
bool due(int* countdown) {
    if (*countdown <= 0) return false;
    return --*countdown == 0;
}

// Every host operation that creates an array or allocates goes through
// here first; true when it is to fail by returning null.
bool allocation_fails() {
    if (due(&allocations_until_failure))
        standin_raise_error("standin:outOfMemory", "Out of memory.");
    return due(&allocations_until_null);
}

[[noreturn]] void host_fault(const char* what, const void* array) {
    fprintf(stderr, "stand-in host: %s (array %p)\n", what, array);
    abort();
}

const mxArray* checked(const mxArray* array, const char* operation) {
    if (array == nullptr || live_arrays().count(array) == 0) host_fault(operation, array);
    return array;
}

size_t element_size(mxClassID class_id) {
    switch (class_id) {
        case mxLOGICAL_CLASS:
        case mxINT8_CLASS:
        case mxUINT8_CLASS: return 1;
        case mxCHAR_CLASS:
        case mxINT16_CLASS:
        case mxUINT16_CLASS: return 2;
        case mxSINGLE_CLASS:
        case mxINT32_CLASS:
        case mxUINT32_CLASS: return 4;
        case mxDOUBLE_CLASS:
        case mxINT64_CLASS:
        case mxUINT64_CLASS: return 8;
        default: return 0;
    }
}

size_t element_count(const mxArray* array) {
    size_t count = 1;
    for (size_t d : array->dims) count *= d;
    return count;
}

void* zeroed_block(size_t count, size_t size) {
    if (count == 0 || size == 0) return nullptr;
    void* block = calloc(count, size);
    if (block == nullptr) host_fault("out of memory", nullptr);
    return block;
}

mxArray* new_array(mxClassID class_id, int ndim, const size_t* dims, bool complex, bool sparse,
                   bool with_data = true) {
    auto* array = new mxArray_tag{};
    array->magic = kArrayMagic;
    array->class_id = class_id;
    array->complex = complex;
    array->sparse = sparse;
    array->serial = next_serial++;
    array->dims.assign(dims, dims + ndim);
    while (array->dims.size() < 2) array->dims.push_back(1);
    // Trailing singleton dimensions beyond the second are dropped, as hosts do.
    while (array->dims.size() > 2 && array->dims.back() == 1) array->dims.pop_back();
    for (size_t d : array->dims) array->dims32.push_back(static_cast<int>(d));
    // A sparse array keeps only its nonzeros, and has none here.
    const size_t count = sparse || !with_data ? 0 : element_count(array);
    array->real = zeroed_block(count, element_size(class_id));
    array->imag = complex ? zeroed_block(count, element_size(class_id)) : nullptr;
    live_arrays().emplace(array, array->serial);
    return array;
}

mxArray* new_array_32(mxClassID class_id, int ndim, const int* dims, bool complex) {
    std::vector<size_t> wide;
    for (int k = 0; k < ndim; ++k) wide.push_back(dims[k] < 0 ? 0 : static_cast<size_t>(dims[k]));
    return new_array(class_id, ndim, wide.data(), complex, false);
}

template <typename T>
double first_as_double(const void* data) {
    T value;
    memcpy(&value, data, sizeof value);
    return static_cast<double>(value);
}

}  // namespace

STANDIN_EXPORT mxArray* standin_create_array(mxClassID class_id, int ndim, const size_t* dims,
                                             bool complex, bool sparse) {
    return new_array(class_id, ndim, dims, complex, sparse);
}

STANDIN_EXPORT mxArray* standin_create_shape_only(mxClassID class_id, int ndim, const size_t* dims) {
    return new_array(class_id, ndim, dims, false, false, false);
}

STANDIN_EXPORT mxArray* mxCreateNumericMatrix(int m, int n, mxClassID class_id,
                                              mxComplexity complexity) {
    if (allocation_fails()) return nullptr;
    const int dims[2] = {m, n};
    return new_array_32(class_id, 2, dims, complexity == mxCOMPLEX);
}

STANDIN_EXPORT mxArray* mxCreateDoubleMatrix(int m, int n, mxComplexity complexity) {
    if (allocation_fails()) return nullptr;
    const int dims[2] = {m, n};
    return new_array_32(mxDOUBLE_CLASS, 2, dims, complexity == mxCOMPLEX);
}

STANDIN_EXPORT mxArray* mxCreateNumericArray(int ndim, const int* dims, mxClassID class_id,
                                             mxComplexity complexity) {
    if (allocation_fails()) return nullptr;
    return new_array_32(class_id, ndim, dims, complexity == mxCOMPLEX);
}

STANDIN_EXPORT mxArray* mxCreateString(const char* text) {
    if (allocation_fails()) return nullptr;
    const size_t length = strlen(text);
    const size_t dims[2] = {1, length};
    mxArray* array = new_array(mxCHAR_CLASS, 2, dims, false, false);
    auto* chars = static_cast<uint16_t*>(array->real);
    for (size_t k = 0; k < length; ++k) chars[k] = static_cast<unsigned char>(text[k]);
    array->text = text;
    return array;
}

STANDIN_EXPORT mxArray* standin_create_exception(const char* identifier, const char* message) {
    const size_t dims[2] = {1, 1};
    mxArray* array = new_array(mxSTRUCT_CLASS, 2, dims, false, false);
    array->is_exception = true;
    array->identifier = identifier;
    array->text = message;
    return array;
}

STANDIN_EXPORT mxArray* mxDuplicateArray(const mxArray* source) {
    if (allocation_fails()) return nullptr;
    checked(source, "mxDuplicateArray of an array that is not alive");
    mxArray* copy = new_array(source->class_id, static_cast<int>(source->dims.size()),
                              source->dims.data(), source->complex, source->sparse);
    const size_t bytes = source->sparse ? 0 : element_count(source) * element_size(source->class_id);
    if (bytes != 0 && source->real != nullptr) {
        memcpy(copy->real, source->real, bytes);
        if (source->complex) memcpy(copy->imag, source->imag, bytes);
    }
    copy->text = source->text;
    copy->identifier = source->identifier;
    copy->is_exception = source->is_exception;
    return copy;
}

STANDIN_EXPORT void mxDestroyArray(mxArray* array) {
    if (array == nullptr) return;
    checked(array, "mxDestroyArray of an array that is not alive");
    if (destroy_hook != nullptr) destroy_hook(destroy_hook_context, array);
    live_arrays().erase(array);
    persistent_arrays().erase(array);
    free(array->real);
    free(array->imag);
    array->magic = 0;
    delete array;
}

STANDIN_EXPORT double* mxGetPr(const mxArray* array) {
    return static_cast<double*>(checked(array, "mxGetPr of a dead array")->real);
}

STANDIN_EXPORT void* mxGetData(const mxArray* array) {
    return checked(array, "mxGetData of a dead array")->real;
}

STANDIN_EXPORT void* mxGetImagData(const mxArray* array) {
    return checked(array, "mxGetImagData of a dead array")->imag;
}

STANDIN_EXPORT double mxGetScalar(const mxArray* array) {
    checked(array, "mxGetScalar of a dead array");
    const void* data = array->real;
    if (data == nullptr) return 0.0;
    switch (array->class_id) {
        case mxDOUBLE_CLASS: return first_as_double<double>(data);
        case mxSINGLE_CLASS: return first_as_double<float>(data);
        case mxLOGICAL_CLASS:
        case mxUINT8_CLASS: return first_as_double<uint8_t>(data);
        case mxINT8_CLASS: return first_as_double<int8_t>(data);
        case mxCHAR_CLASS:
        case mxUINT16_CLASS: return first_as_double<uint16_t>(data);
        case mxINT16_CLASS: return first_as_double<int16_t>(data);
        case mxINT32_CLASS: return first_as_double<int32_t>(data);
        case mxUINT32_CLASS: return first_as_double<uint32_t>(data);
        case mxINT64_CLASS: return first_as_double<int64_t>(data);
        case mxUINT64_CLASS: return first_as_double<uint64_t>(data);
        default: return 0.0;
    }
}

STANDIN_EXPORT size_t mxGetM(const mxArray* array) {
    return checked(array, "mxGetM of a dead array")->dims[0];
}

STANDIN_EXPORT size_t mxGetN(const mxArray* array) {
    checked(array, "mxGetN of a dead array");
    size_t n = 1;
    for (size_t k = 1; k < array->dims.size(); ++k) n *= array->dims[k];
    return n;
}

STANDIN_EXPORT const int* mxGetDimensions(const mxArray* array) {
    return checked(array, "mxGetDimensions of a dead array")->dims32.data();
}

STANDIN_EXPORT const size_t* standin_dimensions(const mxArray* array) {
    return checked(array, "dimensions of a dead array")->dims.data();
}

STANDIN_EXPORT int mxGetNumberOfDimensions(const mxArray* array) {
    return static_cast<int>(checked(array, "mxGetNumberOfDimensions of a dead array")->dims.size());
}

STANDIN_EXPORT size_t mxGetNumberOfElements(const mxArray* array) {
    return element_count(checked(array, "mxGetNumberOfElements of a dead array"));
}

STANDIN_EXPORT size_t mxGetElementSize(const mxArray* array) {
    return element_size(checked(array, "mxGetElementSize of a dead array")->class_id);
}

STANDIN_EXPORT mxClassID mxGetClassID(const mxArray* array) {
    return checked(array, "mxGetClassID of a dead array")->class_id;
}

STANDIN_EXPORT bool mxIsComplex(const mxArray* array) {
    return checked(array, "mxIsComplex of a dead array")->complex;
}

STANDIN_EXPORT bool mxIsSparse(const mxArray* array) {
    return checked(array, "mxIsSparse of a dead array")->sparse;
}

STANDIN_EXPORT const char* standin_string(const mxArray* array) {
    checked(array, "string of a dead array");
    return array->class_id == mxCHAR_CLASS ? array->text.c_str() : nullptr;
}

STANDIN_EXPORT const char* standin_exception_identifier(const mxArray* array) {
    return checked(array, "exception of a dead array")->is_exception ? array->identifier.c_str()
                                                                      : nullptr;
}

STANDIN_EXPORT const char* standin_exception_message(const mxArray* array) {
    return checked(array, "exception of a dead array")->is_exception ? array->text.c_str()
                                                                      : nullptr;
}

STANDIN_EXPORT uint64_t standin_next_serial(void) { return next_serial; }

STANDIN_EXPORT uint64_t standin_serial(const mxArray* array) {
    return checked(array, "serial of a dead array")->serial;
}

STANDIN_EXPORT void standin_set_destroy_hook(standin_destroy_hook hook, void* context) {
    destroy_hook = hook;
    destroy_hook_context = context;
}

STANDIN_EXPORT void standin_make_persistent(mxArray* array) {
    persistent_arrays().insert(checked(array, "mexMakeArrayPersistent of a dead array"));
}

STANDIN_EXPORT size_t standin_release_since(uint64_t first_serial, const mxArray* keep) {
    std::vector<mxArray*> leftovers;
    for (const auto& [array, serial] : live_arrays())
        if (serial >= first_serial && array != keep && persistent_arrays().count(array) == 0)
            leftovers.push_back(const_cast<mxArray*>(array));
    for (mxArray* array : leftovers) mxDestroyArray(array);
    return leftovers.size();
}

STANDIN_EXPORT size_t standin_live_arrays(void) { return live_arrays().size(); }

STANDIN_EXPORT bool standin_is_live(const mxArray* array) { return live_arrays().count(array) != 0; }

STANDIN_EXPORT void* mxMalloc(size_t bytes) {
    if (allocation_fails()) return nullptr;
    // A failed allocation returns null here; a real host raises instead.
    void* block = malloc(bytes == 0 ? 1 : bytes);
    if (block != nullptr) live_blocks().emplace(block, bytes);
    return block;
}

STANDIN_EXPORT void mxFree(void* block) {
    if (block == nullptr) return;
    if (live_blocks().erase(block) == 0) host_fault("mxFree of a block that is not live", block);
    free(block);
}

STANDIN_EXPORT size_t standin_release_blocks(void) {
    const size_t count = live_blocks().size();
    for (const auto& [block, bytes] : live_blocks()) free(block);
    live_blocks().clear();
    return count;
}

STANDIN_EXPORT void standin_set_error_target(jmp_buf* target) { error_target = target; }

// longjmp skips destructors, so nothing on the way to the target may own
// memory.
STANDIN_EXPORT void standin_raise_error(const char* identifier, const char* message) {
    error_identifier = identifier;
    error_message = message;
    if (error_target == nullptr) {
        fprintf(stderr, "stand-in host: error %s: %s (no error target)\n", identifier, message);
        abort();
    }
    longjmp(*error_target, 1);
}

STANDIN_EXPORT const char* standin_error_identifier(void) { return error_identifier.c_str(); }

STANDIN_EXPORT const char* standin_error_message(void) { return error_message.c_str(); }

STANDIN_EXPORT void standin_set_failing_allocation(int k) { allocations_until_failure = k; }

STANDIN_EXPORT void standin_set_null_allocation(int k) { allocations_until_null = k; }

STANDIN_EXPORT void standin_set_interrupt_at(int k) { interpreter_calls_until_interrupt = k; }

STANDIN_EXPORT void standin_count_interpreter_call(void) {
    if (due(&interpreter_calls_until_interrupt))
        standin_raise_error("standin:interrupted", "Operation terminated by user.");
}
