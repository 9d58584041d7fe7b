// A fixed table of filter and scorer calls computed on both architectures:
// here by the x86-64 plug-ins through the test host, and by the aarch64
// plug-ins through the aarch64 build of mexrun under qemu-aarch64, on the
// same input files. Both builds compute every kernel step with the same
// operations in the same precision and order, so the filter must give the
// same bits. The scorer's Gaussian term is the platform's exp, whose last
// bit may differ between two C libraries: how many cells differ is printed,
// with the largest distance in units in the last place.
//
// A digest of each result is printed for both architectures (FNV-1a over
// the bits, every NaN counted as one value: a NaN's sign and payload are
// the processor's), so that two machines can compare their tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "case_support.h"
#include "bits.h"
#include "plugin_support.h"
#include "wine_support.h"

namespace {

// The aarch64 mexrun under the emulator, calling `plugin`.
std::string emulated_mexrun(const char* plugin) {
    return wine::quoted(QEMU_AARCH64) + " -L " + wine::quoted(AARCH64_SYSROOT) + " " +
           wine::quoted(ARM64_MEXRUN) + " --quiet " + wine::quoted(plugin);
}

template <typename T>
uint64_t digest(const std::vector<T>& values) {
    uint64_t hash = 0xcbf29ce484222325u;
    for (T value : values) {
        const T canonical = std::isnan(value) ? T(NAN) : value;
        unsigned char bytes[sizeof(T)];
        memcpy(bytes, &canonical, sizeof bytes);
        for (unsigned char byte : bytes) hash = (hash ^ byte) * 0x100000001b3u;
    }
    return hash;
}

// One call of the table: its inputs as the host passes them, and the same
// inputs as mexrun's arguments (array files in `dir`, scalars as d:VALUE).
struct Call {
    Inputs inputs;
    std::string arguments;
    void add(mxArray* array, const wine::ScratchDir& dir) {
        const std::string file = dir.file("input" + std::to_string(inputs.arrays.size()) + ".mxa");
        ASSERT_TRUE(testhost::write_array_file(file, array));
        inputs.arrays.push_back(array);
        arguments += " " + wine::quoted(file);
    }
    void add_scalar(double value) {
        inputs.arrays.push_back(testhost::make_scalar(value));
        char text[64];
        snprintf(text, sizeof text, " d:%.17g", value);
        arguments += text;
    }
};

// The result of `call` from both architectures' plug-ins.
struct BothResults {
    mxArray* x86_64 = nullptr;
    mxArray* aarch64 = nullptr;
    ~BothResults() {
        if (x86_64 != nullptr) mxDestroyArray(x86_64);
        if (aarch64 != nullptr) mxDestroyArray(aarch64);
    }
};

void run_both(const char* plugin, const char* emulated_plugin, const Call& call,
              const wine::ScratchDir& dir, BothResults* results) {
    testhost::CallResult native = testhost::call(plugin_at(plugin), 1, call.inputs.arrays);
    ASSERT_TRUE(native.ok) << native.error_id << ": " << native.error_message;
    results->x86_64 = native.result;
    const std::string output = dir.file("result.mxa");
    std::string log;
    const int status = wine::run_command(
        emulated_mexrun(emulated_plugin) + " " + wine::quoted(output) + call.arguments, &log);
    ASSERT_EQ(status, 0) << log;
    std::string error;
    results->aarch64 = testhost::read_array_file(output, &error);
    ASSERT_NE(results->aarch64, nullptr) << error;
    ASSERT_EQ(testhost::dimensions(results->x86_64), testhost::dimensions(results->aarch64));
}

// --- the filter ------------------------------------------------------------------

struct FilterCase {
    const char* name;
    uint32_t rows, cols;
    float low, high;  // log intensities drawn uniformly from [low, high]
    bool special;     // a few NaN, infinite, subnormal and extreme inputs besides
    double iterations, lambda, first_row, last_row, first_col, last_col, progress;
};

void PrintTo(const FilterCase& c, std::ostream* os) { *os << c.name; }

// Images of 2^16 pixels or more run on a team of threads.
const FilterCase kFilterCases[] = {
    {"speckle", 256, 192, -1.0f, 3.0f, false, 10, 0.2, 1, 40, 1, 60, 0},
    {"special_values", 64, 48, -1.0f, 3.0f, true, 3, 0.2, 10, 30, 5, 40, 0},
    {"exponent_range", 96, 80, -100.0f, 88.0f, false, 1, 0.25, 1, 96, 1, 80, 0},
    {"tall", 1000, 3, 0.0f, 1.0f, false, 5, 0.25, 1, 1000, 1, 3, 0},
    {"unstable_step", 40, 40, -1.0f, 3.0f, false, 4, 1.5, 5, 20, 5, 20, 0},
    {"threads_and_progress", 300, 260, -1.0f, 3.0f, false, 3, 0.2, 21, 60, 31, 90, 1},
};

std::vector<float> filter_image(const FilterCase& c) {
    static const float kSpecial[] = {NAN,     INFINITY, -INFINITY, 0.0f,  -0.0f,
                                     1e-40f,  -1e-42f,  -95.0f,    89.0f, -110.0f};
    std::mt19937 random(c.rows * 7919u + c.cols);
    std::uniform_real_distribution<float> draw(c.low, c.high);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> pick(0, 9);
    std::vector<float> image(static_cast<size_t>(c.rows) * c.cols);
    for (float& value : image)
        value = c.special && percent(random) < 3 ? kSpecial[pick(random)] : draw(random);
    return image;
}

class ArchitectureFilter : public ::testing::TestWithParam<FilterCase> {};

TEST_P(ArchitectureFilter, SameBitsOnBothArchitectures) {
    const FilterCase& c = GetParam();
    wine::ScratchDir dir;
    Call call;
    call.add(testhost::make_single(c.rows, c.cols, filter_image(c)), dir);
    for (double scalar :
         {c.iterations, c.lambda, c.first_row, c.last_row, c.first_col, c.last_col, c.progress})
        call.add_scalar(scalar);
    RecordedProgress progress;
    BothResults results;
    run_both(TARV_C_PLUGIN, ARM64_TARV_C_PLUGIN, call, dir, &results);
    if (HasFatalFailure()) return;
    const std::vector<float> x86_64 = testhost::single_values(results.x86_64);
    const std::vector<float> aarch64 = testhost::single_values(results.aarch64);
    printf("TARV_c %-22s x86_64 %016llx  aarch64 %016llx\n", c.name,
           static_cast<unsigned long long>(digest(x86_64)),
           static_cast<unsigned long long>(digest(aarch64)));
    EXPECT_TRUE(planes_match(x86_64, aarch64, c.rows));
}

INSTANTIATE_TEST_SUITE_P(Table, ArchitectureFilter, ::testing::ValuesIn(kFilterCases), param_name);

// --- the scorer ------------------------------------------------------------------

struct ScoreCase {
    const char* name;
    uint32_t rows, cols;
    double top_offset, bottom_offset, top_count, bottom_count, prior_weight;
    bool wild_limits;  // NaN limits, an sd of 0, limits admitting negative spans
};

void PrintTo(const ScoreCase& c, std::ostream* os) { *os << c.name; }

// The span term exp(z * z * -0.5) runs over [-50, 0] and beyond.
const ScoreCase kScoreCases[] = {
    {"band", 120, 50, 20, 50, 40, 40, 0.5, false},
    {"wild_limits", 60, 25, 0, 2, 20, 30, 1.5, true},
    {"threads", 200, 64, 0, 10, 60, 60, 2.0, false},
};

class ArchitectureScorer : public ::testing::TestWithParam<ScoreCase> {};

TEST_P(ArchitectureScorer, CellsThatDifferAreCounted) {
    const ScoreCase& c = GetParam();
    std::mt19937 random(c.rows * 31u + c.cols);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> image(static_cast<size_t>(c.rows) * c.cols);
    for (size_t k = 0; k < image.size(); ++k)
        image[k] = unit(random) + (k % c.rows > c.rows / 3 && k % c.rows < c.rows / 2 ? 2.0 : 0.0);
    std::vector<double> mean, sd, low, high;
    for (uint32_t j = 0; j < c.cols; ++j) {
        mean.push_back(10.0 + 40.0 * unit(random));
        sd.push_back(1.0 + 9.0 * unit(random));
        low.push_back(std::floor(5.0 * unit(random)));
        high.push_back(c.rows - 1.0);
        if (c.wild_limits) {
            switch (j % 4) {
                case 0: low.back() = NAN; break;
                case 1: high.back() = NAN; break;
                case 2: low.back() = -3.0, sd.back() = 0.0, mean.back() = 2.0; break;
                case 3: break;
            }
        }
    }
    wine::ScratchDir dir;
    Call call;
    const auto row = [&](const std::vector<double>& v) {
        call.add(testhost::make_double({1, v.size()}, v), dir);
    };
    call.add_scalar(c.top_offset);
    call.add_scalar(c.bottom_offset);
    call.add(testhost::make_double({c.rows, c.cols}, image), dir);
    row(mean);
    row(sd);
    call.add_scalar(c.top_count);
    call.add_scalar(c.bottom_count);
    call.add_scalar(c.prior_weight);
    row(low);
    row(high);
    BothResults results;
    run_both(BANDSCORE_PLUGIN, ARM64_BANDSCORE_PLUGIN, call, dir, &results);
    if (HasFatalFailure()) return;
    const std::vector<double> x86_64 = testhost::double_values(results.x86_64);
    const std::vector<double> aarch64 = testhost::double_values(results.aarch64);
    size_t differing = 0;
    int64_t max_ulps = 0;
    for (size_t k = 0; k < x86_64.size(); ++k) {
        if (same_bits(x86_64[k], aarch64[k])) continue;
        ++differing;
        max_ulps = std::max(max_ulps, wine::ulps_apart(x86_64[k], aarch64[k]));
    }
    printf("bandscore %-19s x86_64 %016llx  aarch64 %016llx  %zu of %zu cells differ, by at most %lld ulps\n",
           c.name, static_cast<unsigned long long>(digest(x86_64)),
           static_cast<unsigned long long>(digest(aarch64)), differing, x86_64.size(),
           static_cast<long long>(max_ulps));
    // The sentinels, NaNs and every cell the span term leaves exact agree;
    // a differing exp moves a cell by a few units in the last place.
    EXPECT_LE(max_ulps, 4);
}

INSTANTIATE_TEST_SUITE_P(Table, ArchitectureScorer, ::testing::ValuesIn(kScoreCases), param_name);

}  // namespace
