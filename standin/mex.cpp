// libmex.so of the stand-in host: raised errors, warnings and calls of
// interpreter functions, which the test host registers by name.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <map>
#include <string>

#include "standin.h"

namespace {

struct RegisteredFunction {
    standin_function function;
    void* context;
};

std::map<std::string, RegisteredFunction>& functions() {
    static std::map<std::string, RegisteredFunction> registry;
    return registry;
}

jmp_buf* error_target = nullptr;
std::string error_identifier;
std::string error_message;
size_t warning_count = 0;

// Unwinds to the error target with the error recorded in error_identifier
// and error_message. longjmp skips destructors, so nothing on the way here
// may own memory.
[[noreturn]] void raise_recorded_error() {
    if (error_target == nullptr) {
        fprintf(stderr, "stand-in host: error %s: %s (no error target)\n",
                error_identifier.c_str(), error_message.c_str());
        abort();
    }
    longjmp(*error_target, 1);
}

// Runs the named function; a failure is recorded in error_identifier and
// error_message.
bool run_function(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[], const char* name) {
    const auto found = functions().find(name);
    if (found == functions().end()) {
        error_identifier = "standin:undefinedFunction";
        error_message = std::string("undefined function '") + name + "'";
        return false;
    }
    const char* text = "";
    const char* failure =
        found->second.function(found->second.context, nlhs, plhs, nrhs, prhs, &text);
    if (failure == nullptr) return true;
    error_identifier = failure;
    error_message = text != nullptr ? text : "";
    return false;
}

}  // namespace

STANDIN_EXPORT void mexErrMsgIdAndTxt(const char* identifier, const char* format, ...) {
    char message[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    error_identifier = identifier;
    error_message = message;
    raise_recorded_error();
}

STANDIN_EXPORT void mexWarnMsgIdAndTxt(const char* identifier, const char* format, ...) {
    char message[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    ++warning_count;
    fprintf(stderr, "warning %s: %s\n", identifier, message);
}

STANDIN_EXPORT int mexCallMATLAB(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[],
                                 const char* name) {
    if (!run_function(nlhs, plhs, nrhs, prhs, name)) raise_recorded_error();
    return 0;
}

STANDIN_EXPORT mxArray* mexCallMATLABWithTrap(int nlhs, mxArray* plhs[], int nrhs,
                                              mxArray* prhs[], const char* name) {
    if (run_function(nlhs, plhs, nrhs, prhs, name)) return nullptr;
    return standin_create_exception(error_identifier.c_str(), error_message.c_str());
}

STANDIN_EXPORT void standin_register_function(const char* name, standin_function function,
                                              void* context) {
    functions()[name] = RegisteredFunction{function, context};
}

STANDIN_EXPORT void standin_clear_functions(void) { functions().clear(); }

STANDIN_EXPORT void standin_set_error_target(jmp_buf* target) { error_target = target; }

STANDIN_EXPORT const char* standin_error_identifier(void) { return error_identifier.c_str(); }

STANDIN_EXPORT const char* standin_error_message(void) { return error_message.c_str(); }

STANDIN_EXPORT size_t standin_take_warning_count(void) {
    const size_t count = warning_count;
    warning_count = 0;
    return count;
}
