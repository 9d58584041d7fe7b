// Declarations of the host operations the plug-ins use: the array library
// (mx...) and the callback library (mex...).
//
// These are written for our own builds. The source calls the plain names;
// the size-dependent operations are bound per platform:
// - the 64-bit Linux and Windows builds and the stand-in host bind their
//   32-bit "_700" names, with int sizes;
// - the macOS builds bind the 64-bit-size "_730" names, with size_t sizes,
//   as a macOS host's own mex builds do by default;
// - the 32-bit Windows build binds every operation under its plain name,
//   as 32-bit Windows hosts name them.
// The GNU Octave build does not use this file (see host_api.h).
#pragma once

#include <stddef.h>

#if defined(_WIN32) && !defined(_WIN64)
#define MEX_BIND_SIZED(plain_name)
#define MEX_ENTRY_POINT extern "C"
#elif defined(_WIN32)
// A 64-bit Windows symbol carries no leading underscore, so the label is
// the name as the host's DLL exports it. The export list is a .def file.
#define MEX_BIND_SIZED(plain_name) __asm__(#plain_name "_700")
#define MEX_ENTRY_POINT extern "C"
#elif defined(__APPLE__)
// A Mach-O symbol is the C name with a leading underscore, which an
// assembler label must spell out.
#define MEX_BIND_SIZED(plain_name) __asm__("_" #plain_name "_730")
#define MEX_ENTRY_POINT extern "C" __attribute__((visibility("default")))
#else
#define MEX_BIND_SIZED(plain_name) __asm__(#plain_name "_700")
#define MEX_ENTRY_POINT extern "C" __attribute__((visibility("default")))
#endif

extern "C" {

typedef struct mxArray_tag mxArray;

// Class codes as the host numbers them.
typedef enum {
    mxUNKNOWN_CLASS = 0,
    mxCELL_CLASS = 1,
    mxSTRUCT_CLASS = 2,
    mxLOGICAL_CLASS = 3,
    mxCHAR_CLASS = 4,
    mxVOID_CLASS = 5,
    mxDOUBLE_CLASS = 6,
    mxSINGLE_CLASS = 7,
    mxINT8_CLASS = 8,
    mxUINT8_CLASS = 9,
    mxINT16_CLASS = 10,
    mxUINT16_CLASS = 11,
    mxINT32_CLASS = 12,
    mxUINT32_CLASS = 13,
    mxINT64_CLASS = 14,
    mxUINT64_CLASS = 15,
    mxFUNCTION_CLASS = 16
} mxClassID;

typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

// One entry of a dimension vector, and every size or dimension count the
// size-dependent operations take or give: 32 bits where they are bound
// under their "_700" names or plain, size_t under the "_730" names.
#if defined(__APPLE__)
typedef size_t mxDimension;
#else
typedef int mxDimension;
#endif

// --- libmx: creation and destruction -------------------------------------
mxArray* mxCreateNumericMatrix(mxDimension m, mxDimension n, mxClassID class_id,
                               mxComplexity complexity) MEX_BIND_SIZED(mxCreateNumericMatrix);
mxArray* mxCreateDoubleMatrix(mxDimension m, mxDimension n, mxComplexity complexity)
    MEX_BIND_SIZED(mxCreateDoubleMatrix);
mxArray* mxCreateNumericArray(mxDimension ndim, const mxDimension* dims, mxClassID class_id,
                              mxComplexity complexity) MEX_BIND_SIZED(mxCreateNumericArray);
mxArray* mxCreateString(const char* text);
mxArray* mxDuplicateArray(const mxArray* array);
void mxDestroyArray(mxArray* array);

// --- libmx: memory ---------------------------------------------------------
// Memory from the host's allocator. A host frees what a call still holds
// when the call ends by an error or an interrupt; a real host raises an
// error when it has no memory left, ours may also return null.
void* mxMalloc(size_t bytes);
void mxFree(void* block);

// --- libmx: access ---------------------------------------------------------
double* mxGetPr(const mxArray* array);
double mxGetScalar(const mxArray* array);
size_t mxGetM(const mxArray* array);
size_t mxGetN(const mxArray* array);
const mxDimension* mxGetDimensions(const mxArray* array) MEX_BIND_SIZED(mxGetDimensions);
mxDimension mxGetNumberOfDimensions(const mxArray* array)
    MEX_BIND_SIZED(mxGetNumberOfDimensions);
size_t mxGetNumberOfElements(const mxArray* array);
mxClassID mxGetClassID(const mxArray* array);
bool mxIsComplex(const mxArray* array);
bool mxIsSparse(const mxArray* array);

// --- libmex: errors and interpreter calls ----------------------------------
// Raises a host error; control does not come back to the caller.
[[noreturn]] void mexErrMsgIdAndTxt(const char* identifier, const char* format, ...);
void mexWarnMsgIdAndTxt(const char* identifier, const char* format, ...);
// Keeps an array alive past the end of the call that made it, until it is
// destroyed; the host otherwise destroys, when a call ends, the arrays the
// call made and did not return.
void mexMakeArrayPersistent(mxArray* array);
// Names a function the host calls when it clears the plug-in (clear mex,
// or its own exit), so that what the plug-in keeps persistent is freed.
int mexAtExit(void (*exit_function)(void));
// Runs an interpreter function; a failure raises a host error.
int mexCallMATLAB(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[], const char* name);
// Runs an interpreter function; a failure comes back as an exception array
// (the caller destroys it), success as a null pointer.
mxArray* mexCallMATLABWithTrap(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[],
                               const char* name);

#if defined(__APPLE__)
// A macOS host asks a plug-in, through its second export
// mexfilerequiredapiversion (host/mex_api_version.cpp), which release built
// it and which matrix API it binds. The release is written as hex digits,
// 0x2023b for R2023b; we give the oldest release each file is meant for:
// R2023b, the first to run natively on Apple silicon, for arm64, and
// R2018a, the first whose mex writes this export, for x86_64. The API is
// the 64-bit-size one whose "_730" names are bound above.
void mexfilerequiredapiversion(unsigned* built_by_release, unsigned* target_api);
#if defined(__aarch64__)
#define MEX_BUILT_BY_RELEASE 0x2023bu
#else
#define MEX_BUILT_BY_RELEASE 0x2018au
#endif
#define MEX_TARGET_API_730 0x07300000u
#endif

}  // extern "C"
