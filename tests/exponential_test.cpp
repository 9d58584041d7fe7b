// The fast paths' own exponential (diffusion/exponential.h) against glibc's
// (float) exp((double) x), which the plain loops call: hand-checked values
// on every path, and on every fast path all 2^32 floats.
//
// All floats go in the 256 blocks of tests/float_blocks.h. A 64-bit digest
// of each block's result bits is compared with the digest of glibc's
// results in tests/data/glibc_exp_digests.txt; for a block that differs the
// test finds its first differing input with this machine's library.
// Environment:
//
//   EXP_CHECK_BLOCK_STRIDE=n  checks every n-th block only (for emulators),
//                             counted from block 0x42, the block of the
//                             overflow threshold; for n dividing 128 that
//                             includes block 0xc2, the subnormal results
//                             and the underflow threshold.
//
// The digest file is written, from this machine's library, by
//
//   build/tests/exponential_test --write-digests tests/data/glibc_exp_digests.txt
//
// (about half a minute on two cores; glibc on x86-64 gives the committed
// digests).
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "core_support.h"
#include "float_blocks.h"
#include "kernel.h"

namespace {

// Block 0x42 holds the overflow threshold, 0xc2 the underflow one.
constexpr int kFirstSampledBlock = 0x42;

const auto& kFastPaths = kFamilyFastPaths;

void library_exp(const float* source, float* work, uint32_t count) {
    exponentiate_with(options_for({CpuPath::kPlain, 1}), source, work, count);
}

const char* const kDigestFile = EXP_DIGESTS_FILE;

class ExponentialPaths : public SupportedPathTest {};

TEST_P(ExponentialPaths, HandCheckedValues) {
    // Rounding boundaries: exp(2^-24) = 1 + 2^-24 + 2^-49 + ... lies above
    // the midpoint 1 + 2^-24, exp(-2^-25) = 1 - 2^-25 + 2^-51 - ... above
    // the midpoint 1 - 2^-25, their neighbours below. The thresholds: the
    // largest finite result is for the last float below 128 ln 2 + ln(1 -
    // 2^-25) = 88.7228390818..., the smallest nonzero one for the last float
    // above -150 ln 2 = -103.9720770839...; results near 2^-126 = exp(-126
    // ln 2) lie either side of the smallest normal float. Those results
    // are exp in quadruple precision, rounded once.
    struct Case {
        uint32_t x, expected;
    };
    const Case cases[] = {
        {0x00000000, 0x3f800000}, {0x80000000, 0x3f800000},  // exp(+-0) = 1
        {0x00000001, 0x3f800000}, {0x80000001, 0x3f800000},  // smallest subnormals
        {0x3f800000, 0x402df854},                            // e
        {0x33800000, 0x3f800001}, {0x337fffff, 0x3f800000},  // 2^-24 and below
        {0xb3000000, 0x3f800000}, {0xb3000001, 0x3f7fffff},  // -2^-25 and beyond
        {0x42b17217, 0x7f7fff84}, {0x42b17218, 0x7f800000},  // overflow threshold
        {0x7f7fffff, 0x7f800000}, {0xff7fffff, 0x00000000},  // the largest floats
        {0xc2cff1b4, 0x00000001}, {0xc2cff1b5, 0x00000000},  // underflow threshold
        {0xc2aeac4f, 0x00800026}, {0xc2aeac50, 0x007fffe6},  // either side of 2^-126
        {0x7f800000, 0x7f800000}, {0xff800000, 0x00000000},  // +-inf
        // NaN: the input's, quiet.
        {0x7fc00000, 0x7fc00000}, {0x7f800001, 0x7fc00001}, {0xffa12345, 0xffe12345},
    };
    for (const CpuPath path : {CpuPath::kPlain, GetParam()}) {
        // Every case in each lane of a vector and of a tail, among halves.
        for (uint32_t count : {17u, 3u}) {
            for (const Case& c : cases) {
                std::vector<float> x(count, 0.5f), result(count);
                for (uint32_t lane = 0; lane < count; ++lane) {
                    x[lane] = std::bit_cast<float>(c.x);
                    exponentiate_with(options_for({path, 1}), x.data(), result.data(), count);
                    const uint32_t got = std::bit_cast<uint32_t>(result[lane]);
                    EXPECT_EQ(c.expected, got)
                        << cpu_path_name(path) << " path, x = " << hex_bits(c.x) << " in lane "
                        << lane << " of " << count << ": got " << hex_bits(got);
                    x[lane] = 0.5f;
                }
            }
        }
    }
}

TEST_P(ExponentialPaths, EveryFloatGivesGlibcsBits) {
    const CpuPath path = GetParam();
    const auto own = [path](const float* source, float* work, uint32_t count) {
        exponentiate_with(options_for({path, 1}), source, work, count);
    };
    expect_glibcs_bits(kDigestFile, "EXP_CHECK_BLOCK_STRIDE", kFirstSampledBlock, library_exp, own,
                       cpu_path_name(path));
}

INSTANTIATE_TEST_SUITE_P(InstructionSets, ExponentialPaths, ::testing::ValuesIn(kFastPaths),
                         [](const auto& info) { return std::string(cpu_path_name(info.param)); });

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write-digests") == 0)
        return write_digests(
            argv[2],
            "# Digests of glibc's (float) exp((double) x) over every float x, one per block\n"
            "# of 2^24 inputs (block b: the floats whose bits are b * 2^24 ... b * 2^24 +\n"
            "# 2^24 - 1), as tests/exponential_test.cpp computes them. Written by\n"
            "# `exponential_test --write-digests FILE` with glibc on x86-64.\n",
            library_exp);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
