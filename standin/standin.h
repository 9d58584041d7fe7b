// What our stand-in host offers beyond the host operations the plug-ins
// use: the extra array queries the test host needs, and the hooks through
// which it accounts for arrays, catches raised errors and provides
// interpreter functions.
#pragma once

#include <setjmp.h>
#include <stddef.h>
#include <stdint.h>

#include "mex_host.h"

// What the stand-in libraries export: the host operations and the
// functions below. Everything else in them stays private.
#if defined(_WIN32)
#define STANDIN_EXPORT extern "C" __declspec(dllexport)
#else
#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

extern "C" {

// --- libmx ---------------------------------------------------------------
// A new array of any class (sparse only for double and logical), zero-filled.
mxArray* standin_create_array(mxClassID class_id, int ndim, const size_t* dims, bool complex,
                              bool sparse);
// An array with dimensions but no data block: for exercising size limits
// without the memory. Reading its data is the caller's fault.
mxArray* standin_create_shape_only(mxClassID class_id, int ndim, const size_t* dims);
void* mxGetData(const mxArray* array);
void* mxGetImagData(const mxArray* array);
size_t mxGetElementSize(const mxArray* array);
// The dimension vector in full width, and the data of a character array.
const size_t* standin_dimensions(const mxArray* array);
const char* standin_string(const mxArray* array);  // null unless created by mxCreateString

// Every array carries the serial number of its creation. Arrays created at
// or after `first_serial`, other than `keep`, that are still alive are
// destroyed; the count of them is returned.
uint64_t standin_next_serial(void);
uint64_t standin_serial(const mxArray* array);
// Called with every array just before it is destroyed (null to stop).
typedef void (*standin_destroy_hook)(void* context, const mxArray* array);
void standin_set_destroy_hook(standin_destroy_hook hook, void* context);
size_t standin_release_since(uint64_t first_serial, const mxArray* keep);
// Exempts an array from standin_release_since (mexMakeArrayPersistent).
void standin_make_persistent(mxArray* array);
size_t standin_live_arrays(void);
bool standin_is_live(const mxArray* array);

// Blocks from mxMalloc still held: freed here, as a host frees them when a
// call ends, and counted.
size_t standin_release_blocks(void);

// Where a raised error unwinds to: mexErrMsgIdAndTxt, mexCallMATLAB on
// failure, and the failure modes below record the error and longjmp to
// `target` with value 1, past the plug-in's frames, as a real host leaves a
// plug-in. Without a target a raised error is printed and the process
// aborts.
void standin_set_error_target(jmp_buf* target);
[[noreturn]] void standin_raise_error(const char* identifier, const char* message);
const char* standin_error_identifier(void);
const char* standin_error_message(void);

// How a real host fails: with k > 0 the k-th array creation or mxMalloc
// from now on raises "standin:outOfMemory" (a real host raises rather than
// return null), and the k-th interpreter call (mexCallMATLAB or
// mexCallMATLABWithTrap) does not return but leaves the plug-in as the
// user's interrupt does ("standin:interrupted"), which no trap catches.
// standin_set_null_allocation makes the k-th array creation or mxMalloc
// return null instead, as our mxMalloc does when malloc fails. 0 turns a
// mode off.
void standin_set_failing_allocation(int k);
void standin_set_null_allocation(int k);
void standin_set_interrupt_at(int k);
// Counts a host operation of the interpreter; raises the interrupt when due.
void standin_count_interpreter_call(void);

// Exception arrays, as mexCallMATLABWithTrap returns them.
mxArray* standin_create_exception(const char* identifier, const char* message);
const char* standin_exception_identifier(const mxArray* array);  // null if not one
const char* standin_exception_message(const mxArray* array);

// --- libut (a library of its own, for the interrupt tests; see ut.cpp) -----
// Whether the user has interrupted the running call; a plug-in asks it on
// the host's calling thread only.
bool utIsInterruptPending(void);
// No interrupt pending, no question counted, and the calling thread is the
// host's calling thread.
void standin_reset_interrupt(void);
// Sets the answer, from any thread.
void standin_set_interrupt_pending(bool pending);
// How often utIsInterruptPending has been asked since the reset, and how
// often of those by another thread than the host's.
uint64_t standin_interrupt_questions(void);
uint64_t standin_interrupt_questions_elsewhere(void);

// --- libmex --------------------------------------------------------------
// An interpreter function: fills plhs[0 .. nlhs-1] and returns null, or
// returns the identifier of the error it raises (its message in *message).
typedef const char* (*standin_function)(void* context, int nlhs, mxArray* plhs[], int nrhs,
                                        mxArray* prhs[], const char** message);
void standin_register_function(const char* name, standin_function function, void* context);
void standin_clear_functions(void);

// Warnings issued through mexWarnMsgIdAndTxt since they were last cleared.
// Warnings are recorded, not printed: the test host hands them to each
// call's result.
// The exit function a plug-in named during the last call (mexAtExit), or
// null; the test host keeps it with the plug-in and runs it at unloading.
typedef void (*standin_exit_function)(void);
standin_exit_function standin_take_exit_function(void);

size_t standin_warning_count(void);
const char* standin_warning_identifier(size_t k);
const char* standin_warning_message(size_t k);
void standin_clear_warnings(void);
}
