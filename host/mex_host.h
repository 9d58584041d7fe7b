// Declarations of the host operations the plug-ins use: the array library
// (mx...) and the callback library (mex...).
//
// These are written for our own builds: the 64-bit builds (Linux and
// Windows) and the stand-in host bind the size-dependent operations under
// their 32-bit "_700" names with int sizes, while the source calls the
// plain names; the 32-bit Windows build binds every operation under its
// plain name, as 32-bit Windows hosts name them. The GNU Octave build does
// not use this file (see host_api.h).
#pragma once

#include <stddef.h>

#if defined(_WIN32) && !defined(_WIN64)
#define MEX_BIND_700(plain_name)
#define MEX_ENTRY_POINT extern "C"
#elif defined(_WIN32)
// A 64-bit Windows symbol carries no leading underscore, so the label is
// the name as the host's DLL exports it. The export list is a .def file.
#define MEX_BIND_700(plain_name) __asm__(#plain_name "_700")
#define MEX_ENTRY_POINT extern "C"
#else
#define MEX_BIND_700(plain_name) __asm__(#plain_name "_700")
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

// One entry of a dimension vector: 32 bits in every build of this file.
typedef int mxDimension;

// --- libmx: creation and destruction -------------------------------------
mxArray* mxCreateNumericMatrix(int m, int n, mxClassID class_id, mxComplexity complexity)
    MEX_BIND_700(mxCreateNumericMatrix);
mxArray* mxCreateDoubleMatrix(int m, int n, mxComplexity complexity)
    MEX_BIND_700(mxCreateDoubleMatrix);
mxArray* mxCreateNumericArray(int ndim, const int* dims, mxClassID class_id,
                              mxComplexity complexity) MEX_BIND_700(mxCreateNumericArray);
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
const int* mxGetDimensions(const mxArray* array) MEX_BIND_700(mxGetDimensions);
int mxGetNumberOfDimensions(const mxArray* array) MEX_BIND_700(mxGetNumberOfDimensions);
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
// Runs an interpreter function; a failure raises a host error.
int mexCallMATLAB(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[], const char* name);
// Runs an interpreter function; a failure comes back as an exception array
// (the caller destroys it), success as a null pointer.
mxArray* mexCallMATLABWithTrap(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[],
                               const char* name);

}  // extern "C"
