// echo_single(image, ...): a new single array of the image's size, and
// nothing else; what a host's own handling of a call like TARV_c's costs
// (its arguments in, a result of that size out), for bench/octave_calls.m.
#include "mex.h"

extern "C" __attribute__((visibility("default"))) void mexFunction(int, mxArray* plhs[], int nrhs,
                                                             const mxArray* prhs[]) {
    if (nrhs < 1) mexErrMsgIdAndTxt("echo_single:nrhs", "echo_single needs an image");
    plhs[0] = mxCreateNumericArray(mxGetNumberOfDimensions(prhs[0]), mxGetDimensions(prhs[0]),
                                   mxSINGLE_CLASS, mxREAL);
}
