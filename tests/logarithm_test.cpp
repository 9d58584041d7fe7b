// The fast paths' own logarithm (diffusion/logarithm.h) against glibc's
// logf, which the plain loops call: hand-checked values on every path, and
// on every fast path all 2^32 floats in the blocks of tests/float_blocks.h,
// against digests of glibc's results in tests/data/glibc_logf_digests.txt
// (glibc's oldest logf, which the plug-ins bind, gives the same bits on
// x86-64 and aarch64). For a block that differs the test finds its first
// differing input with this machine's library. Environment:
//
//   LOGF_CHECK_BLOCK_STRIDE=n  checks every n-th block only (for emulators),
//                              counted from block 0x3f, the floats from 0.5
//                              to 2; for n = 64 also block 0x7f (+inf and
//                              NaNs), 0xbf (negative floats) and 0xff (-inf
//                              and NaNs).
//
// The digest file is written, from this machine's library, by
//
//   build/tests/logarithm_test --write-digests tests/data/glibc_logf_digests.txt
//
// (about half a minute on two cores).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core_support.h"
#include "float_blocks.h"
#include "kernel.h"
#include "logarithm.h"

namespace {

constexpr int kFirstSampledBlock = 0x3f;

const auto& kFastPaths = kFamilyFastPaths;

void library_logf(const float* inputs, float* results, uint32_t count) {
    memcpy(results, inputs, count * sizeof(float));
    take_logarithms(results, 0, count);
}

const char* const kDigestFile = LOGF_DIGESTS_FILE;

class LogarithmPaths : public SupportedPathTest {};

TEST_P(LogarithmPaths, HandCheckedValues) {
    // log(x) rounded once from 300-bit values, but where glibc misrounds it
    // (0x3fe173e6, 0x3f7ffffe: log(x) = 0.56608024232239946512...,
    // -1.19209296656209172...e-7 round to 0x3f10eaa2, 0xb4000001). 0x3f330000
    // and its predecessor lie either side of the range boundary of z; at
    // 0x7be241cc glibc's unfused double lies exactly on a midpoint between
    // two floats.
    struct Case {
        uint32_t x, expected;
    };
    const Case cases[] = {
        {0x3f800000, 0x00000000}, {0x40000000, 0x3f317218},  // log 1 = +0, log 2
        {0x3f7fffff, 0xb3800000}, {0x3f800001, 0x33ffffff},  // neighbours of 1
        {0x3fe173e6, 0x3f10eaa3}, {0x3f7ffffe, 0xb4000000},  // glibc misrounds
        {0x3f330000, 0xbeb73077}, {0x3f32ffff, 0xbeb7307a},  // z's range boundary
        {0x402df854, 0x3f7fffff}, {0x7be241cc, 0x42a77e9e},
        {0x00000001, 0xc2ce8ed0}, {0x007fffff, 0xc2aeac50},  // subnormals
        {0x00800000, 0xc2aeac50}, {0x7f7fffff, 0x42b17218},  // normal extremes
        {0x00000000, 0xff800000}, {0x80000000, 0xff800000},  // log(+-0) = -inf
        {0x7f800000, 0x7f800000},                            // log(+inf) = +inf
        // Below zero, -inf included: the constant NAN of glibc's oldest logf.
        {0xbf800000, 0x7fc00000}, {0x80000001, 0x7fc00000}, {0xff800000, 0x7fc00000},
        // NaN: the input's, quiet.
        {0x7fc00000, 0x7fc00000}, {0x7f800001, 0x7fc00001}, {0xffa12345, 0xffe12345},
    };
    constexpr uint32_t kLogHalf = 0xbf317218;
    for (const CpuPath path : {CpuPath::kPlain, GetParam()}) {
        // Every case in each lane of a vector and of a tail, among halves.
        for (uint32_t count : {17u, 3u}) {
            for (const Case& c : cases) {
                for (uint32_t lane = 0; lane < count; ++lane) {
                    std::vector<float> values(count, 0.5f);
                    values[lane] = std::bit_cast<float>(c.x);
                    bool any_nan = false;
                    if (path == CpuPath::kPlain)
                        take_logarithms(values.data(), 0, count);
                    else
                        any_nan = logarithms_on(path, values.data(), count);
                    for (uint32_t i = 0; i < count; ++i) {
                        const uint32_t got = std::bit_cast<uint32_t>(values[i]);
                        EXPECT_EQ(i == lane ? c.expected : kLogHalf, got)
                            << cpu_path_name(path) << " path, x = " << hex_bits(c.x) << " in lane "
                            << lane << " of " << count << ": got " << hex_bits(got) << " in lane "
                            << i;
                    }
                    if (path != CpuPath::kPlain) {
                        EXPECT_EQ(std::isnan(std::bit_cast<float>(c.expected)), any_nan)
                            << cpu_path_name(path) << " path, x = " << hex_bits(c.x)
                            << " in lane " << lane << " of " << count << ": NaN reported wrongly";
                    }
                }
            }
        }
    }
}

TEST_P(LogarithmPaths, EveryFloatGivesGlibcsBits) {
    const CpuPath path = GetParam();
    const auto own = [path](const float* inputs, float* results, uint32_t count) {
        memcpy(results, inputs, count * sizeof(float));
        logarithms_on(path, results, count);
    };
    expect_glibcs_bits(kDigestFile, "LOGF_CHECK_BLOCK_STRIDE", kFirstSampledBlock, library_logf, own,
                       cpu_path_name(path));
}

INSTANTIATE_TEST_SUITE_P(InstructionSets, LogarithmPaths, ::testing::ValuesIn(kFastPaths),
                         [](const auto& info) { return std::string(cpu_path_name(info.param)); });

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write-digests") == 0)
        return write_digests(
            argv[2],
            "# Digests of glibc's logf(x) over every float x, one per block of 2^24 inputs\n"
            "# (block b: the floats whose bits are b * 2^24 ... b * 2^24 + 2^24 - 1), as\n"
            "# tests/logarithm_test.cpp computes them. Written by\n"
            "# `logarithm_test --write-digests FILE` with glibc on x86-64.\n",
            library_logf);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
