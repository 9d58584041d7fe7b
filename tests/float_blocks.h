// Every float through a function of one float, against committed digests
// of glibc's results (exponential_test, logarithm_test).
//
// All floats go in 256 blocks of 2^24: block b holds the inputs whose bits
// are b * 2^24 ... b * 2^24 + 2^24 - 1. A digest file has one line per
// block, its number and the 64-bit digest of its result bits in hex;
// lines starting with '#' are comments.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bits.h"
#include "instruction_sets.h"
#include "worker_team.h"

constexpr int kBlocks = 256;
constexpr uint32_t kBlockSize = 1u << 24;
// Chunks of a block go through one call each; large ones, since a call asks
// the processor (cpuid) whether it has the path, which a virtual machine
// can make slow.
constexpr uint32_t kChunk = 1u << 20;

// The inputs of one chunk of a block: floats from their bits.
inline void fill_chunk(uint32_t first_bits, std::vector<float>* inputs) {
    for (uint32_t i = 0; i < kChunk; ++i) (*inputs)[i] = std::bit_cast<float>(first_bits + i);
}

// Runs `function` over the block's inputs in chunks (fn(inputs, results,
// count)) and returns the digest of the result bits: the wrapping sum, over
// pairs of results, of a mix of the pair's bits and its place that is
// one-to-one in the bits, so that any one differing pair changes the sum.
template <typename Function>
uint64_t block_digest(int block, Function function) {
    std::vector<float> inputs(kChunk), results(kChunk);
    uint64_t digest = 0;
    for (uint32_t first = 0; first < kBlockSize; first += kChunk) {
        const uint32_t base = static_cast<uint32_t>(block) * kBlockSize + first;
        fill_chunk(base, &inputs);
        function(inputs.data(), results.data(), kChunk);
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
template <typename Function>
std::vector<uint64_t> digests_of(const std::vector<int>& blocks, Function function) {
    std::vector<uint64_t> digests(blocks.size());
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t k; (k = next++) < blocks.size();)
            digests[k] = block_digest(blocks[k], function);
    };
    std::vector<std::thread> threads;
    for (int32_t t = 1; t < processors_allowed() && static_cast<size_t>(t) < blocks.size(); ++t)
        threads.emplace_back(work);
    work();
    for (std::thread& thread : threads) thread.join();
    return digests;
}

// The digests in `path`, one for each block; none if any is missing.
inline std::vector<uint64_t> read_digests(const char* path) {
    std::vector<uint64_t> digests(kBlocks);
    std::vector<bool> seen(kBlocks);
    std::ifstream file(path);
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

// Writes the digests of every block of `function` to `path` under the
// comment `heading` (lines starting with '#'); 0 if written.
template <typename Function>
int write_digests(const char* path, const char* heading, Function function) {
    std::vector<int> blocks(kBlocks);
    for (int b = 0; b < kBlocks; ++b) blocks[b] = b;
    const std::vector<uint64_t> digests = digests_of(blocks, function);
    std::ostringstream text;
    text << heading;
    for (int b = 0; b < kBlocks; ++b) {
        char line[64];
        std::snprintf(line, sizeof line, "%02x %016" PRIx64 "\n", b, digests[b]);
        text << line;
    }
    std::ofstream file(path);
    file << text.str();
    return file.good() ? 0 : 1;
}

// Every block, or with the environment variable `stride_variable` set to n
// every n-th block counted from `first_sampled` (for emulators).
inline std::vector<int> blocks_to_check(const char* stride_variable, int first_sampled) {
    int stride = 1;
    if (const char* text = std::getenv(stride_variable)) stride = std::atoi(text);
    if (stride < 1) stride = 1;
    std::vector<int> blocks;
    for (int b = 0; b < kBlocks; ++b)
        if ((b - first_sampled + kBlocks) % stride == 0) blocks.push_back(b);
    return blocks;
}

inline std::string hex_bits(uint32_t bits) { return hex_of(std::bit_cast<float>(bits)); }

// The first input of `block` where `own` (named own_name) differs from
// `library`, this machine's library, described.
template <typename Library, typename Own>
std::string first_difference(int block, Library library, Own own, const std::string& own_name) {
    std::vector<float> inputs(kChunk), expected(kChunk), got(kChunk);
    for (uint32_t first = 0; first < kBlockSize; first += kChunk) {
        const uint32_t base = static_cast<uint32_t>(block) * kBlockSize + first;
        fill_chunk(base, &inputs);
        library(inputs.data(), expected.data(), kChunk);
        own(inputs.data(), got.data(), kChunk);
        for (uint32_t i = 0; i < kChunk; ++i) {
            const uint32_t e = std::bit_cast<uint32_t>(expected[i]);
            const uint32_t g = std::bit_cast<uint32_t>(got[i]);
            if (e != g)
                return "first difference at x = " + hex_bits(base + i) + ": the library gives " +
                       hex_bits(e) + ", " + own_name + " " + hex_bits(g);
        }
    }
    return "no input differs from this machine's library, whose digest differs from glibc's";
}

// Checks `own` (the routine of the path named `path_name`) on every block
// that `stride_variable` selects, counted from `first_sampled`, against
// the digests of glibc's results in `digest_file`; a block that differs is
// reported with its first input where `own` and `library` differ.
template <typename Library, typename Own>
void expect_glibcs_bits(const char* digest_file, const char* stride_variable, int first_sampled,
                        Library library, Own own, const char* path_name) {
    const std::vector<uint64_t> expected = read_digests(digest_file);
    ASSERT_EQ(static_cast<size_t>(kBlocks), expected.size())
        << digest_file << " must hold a digest for each of the " << kBlocks << " blocks";
    const std::vector<int> blocks = blocks_to_check(stride_variable, first_sampled);
    const std::vector<uint64_t> digests = digests_of(blocks, own);
    for (size_t k = 0; k < blocks.size(); ++k) {
        if (digests[k] != expected[static_cast<size_t>(blocks[k])])
            ADD_FAILURE() << "block 0x" << std::hex << blocks[k] << std::dec
                          << " differs from glibc's: "
                          << first_difference(blocks[k], library, own,
                                              "the " + std::string(path_name) + " path");
    }
    std::printf("%zu of %d blocks of 2^24 floats checked on the %s path\n", blocks.size(), kBlocks,
                path_name);
}

// A suite run once for each fast path; a path this processor lacks is
// reported skipped.
class SupportedPathTest : public ::testing::TestWithParam<CpuPath> {
protected:
    void SetUp() override {
        if (!cpu_path_supported(GetParam()))
            GTEST_SKIP() << "this processor has no " << cpu_path_name(GetParam())
                         << "; that path is not checked here";
    }
};
