// The stand-in host's array model, shared by its two libraries.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "mex_host.h"

struct mxArray_tag {
    uint32_t magic;
    mxClassID class_id;
    bool complex;
    bool sparse;
    uint64_t serial;
    std::vector<size_t> dims;
    std::vector<int> dims32;  // the 32-bit view handed out by mxGetDimensions
    void* real;  // calloc'd, so a huge array costs nothing until it is touched
    void* imag;  // complex arrays only
    std::string text;  // title of a string array, or message of an exception
    std::string identifier;  // exceptions only
    bool is_exception;
};
