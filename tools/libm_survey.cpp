// libm_survey: one-off measurements of where the platform's math library
// decides a result's last bit. Not a test: the README quotes what it found.
//
//   libm_survey logf
//       a digest of glibc's logf over every float with the sign bit clear
//       (2^31 inputs: +0, subnormals, normals, +Inf, NaNs), one per block
//       of 2^22 inputs. Run natively and under qemu-aarch64 (the aarch64
//       build of this program), the two listings compare the two glibcs.
//   libm_survey logf-block K
//       every input of block K and its logf, in hex, to find where two
//       listings differ.
//   libm_survey bandscore PLUGIN
//       two volumes scored by the bandscore plug-in PLUGIN in this process
//       and in a child whose glibc is kept off its FMA code paths
//       (GLIBC_TUNABLES=glibc.cpu.hwcaps=-FMA,-AVX2_Usable,-FMA4), and how
//       many cells differ: the share of cells whose last bit depends on the
//       processor through glibc's exp.
//   libm_survey bandscore-cells PLUGIN DIR
//       the two volumes into array files in DIR (the child above; or the
//       aarch64 build under qemu-aarch64, for the next mode).
//   libm_survey bandscore PLUGIN DIR
//       the two volumes against those in DIR instead of the child's.
#include <math.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "test_host.h"

extern char** environ;

namespace {

constexpr uint32_t kBlockBits = 22;
constexpr uint32_t kBlocks = 1u << (31 - kBlockBits);

// FNV-1a over the result bits, every NaN counted as one value.
uint64_t logf_block_digest(uint32_t block) {
    uint64_t hash = 0xcbf29ce484222325u;
    const uint32_t first = block << kBlockBits;
    for (uint32_t k = 0; k < (1u << kBlockBits); ++k) {
        const float y = logf(std::bit_cast<float>(first + k));
        const uint32_t bits = isnan(y) ? 0x7fc00000u : std::bit_cast<uint32_t>(y);
        for (int byte = 0; byte < 4; ++byte) hash = (hash ^ ((bits >> (8 * byte)) & 0xff)) * 0x100000001b3u;
    }
    return hash;
}

int survey_logf() {
    for (uint32_t block = 0; block < kBlocks; ++block)
        printf("block %3u  inputs %08x..%08x  %016llx\n", block, block << kBlockBits,
               ((block + 1) << kBlockBits) - 1,
               static_cast<unsigned long long>(logf_block_digest(block)));
    return 0;
}

int list_logf_block(uint32_t block) {
    const uint32_t first = block << kBlockBits;
    for (uint32_t k = 0; k < (1u << kBlockBits); ++k)
        printf("%08x %08x\n", first + k, std::bit_cast<uint32_t>(logf(std::bit_cast<float>(first + k))));
    return 0;
}

// --- bandscore --------------------------------------------------------------

struct Volume {
    const char* name;
    double top_offset, bottom_offset, top_count, bottom_count, prior_weight;
    bool per_column_preference;  // else the demo's: span 40 preferred, sd 6, spans 25..55
};

// The demo's call, and one whose span term runs over [-50, 0] and beyond.
const Volume kVolumes[] = {
    {"demo", 50, 80, 130, 150, 0.5, false},
    {"broad", 0, 0, 128, 256, 1.0, true},
};
constexpr uint32_t kRows = 256, kCols = 384;

// A log-intensity image like the demo's: a band under speckle.
std::vector<double> band_image() {
    std::mt19937 random(2024);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> image(static_cast<size_t>(kRows) * kCols);
    for (uint32_t j = 0; j < kCols; ++j) {
        const double top = std::round(105 + 28 * sin(2 * M_PI * j / kCols));
        for (uint32_t i = 0; i < kRows; ++i) {
            const double reflectivity = i < top ? 1.0 : i <= top + 40 ? 3.0 : 1.7;
            image[i + kRows * j] = log(reflectivity * -log(1.0 - unit(random)));
        }
    }
    return image;
}

mxArray* score(const testhost::Plugin& plugin, const Volume& v) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> mean(kCols, 40.0), sd(kCols, 6.0), low(kCols, 25.0), high(kCols, 55.0);
    if (v.per_column_preference) {
        for (uint32_t j = 0; j < kCols; ++j) {
            mean[j] = 5.0 + 195.0 * unit(random);
            sd[j] = 2.0 + 28.0 * unit(random);
            low[j] = 0.0;
            high[j] = kRows - 1.0;
        }
    }
    const auto row = [](const std::vector<double>& values) {
        return testhost::make_double({1, values.size()}, values);
    };
    const std::vector<mxArray*> arguments = {
        testhost::make_scalar(v.top_offset),   testhost::make_scalar(v.bottom_offset),
        testhost::make_double({kRows, kCols}, band_image()),
        row(mean),                             row(sd),
        testhost::make_scalar(v.top_count),    testhost::make_scalar(v.bottom_count),
        testhost::make_scalar(v.prior_weight), row(low),
        row(high)};
    testhost::CallResult result = testhost::call(plugin, 1, arguments);
    for (mxArray* array : arguments) mxDestroyArray(array);
    if (!result.ok) {
        fprintf(stderr, "libm_survey: %s: %s\n", result.error_id.c_str(), result.error_message.c_str());
        exit(1);
    }
    return result.result;
}

