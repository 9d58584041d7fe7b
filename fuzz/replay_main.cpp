// Runs a fuzz target over saved inputs, without the fuzzing engine: the
// seed corpus and the regression inputs, under the sanitizers or under
// valgrind.
//
//   replay_<plugin> [--statistics] PATH...
//
// Each PATH is an input file or a directory of them. A broken check aborts
// the run; --statistics prints what the inputs covered.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz_input.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    bool statistics = false;
    std::vector<std::filesystem::path> files;
    for (int k = 1; k < argc; ++k) {
        if (strcmp(argv[k], "--statistics") == 0) {
            statistics = true;
            continue;
        }
        const std::filesystem::path path = argv[k];
        if (std::filesystem::is_directory(path)) {
            std::vector<std::filesystem::path> entries;
            for (const auto& entry : std::filesystem::directory_iterator(path))
                if (entry.is_regular_file()) entries.push_back(entry.path());
            std::sort(entries.begin(), entries.end());
            files.insert(files.end(), entries.begin(), entries.end());
        } else if (std::filesystem::is_regular_file(path)) {
            files.push_back(path);
        } else {
            fprintf(stderr, "replay: no such input: %s\n", argv[k]);
            return 2;
        }
    }
    if (files.empty()) {
        fprintf(stderr, "usage: %s [--statistics] PATH...\n", argv[0]);
        return 2;
    }
    fuzz_statistics_on = statistics;
    LLVMFuzzerInitialize(&argc, &argv);
    for (const auto& file : files) {
        std::ifstream stream(file, std::ios::binary);
        const std::vector<uint8_t> data{std::istreambuf_iterator<char>(stream), {}};
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    if (statistics)
        for (const auto& [label, count] : fuzz_statistics()) printf("%8zu  %s\n", count, label.c_str());
    printf("replayed %zu inputs\n", files.size());
    return 0;
}
