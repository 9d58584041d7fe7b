// The fast paths' own exponential (diffusion/exponential.h) against glibc's
// (float) exp((double) x), which the plain loops call: hand-checked values
// on every path, and on every fast path all 2^32 floats.
//
// All floats go in 256 blocks of 2^24: block b holds the inputs whose bits
// are b * 2^24 ... b * 2^24 + 2^24 - 1. A 64-bit digest of each block's
// result bits is compared with the digest of glibc's results in
// tests/data/glibc_exp_digests.txt; for a block that differs the test finds
// its first differing input with this machine's library. Environment:
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

#include <atomic>
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bits.h"
#include "core_support.h"
#include "kernel.h"
#include "worker_team.h"

namespace {

constexpr int kBlocks = 256;
constexpr uint32_t kBlockSize = 1u << 24;
// Chunks of a block go through one call each; large ones, since a call asks
// the processor (cpuid) whether it has the path, which a virtual machine
// can make slow.
constexpr uint32_t kChunk = 1u << 20;

// Block 0x42 holds the overflow threshold, 0xc2 the underflow one.
constexpr int kFirstSampledBlock = 0x42;

const auto& kFastPaths = kFamilyFastPaths;

// The inputs of one chunk of a block: floats from their bits.
void fill_chunk(uint32_t first_bits, std::vector<float>* inputs) {
    for (uint32_t i = 0; i < kChunk; ++i) (*inputs)[i] = std::bit_cast<float>(first_bits + i);
}

// Runs `exponentiate` over the block's inputs in chunks (fn(inputs,
// results, count)) and returns the digest of the result bits: the wrapping
// sum, over pairs of results, of a mix of the pair's bits and its place
// that is one-to-one in the bits, so that any one differing pair changes
// the sum.
template <typename Exponentiate>
uint64_t block_digest(int block, Exponentiate exponentiate) {
    std::vector<float> inputs(kChunk), results(kChunk);
    uint64_t digest = 0;
    for (uint32_t first = 0; first < kBlockSize; first += kChunk) {
        const uint32_t base = static_cast<uint32_t>(block) * kBlockSize + first;
        fill_chunk(base, &inputs);
        exponentiate(inputs.data(), results.data(), kChunk);
        for (uint32_t i = 0; i < kChunk; i += 2) {
            const uint64_t pair = static_cast<uint64_t>(std::bit_cast<uint32_t>(results[i])) << 32 |
                                  std::bit_cast<uint32_t>(results[i + 1]);
            uint64_t v = (pair ^ ((base + i) * 0x9e3779b97f4a7c15u)) * 0xbf58476d1ce4e5b9u;
            v = (v ^ (v >> 31)) * 0x94d049bb133111ebu;
            digest += v ^ (v >> 31);
        }
    }
    return digest;
}

// The digests of `blocks` on all the processors this process may use.
template <typename Exponentiate>
std::vector<uint64_t> digests_of(const std::vector<int>& blocks, Exponentiate exponentiate) {
    std::vector<uint64_t> digests(blocks.size());
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t k; (k = next++) < blocks.size();)
            digests[k] = block_digest(blocks[k], exponentiate);
    };
    std::vector<std::thread> threads;
    for (int32_t t = 1; t < processors_allowed() && static_cast<size_t>(t) < blocks.size(); ++t)
        threads.emplace_back(work);
    work();
    for (std::thread& thread : threads) thread.join();
    return digests;
}

void library_exp(const float* source, float* work, uint32_t count) {
    exponentiate_with(options_for({CpuPath::kPlain, 1}), source, work, count);
}

const char* const kDigestFile = EXP_DIGESTS_FILE;

std::vector<uint64_t> committed_digests() {
    std::vector<uint64_t> digests(kBlocks);
    std::vector<bool> seen(kBlocks);
    std::ifstream file(kDigestFile);
    std::string line;
    while (std::getline(file, line)) {
        unsigned block;
        uint64_t digest;
        if (line.empty() || line[0] == '#') continue;
        if (std::sscanf(line.c_str(), "%x %" SCNx64, &block, &digest) != 2 || block >= kBlocks)
            return {};
        digests[block] = digest;
        seen[block] = true;
    }
    for (bool s : seen)
        if (!s) return {};
    return digests;
}

