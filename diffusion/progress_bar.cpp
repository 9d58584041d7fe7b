#include "progress_bar.h"

namespace {

const char kTitle[] = "TARV: Diffusing Image";

// Calls an interpreter function so that its failure comes back here rather
// than unwinding past the filter's scratch memory.
bool call_host(int nlhs, mxArray* outputs[], int nrhs, mxArray* inputs[], const char* name) {
    mxArray* exception = mexCallMATLABWithTrap(nlhs, outputs, nrhs, inputs, name);
    if (exception == nullptr) return true;
    mxDestroyArray(exception);
    return false;
}

}  // namespace

bool create_bar(ProgressBar* progress) {
    progress->fraction = mxCreateDoubleMatrix(1, 1, mxREAL);
    if (progress->fraction == nullptr) return false;
    progress->title = mxCreateString(kTitle);
    if (progress->title == nullptr) return false;
    progress->value = mxGetPr(progress->fraction);
    if (progress->value == nullptr) return false;
    *progress->value = 0.0;
    return true;
}

bool open_bar(ProgressBar* progress) {
    mxArray* inputs[2] = {progress->fraction, progress->title};
    mxArray* outputs[1] = {nullptr};
    if (!call_host(1, outputs, 2, inputs, "waitbar")) return false;
    progress->bar = outputs[0];
    return progress->bar != nullptr;
}

bool advance_bar(ProgressBar* progress, int32_t iteration, int32_t iterations) {
    // A single iteration would show 0/0; hosts reject a NaN fraction.
    *progress->value = iterations == 1
                           ? 1.0
                           : static_cast<double>(iteration) / static_cast<double>(iterations - 1);
    mxArray* inputs[2] = {progress->fraction, progress->bar};
    return call_host(0, nullptr, 2, inputs, "waitbar");
}

void close_bar(ProgressBar* progress) {
    if (progress->bar != nullptr) {
        mxArray* inputs[1] = {progress->bar};
        call_host(0, nullptr, 1, inputs, "close");
    }
    if (progress->fraction != nullptr) mxDestroyArray(progress->fraction);
    if (progress->title != nullptr) mxDestroyArray(progress->title);
    if (progress->bar != nullptr) mxDestroyArray(progress->bar);
    *progress = ProgressBar{};
}
