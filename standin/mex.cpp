// libmex.so of the stand-in host: raised errors, warnings and calls of
// interpreter functions, which the test host registers by name.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

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

struct Warning {
    std::string identifier;
    std::string message;
};
std::vector<Warning>& warnings() {
    static std::vector<Warning> issued;
    return issued;
}

// The error of the last failed interpreter function.
std::string failure_identifier;
std::string failure_message;

// Runs the named function; a failure is recorded in failure_identifier and
// failure_message. An interrupt due now leaves from here.
bool run_function(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[], const char* name) {
    standin_count_interpreter_call();
    const auto found = functions().find(name);
    if (found == functions().end()) {
        failure_identifier = "standin:undefinedFunction";
        failure_message = std::string("undefined function '") + name + "'";
        return false;
    }
    const char* text = "";
    const char* failure =
        found->second.function(found->second.context, nlhs, plhs, nrhs, prhs, &text);
    if (failure == nullptr) return true;
    failure_identifier = failure;
    failure_message = text != nullptr ? text : "";
    return false;
}

}  // namespace

STANDIN_EXPORT void mexErrMsgIdAndTxt(const char* identifier, const char* format, ...) {
    char message[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    standin_raise_error(identifier, message);
}

STANDIN_EXPORT void mexWarnMsgIdAndTxt(const char* identifier, const char* format, ...) {
    char message[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    warnings().push_back(Warning{identifier, message});
}

STANDIN_EXPORT int mexCallMATLAB(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[],
                                 const char* name) {
    if (!run_function(nlhs, plhs, nrhs, prhs, name))
        standin_raise_error(failure_identifier.c_str(), failure_message.c_str());
    return 0;
}

STANDIN_EXPORT mxArray* mexCallMATLABWithTrap(int nlhs, mxArray* plhs[], int nrhs,
                                              mxArray* prhs[], const char* name) {
    if (run_function(nlhs, plhs, nrhs, prhs, name)) return nullptr;
    return standin_create_exception(failure_identifier.c_str(), failure_message.c_str());
}

STANDIN_EXPORT void mexMakeArrayPersistent(mxArray* array) { standin_make_persistent(array); }

namespace {
standin_exit_function exit_function_named = nullptr;
}  // namespace

STANDIN_EXPORT int mexAtExit(standin_exit_function exit_function) {
    exit_function_named = exit_function;
    return 0;
}

STANDIN_EXPORT standin_exit_function standin_take_exit_function(void) {
    const standin_exit_function named = exit_function_named;
    exit_function_named = nullptr;
    return named;
}

STANDIN_EXPORT void standin_register_function(const char* name, standin_function function,
                                              void* context) {
    functions()[name] = RegisteredFunction{function, context};
}

STANDIN_EXPORT void standin_clear_functions(void) { functions().clear(); }

STANDIN_EXPORT size_t standin_warning_count(void) { return warnings().size(); }

STANDIN_EXPORT const char* standin_warning_identifier(size_t k) {
    return warnings().at(k).identifier.c_str();
}

STANDIN_EXPORT const char* standin_warning_message(size_t k) {
    return warnings().at(k).message.c_str();
}

STANDIN_EXPORT void standin_clear_warnings(void) {
    warnings().clear();
    warnings().shrink_to_fit();
}