std::vector<int> blocks_to_check() {
    int stride = 1;
    if (const char* text = std::getenv("EXP_CHECK_BLOCK_STRIDE")) stride = std::atoi(text);
    if (stride < 1) stride = 1;
    std::vector<int> blocks;
    for (int b = 0; b < kBlocks; ++b)
        if ((b - kFirstSampledBlock + kBlocks) % stride == 0) blocks.push_back(b);
    return blocks;
}

std::string hex_bits(uint32_t bits) { return hex_of(std::bit_cast<float>(bits)); }

// The first input of `block` where `path` differs from this machine's
// library, described.
std::string first_difference(int block, CpuPath path) {
    std::vector<float> inputs(kChunk), library(kChunk), own(kChunk);
    for (uint32_t first = 0; first < kBlockSize; first += kChunk) {
        const uint32_t base = static_cast<uint32_t>(block) * kBlockSize + first;
        fill_chunk(base, &inputs);
        library_exp(inputs.data(), library.data(), kChunk);
        exponentiate_with(options_for({path, 1}), inputs.data(), own.data(), kChunk);
        for (uint32_t i = 0; i < kChunk; ++i) {
            const uint32_t expected = std::bit_cast<uint32_t>(library[i]);
            const uint32_t got = std::bit_cast<uint32_t>(own[i]);
            if (expected != got)
                return "first difference at x = " + hex_bits(base + i) + ": the library gives " +
                       hex_bits(expected) + ", the " + cpu_path_name(path) + " path " +
                       hex_bits(got);
        }
    }
    return "no input differs from this machine's library, whose digest differs from glibc's";
}

class ExponentialPaths : public ::testing::TestWithParam<CpuPath> {
protected:
    void SetUp() override {
        if (!cpu_path_supported(GetParam()))
            GTEST_SKIP() << "this processor has no " << cpu_path_name(GetParam())
                         << "; that path is not checked here";
    }
};

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
    const std::vector<uint64_t> expected = committed_digests();
    ASSERT_EQ(static_cast<size_t>(kBlocks), expected.size())
        << kDigestFile << " must hold a digest for each of the " << kBlocks << " blocks";
    const CpuPath path = GetParam();
    const std::vector<int> blocks = blocks_to_check();
    const std::vector<uint64_t> digests =
        digests_of(blocks, [path](const float* source, float* work, uint32_t count) {
            exponentiate_with(options_for({path, 1}), source, work, count);
        });
    for (size_t k = 0; k < blocks.size(); ++k) {
        if (digests[k] != expected[static_cast<size_t>(blocks[k])])
            ADD_FAILURE() << "block 0x" << std::hex << blocks[k] << std::dec
                          << " differs from glibc's: " << first_difference(blocks[k], path);
    }
    std::printf("%zu of %d blocks of 2^24 floats checked on the %s path\n", blocks.size(), kBlocks,
                cpu_path_name(path));
}

INSTANTIATE_TEST_SUITE_P(InstructionSets, ExponentialPaths, ::testing::ValuesIn(kFastPaths),
                         [](const auto& info) { return std::string(cpu_path_name(info.param)); });

int write_digests(const char* path) {
    std::vector<int> blocks(kBlocks);
    for (int b = 0; b < kBlocks; ++b) blocks[b] = b;
    const std::vector<uint64_t> digests = digests_of(blocks, library_exp);
    std::ostringstream text;
    text << "# Digests of glibc's (float) exp((double) x) over every float x, one per block\n"
            "# of 2^24 inputs (block b: the floats whose bits are b * 2^24 ... b * 2^24 +\n"
            "# 2^24 - 1), as tests/exponential_test.cpp computes them. Written by\n"
            "# `exponential_test --write-digests FILE` with glibc on x86-64.\n";
    for (int b = 0; b < kBlocks; ++b) {
        char line[64];
        std::snprintf(line, sizeof line, "%02x %016" PRIx64 "\n", b, digests[b]);
        text << line;
    }
    std::ofstream file(path);
    file << text.str();
    return file.good() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write-digests") == 0) return write_digests(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
