// write_host_cases: writes the cases that run_host_tests.m checks in any
// host, each with the result the 64-bit Linux plug-ins give for it.
//
//   write_host_cases TARV_C_PLUGIN BANDSCORE_PLUGIN FOLDER
//
// FOLDER must exist. Each case is a folder FOLDER/PLUGIN-LABEL holding its arguments as array
// files arg01.mxa, arg02.mxa, ... and the result as expected.mxa (the
// format of docs/array-files.md). The plug-ins are called through the
// stand-in host; a call that raises an error is a fault here.
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "test_host.h"

namespace {

struct Case {
    std::string name;  // "TARV_c-..." or "bandscore-..."
    std::vector<mxArray*> arguments;
};

// Log intensities drawn uniformly from [low, high], with a few special
// values in every `special_every`-th pixel when it is nonzero.
mxArray* log_image(size_t rows, size_t cols, float low, float high, unsigned seed,
                   size_t special_every = 0) {
    static const float kSpecial[] = {NAN, INFINITY, -INFINITY, 0.0f, -0.0f, 1e-40f, -95.0f, 89.0f, 45.0f};
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> draw(low, high);
    std::vector<float> values(rows * cols);
    for (size_t k = 0; k < values.size(); ++k)
        values[k] = special_every != 0 && k % special_every == 0 ? kSpecial[(k / special_every) % 9]
                                                                 : draw(random);
    return testhost::make_single(rows, cols, values);
}

mxArray* random_doubles(const std::vector<size_t>& dims, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> draw(0.0, 1.0);
    mxArray* array = testhost::make_array(mxDOUBLE_CLASS, dims);
    double* data = static_cast<double*>(mxGetData(array));
    for (size_t k = 0; k < mxGetNumberOfElements(array); ++k) data[k] = draw(random);
    return array;
}

template <typename T>
mxArray* scalar_of(mxClassID class_id, T value) {
    mxArray* array = testhost::make_array(class_id, {1, 1});
    *static_cast<T*>(mxGetData(array)) = value;
    return array;
}

mxArray* row(size_t count, double (*value)(size_t column)) {
    std::vector<double> values(count);
    for (size_t c = 0; c < count; ++c) values[c] = value(c);
    return testhost::make_double({1, count}, values);
}

mxArray* constant_row(size_t count, double value) {
    return testhost::make_double({1, count}, std::vector<double>(count, value));
}

Case filter_case(const std::string& label, mxArray* image, double iterations, double lambda,
                 double row1, double row2, double col1, double col2, double progress) {
    Case c{"TARV_c-" + label, {image}};
    for (double scalar : {iterations, lambda, row1, row2, col1, col2, progress})
        c.arguments.push_back(testhost::make_scalar(scalar));
    return c;
}

// bandscore's ten arguments for `image`, with span_mean 10, span_sd 3 and
// span limits [span_min, span_max] in every column and prior weight 0.5.
Case band_case(const std::string& label, mxArray* image, double top_offset, double bottom_offset,
               double top_count, double bottom_count, double span_min, double span_max) {
    const size_t cols = testhost::dimensions(image)[1];
    return {"bandscore-" + label,
            {testhost::make_scalar(top_offset), testhost::make_scalar(bottom_offset), image,
             constant_row(cols, 10), constant_row(cols, 3), testhost::make_scalar(top_count),
             testhost::make_scalar(bottom_count), testhost::make_scalar(0.5),
             constant_row(cols, span_min), constant_row(cols, span_max)}};
}

std::vector<Case> all_cases() {
    std::vector<Case> cases;
    cases.push_back(filter_case("speckle", log_image(40, 33, 0, 4, 1), 12, 0.2, 5, 20, 3, 15, 0));
    cases.push_back(filter_case("progress-bar", log_image(24, 18, 0, 4, 2), 5, 0.2, 1, 6, 1, 18, 1));
    cases.push_back(filter_case("one-row", log_image(1, 29, 0, 3, 3), 6, 0.2, 1, 1, 3, 9, 0));
    cases.push_back(filter_case("one-column", log_image(31, 1, 0, 3, 4), 6, 0.2, 4, 12, 1, 1, 0));
    cases.push_back(filter_case("no-iteration", log_image(9, 7, -5, 5, 5), 0, 0.2, 1, 9, 1, 7, 0));
    cases.push_back(filter_case("many-iterations", log_image(16, 16, 0.5f, 2.5f, 6), 60, 0.24, 2, 14, 2, 14, 0));
    cases.push_back(filter_case("special-values", log_image(37, 29, -1, 3, 7, 31), 1, 0.2, 3, 20, 2, 17, 0));
    cases.push_back(filter_case("inverted-region", log_image(10, 10, 0, 4, 8), 2, 0.2, 5, 2, 1, 10, 0));
    // Scalars of other classes, fractions truncated toward zero, and a
    // logical progress flag that turns the bar on.
    Case classes{"TARV_c-other-classes",
                 {log_image(15, 16, 0, 4, 9), scalar_of<int32_t>(mxINT32_CLASS, 3),
                  scalar_of<float>(mxSINGLE_CLASS, 0.2f), scalar_of<int8_t>(mxINT8_CLASS, 1),
                  testhost::make_scalar(4.99), scalar_of<uint16_t>(mxUINT16_CLASS, 2),
                  testhost::make_scalar(9.5), scalar_of<uint8_t>(mxLOGICAL_CLASS, 1)}};
    cases.push_back(classes);

    mxArray* special = random_doubles({60, 17}, 21);
    double* pixels = static_cast<double*>(mxGetData(special));
    const double kSpecial[] = {NAN, INFINITY, -INFINITY, -0.0, 1e-310, -1e300, 0.0, NAN, 7.0};
    for (size_t k = 0; k < 9; ++k) pixels[(5 + 25 * (k % 3)) + 60 * (2 + 7 * (k / 3))] = kSpecial[k];
    cases.push_back(band_case("three-by-three", random_doubles({60, 17}, 22), 10, 20, 3, 3, 9, 11));
    cases.push_back(band_case("fractional-offsets", random_doubles({60, 17}, 23), 4.7, 9.2, 12, 15, 0, 20));
    cases.push_back(band_case("negative-spans", random_doubles({60, 17}, 24), 10, 6, 5, 5, -4, 4));
    cases.push_back(band_case("nan-limit", random_doubles({60, 17}, 25), 2, 12, 9, 9, NAN, 14));
    cases.push_back(band_case("special-pixels", special, 0, 5, 20, 20, 0, 40));
    cases.push_back(band_case("no-top-candidate", random_doubles({60, 17}, 27), 1, 8, 0, 10, 3, 12));
    cases.push_back(band_case("one-column", random_doubles({60, 1}, 28), 0, 0, 40, 20, -100, 100));
    // Per-column values of every per-column argument, a negative weight.
    Case columns = band_case("per-column", random_doubles({60, 17}, 29), 3, 12, 8, 9, 0, 0);
    const auto replace = [&columns](size_t slot, mxArray* value) {
        mxDestroyArray(columns.arguments[slot]);
        columns.arguments[slot] = value;
    };
    replace(3, row(17, [](size_t c) { return c + 1.0; }));
    replace(4, row(17, [](size_t c) { return 0.5 + (c + 1.0) / 4; }));
    replace(7, testhost::make_scalar(-2));
    replace(8, row(17, [](size_t c) { return (c + 1.0) / 3; }));
    replace(9, row(17, [](size_t c) { return 18 - (c + 1.0) / 2; }));
    cases.push_back(columns);
    return cases;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        fputs("usage: write_host_cases TARV_C_PLUGIN BANDSCORE_PLUGIN FOLDER\n", stderr);
        return 2;
    }
    const std::string folder = argv[3];
    testhost::Plugin plugins[2];
    for (int k = 0; k < 2; ++k) {
        std::string error;
        plugins[k] = testhost::load_plugin(argv[1 + k], &error);
        if (plugins[k].entry == nullptr) {
            fprintf(stderr, "write_host_cases: %s\n", error.c_str());
            return 1;
        }
    }
    // The progress bar's "waitbar" and "close" calls are only recorded.
    testhost::ProgressRecorder recorder;
    testhost::install_progress_recorder(&recorder);
    for (Case& c : all_cases()) {
        const bool filter = c.name.rfind("TARV_c-", 0) == 0;
        const testhost::CallResult result = testhost::call(plugins[filter ? 0 : 1], 1, c.arguments);
        if (!result.ok) {
            fprintf(stderr, "write_host_cases: %s raised %s: %s\n", c.name.c_str(),
                    result.error_id.c_str(), result.error_message.c_str());
            return 1;
        }
        const std::string dir = folder + "/" + c.name;
        mkdir(dir.c_str(), 0755);
        bool written = testhost::write_array_file(dir + "/expected.mxa", result.result);
        for (size_t k = 0; k < c.arguments.size(); ++k) {
            char file[32];
            snprintf(file, sizeof file, "/arg%02zu.mxa", k + 1);
            written = written && testhost::write_array_file(dir + file, c.arguments[k]);
            mxDestroyArray(c.arguments[k]);
        }
        mxDestroyArray(result.result);
        if (!written) {
            fprintf(stderr, "write_host_cases: cannot write %s\n", dir.c_str());
            return 1;
        }
    }
    return 0;
}
