// mexrun: calls a plug-in once through the test host from the command line.
//
//   mexrun [--nlhs N] [--quiet] PLUGIN OUTPUT INPUT...
//   mexrun --help
//
// Each INPUT is an array file or a double scalar written as d:VALUE
// (d:3, d:-0.5, d:NaN, d:Inf). The result in slot 0 is written to OUTPUT as
// an array file (the format is in docs/array-files.md, and summarised by
// --help). Progress bar calls and warnings are shown on standard error.
// Exit status: 0 on success and for --help, 1 when the plug-in raised an
// error (its identifier and message go to standard error), 2 on a usage or
// file error.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "test_host.h"

namespace {

// What --help prints, and a bad call too: the usage and the array-file
// format, which test_host.h defines.
const char kHelp[] =
    "usage: mexrun [--nlhs N] [--quiet] PLUGIN OUTPUT INPUT...\n"
    "       mexrun --help\n"
    "\n"
    "Calls the plug-in PLUGIN (a .mexa64 file) once through the stand-in host\n"
    "and writes its first output to the array file OUTPUT.\n"
    "  INPUT     an array file, or d:VALUE for a double scalar (d:3, d:-0.5, d:NaN, d:Inf)\n"
    "  --nlhs N  the number of outputs to ask for (default 1)\n"
    "  --quiet   do not show the progress bar's calls on standard error\n"
    "\n"
    "Array file: little-endian, elements in column-major order.\n"
    "  bytes 0-3    \"MXA1\"\n"
    "  bytes 4-7    uint32 class code: 3 logical, 4 char, 6 double, 7 single,\n"
    "               8 int8, 9 uint8, 10 int16, 11 uint16, 12 int32, 13 uint32,\n"
    "               14 int64, 15 uint64\n"
    "  bytes 8-11   uint32 complex flag: 0 real, 1 complex\n"
    "  bytes 12-15  uint32 number of dimensions D (1 to 32)\n"
    "  then         D uint64 dimensions, the real elements, and the imaginary\n"
    "               elements if complex\n"
    "The format in full, with an example and how GNU Octave writes and reads\n"
    "it: docs/array-files.md in the project's sources.\n"
    "\n"
    "Exit status: 0 on success, 1 when the plug-in raised an error (identifier\n"
    "and message on standard error), 2 on a usage or file error.\n";

int usage() {
    fputs(kHelp, stderr);
    return 2;
}

const char* show_progress(void* context, int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[],
                          const char**) {
    const bool quiet = context != nullptr;
    if (nlhs >= 1) plhs[0] = testhost::make_scalar(1.0);
    if (!quiet && nrhs >= 1) fprintf(stderr, "waitbar %.6f\n", mxGetScalar(prhs[0]));
    return nullptr;
}

const char* close_progress(void* context, int, mxArray*[], int, mxArray*[], const char**) {
    if (context == nullptr) fprintf(stderr, "close\n");
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    int nlhs = 1;
    bool quiet = false;
    int arg = 1;
    for (; arg < argc && strncmp(argv[arg], "--", 2) == 0; ++arg) {
        if (strcmp(argv[arg], "--help") == 0) {
            fputs(kHelp, stdout);
            return 0;
        } else if (strcmp(argv[arg], "--nlhs") == 0 && arg + 1 < argc) {
            nlhs = atoi(argv[++arg]);
        } else if (strcmp(argv[arg], "--quiet") == 0) {
            quiet = true;
        } else {
            return usage();
        }
    }
    if (argc - arg < 2) return usage();
    const std::string plugin_path = argv[arg];
    const std::string output_path = argv[arg + 1];

    std::vector<mxArray*> inputs;
    for (int k = arg + 2; k < argc; ++k) {
        std::string error;
        mxArray* input = strncmp(argv[k], "d:", 2) == 0
                             ? testhost::make_scalar(strtod(argv[k] + 2, nullptr))
                             : testhost::read_array_file(argv[k], &error);
        if (input == nullptr) {
            fprintf(stderr, "mexrun: %s\n", error.c_str());
            return 2;
        }
        inputs.push_back(input);
    }

    std::string error;
    const testhost::Plugin plugin = testhost::load_plugin(plugin_path, &error);
    if (plugin.entry == nullptr) {
        fprintf(stderr, "mexrun: %s\n", error.c_str());
        return 2;
    }
    void* quiet_context = quiet ? &quiet : nullptr;
    standin_register_function("waitbar", show_progress, quiet_context);
    standin_register_function("close", close_progress, quiet_context);

    const testhost::CallResult result = testhost::call(plugin, nlhs, inputs);
    for (const auto& [identifier, message] : result.warnings)
        fprintf(stderr, "warning %s: %s\n", identifier.c_str(), message.c_str());
    if (!result.ok) {
        fprintf(stderr, "error %s: %s\n", result.error_id.c_str(), result.error_message.c_str());
        return 1;
    }
    if (result.result == nullptr) {
        fprintf(stderr, "mexrun: the plug-in returned nothing in slot 0\n");
        return 1;
    }
    if (!testhost::write_array_file(output_path, result.result)) {
        fprintf(stderr, "mexrun: cannot write %s\n", output_path.c_str());
        return 2;
    }
    mxDestroyArray(result.result);
    for (mxArray* input : inputs) mxDestroyArray(input);
    return 0;
}