testhost::Plugin load(const char* path) {
    std::string error;
    const testhost::Plugin plugin = testhost::load_plugin(path, &error);
    if (plugin.entry == nullptr) {
        fprintf(stderr, "libm_survey: %s\n", error.c_str());
        exit(2);
    }
    return plugin;
}

std::string volume_file(const std::string& dir, const Volume& v) {
    return dir + "/" + v.name + ".mxa";
}

// The child: every volume into an array file in `dir`.
int write_volumes(const char* plugin_path, const std::string& dir) {
    const testhost::Plugin plugin = load(plugin_path);
    for (const Volume& v : kVolumes) {
        mxArray* cells = score(plugin, v);
        if (!testhost::write_array_file(volume_file(dir, v), cells)) return 2;
        mxDestroyArray(cells);
    }
    return 0;
}

// Scores in a child whose glibc keeps off FMA, into a new directory.
std::string score_without_fma(const char* plugin_path) {
    char dir[] = "/tmp/libm_survey_XXXXXX";
    if (mkdtemp(dir) == nullptr) return "";
    std::vector<std::string> environment = {
        "GLIBC_TUNABLES=glibc.cpu.hwcaps=-FMA,-AVX2_Usable,-FMA4"};
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (strncmp(*entry, "GLIBC_TUNABLES=", 15) != 0) environment.push_back(*entry);
    std::vector<char*> child_environment;
    for (std::string& entry : environment) child_environment.push_back(entry.data());
    child_environment.push_back(nullptr);
    std::string self = "/proc/self/exe", mode = "bandscore-cells", plugin = plugin_path,
                out = dir;
    char* argv[] = {self.data(), mode.data(), plugin.data(), out.data(), nullptr};
    pid_t child;
    int status = 0;
    if (posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, child_environment.data()) != 0 ||
        waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "libm_survey: the child without FMA failed\n");
        return "";
    }
    return dir;
}

// This process's volumes against those in `dir` (written by `other`).
int survey_bandscore(const char* plugin_path, std::string dir, const char* other) {
    const testhost::Plugin loaded = load(plugin_path);
    for (const Volume& v : kVolumes) {
        mxArray* cells = score(loaded, v);
        std::string error;
        mxArray* others = testhost::read_array_file(volume_file(dir, v), &error);
        if (others == nullptr) {
            fprintf(stderr, "libm_survey: %s\n", error.c_str());
            return 2;
        }
        const std::vector<double> a = testhost::double_values(cells);
        const std::vector<double> b = testhost::double_values(others);
        size_t differing = 0, scored = 0;
        for (size_t k = 0; k < a.size() && k < b.size(); ++k) {
            scored += a[k] != -999999.0;
            differing += memcmp(&a[k], &b[k], sizeof a[k]) != 0 && !(isnan(a[k]) && isnan(b[k]));
        }
        printf("bandscore %-6s %zu cells, %zu scored: %zu differ from %s (%.4f %% of the scored "
               "cells)\n",
               v.name, a.size(), scored, differing + (a.size() != b.size() ? a.size() : 0), other,
               scored == 0 ? 0.0 : 100.0 * static_cast<double>(differing) / static_cast<double>(scored));
        mxDestroyArray(cells);
        mxDestroyArray(others);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "logf" && argc == 2) return survey_logf();
    if (mode == "logf-block" && argc == 3) return list_logf_block(static_cast<uint32_t>(atoi(argv[2])));
    if (mode == "bandscore" && argc == 3) {
        const std::string dir = score_without_fma(argv[2]);
        if (dir.empty()) return 2;
        const int status = survey_bandscore(argv[2], dir, "the same glibc without FMA");
        for (const Volume& v : kVolumes) unlink(volume_file(dir, v).c_str());
        rmdir(dir.c_str());
        return status;
    }
    if (mode == "bandscore" && argc == 4) return survey_bandscore(argv[2], argv[3], argv[3]);
    if (mode == "bandscore-cells" && argc == 4) return write_volumes(argv[2], argv[3]);
    fputs("usage: libm_survey logf | logf-block K | bandscore PLUGIN [DIR] |\n"
          "       bandscore-cells PLUGIN DIR\n",
          stderr);
    return 2;
}
