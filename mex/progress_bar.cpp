#include "progress_bar.h"

namespace {

const char kTitle[] = "TARV: Diffusing Image";

// The handle of the bar that is open, kept persistent from open to close:
// a host that leaves a call inside "waitbar" (the user's Ctrl-C) never lets
// close_bar run, and the window would stay on screen. The next call that
// opens a bar closes it first; a host that clears the plug-in before then
// has the handle destroyed.
mxArray* bar_left_open = nullptr;
bool exit_function_named = false;

// No interpreter call while the host clears the plug-in: the window, if
// any, stays, and its handle is freed.
void forget_bar_left_open() {
    if (bar_left_open != nullptr) mxDestroyArray(bar_left_open);
    bar_left_open = nullptr;
}

// Calls an interpreter function so that its failure comes back here rather
// than unwinding past the filter's scratch memory.
bool call_host(int nlhs, mxArray* outputs[], int nrhs, mxArray* inputs[], const char* name) {
    mxArray* exception = mexCallMATLABWithTrap(nlhs, outputs, nrhs, inputs, name);
    if (exception == nullptr) return true;
    mxDestroyArray(exception);
    return false;
}

// A window closed by its user fails to close quietly.
void close_window(mxArray* bar) {
    mxArray* inputs[1] = {bar};
    call_host(0, nullptr, 1, inputs, "close");
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
    if (bar_left_open != nullptr) {
        close_window(bar_left_open);
        mxDestroyArray(bar_left_open);
        bar_left_open = nullptr;
    }
    mxArray* inputs[2] = {progress->fraction, progress->title};
    mxArray* outputs[1] = {nullptr};
    if (!call_host(1, outputs, 2, inputs, "waitbar")) return false;
    progress->bar = outputs[0];
    if (progress->bar == nullptr) return false;
    mexMakeArrayPersistent(progress->bar);
    if (!exit_function_named) exit_function_named = mexAtExit(forget_bar_left_open) == 0;
    bar_left_open = progress->bar;
    return true;
}

bool advance_bar(ProgressBar* progress, int64_t step, int64_t steps) {
    // A single step would show 0/0; hosts reject a NaN fraction.
    *progress->value =
        steps == 1 ? 1.0 : static_cast<double>(step) / static_cast<double>(steps - 1);
    mxArray* inputs[2] = {progress->fraction, progress->bar};
    return call_host(0, nullptr, 2, inputs, "waitbar");
}

void close_bar(ProgressBar* progress) {
    if (progress->bar != nullptr) {
        close_window(progress->bar);
        bar_left_open = nullptr;
    }
    if (progress->fraction != nullptr) mxDestroyArray(progress->fraction);
    if (progress->title != nullptr) mxDestroyArray(progress->title);
    if (progress->bar != nullptr) mxDestroyArray(progress->bar);
    *progress = ProgressBar{};
}
