// The filter's progress bar, shown through the host interpreter's "waitbar"
// and "close" functions.
#pragma once

#include <stdint.h>

#include "host_api.h"

// The host arrays that live from create_bar to close_bar. Zero-initialise
// before create_bar.
struct ProgressBar {
    mxArray* fraction;  // 1x1 double, shown by every "waitbar" call
    mxArray* title;
    mxArray* bar;       // the handle "waitbar" returned
    double* value;      // fraction's data, written in place
};

// Creates the fraction (at 0) and the title. Returns false if the host
// could not create them; close_bar then destroys what was created. Done
// before the filter takes any memory of its own, so that a host whose
// creation functions raise an error strands nothing.
bool create_bar(ProgressBar* progress);

// Opens the bar at 0 (after create_bar). Returns false if the host's
// "waitbar" failed; the caller still calls close_bar to release what was
// created.
bool open_bar(ProgressBar* progress);

// Shows the end of step `step` (0-based) of `steps` (>= 1): step / (steps -
// 1), and 1 for a single step. Returns false if "waitbar" failed, for
// instance because its window was closed.
bool advance_bar(ProgressBar* progress, int64_t step, int64_t steps);

// Closes the bar if it was opened (a failure to close is ignored: there is
// nothing left to show) and destroys its host arrays.
void close_bar(ProgressBar* progress);
