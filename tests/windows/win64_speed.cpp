// win64_speed: times each 64-bit Windows plug-in under wine beside the Linux
// plug-in on the same machine, the fastest of five on the same inputs, the
// Windows ones timed inside win_runner.exe, the Linux ones in this
// process:
// - the call through the stand-in host, which includes creating the result
//   array (a fresh block of the process heap, whose first touch costs page
//   faults, under wine on every call);
// - the core alone on the automatic path, with one thread and with the
//   automatic team, writing into the same buffers each time (under wine a
//   thread takes milliseconds to start, so the team's start shows there).
// A measurement, not a test (`make bench-wine` runs it); it prints the
// processor it ran on.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "case_support.h"
#include "core_calls.h"
#include "windows_calls.h"
#include "worker_team.h"

namespace {

using namespace windows;

constexpr int kCalls = 5;

double fastest_linux_call(Plugin plugin, const Inputs& inputs) {
    std::string error;
    const testhost::Plugin loaded = testhost::load_plugin(linux_plugin(plugin), &error);
    if (loaded.entry == nullptr) {
        std::cerr << error << "\n";
        return -1;
    }
    testhost::ProgressRecorder recorder;
    testhost::install_progress_recorder(&recorder);
    double fastest = -1;
    for (int k = 0; k < kCalls; ++k) {
        const auto start = std::chrono::steady_clock::now();
        testhost::CallResult result = testhost::call(loaded, 1, inputs.arrays);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!result.ok) std::cerr << "error " << result.error_id << ": " << result.error_message << "\n";
        if (result.result != nullptr) mxDestroyArray(result.result);
        if (fastest < 0 || seconds < fastest) fastest = seconds;
    }
    standin_clear_functions();
    return fastest;
}

template <typename Body>
double fastest_run(Body body) {
    double fastest = -1;
    for (int k = 0; k < kCalls; ++k) {
        const auto start = std::chrono::steady_clock::now();
        body();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (fastest < 0 || seconds < fastest) fastest = seconds;
    }
    return fastest;
}

// The Linux cores on the inputs below.
double fastest_linux_core(Plugin plugin, const Inputs& in, int32_t threads) {
    const PathChoice choice{CpuPath::kAutomatic, threads};
    if (plugin == Plugin::kFilter) {
        FilterCore core(in.arrays);
        return fastest_run([&] { core.run(choice); });
    }
    const ScoreCore core(in.arrays);
    std::vector<double> scores(core.volume());
    return fastest_run([&] { core.run(choice, scores.data()); });
}

// The processor's name and family as /proc/cpuinfo gives them.
std::string processor_name() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string name, family;
    for (std::string line; std::getline(cpuinfo, line) && (name.empty() || family.empty());) {
        if (line.rfind("model name", 0) == 0) name = line.substr(line.find(':') + 2);
        if (line.rfind("cpu family", 0) == 0) family = line.substr(line.find(':') + 2);
    }
    if (name.empty()) name = "unknown processor";
    return name + ", family " + family + ", " + std::to_string(allowed_cpu_count()) +
           " processors for this process";
}

}  // namespace

int main() {
    Inputs filter;
    {
        const std::vector<double> image = uniform_values(512 * 512, 0.0, 4.0, 1);
        filter.add(testhost::make_single(512, 512, std::vector<float>(image.begin(), image.end())));
        for (double scalar : {20.0, 0.2, 1.0, 100.0, 1.0, 100.0, 0.0}) add_scalar(filter, scalar);
    }
    Inputs scorer;
    {
        const size_t rows = 400, cols = 256;
        const auto row = [](const std::vector<double>& v) { return testhost::make_double({1, v.size()}, v); };
        add_scalar(scorer, 10.0);
        add_scalar(scorer, 150.0);
        scorer.add(testhost::make_double({rows, cols}, uniform_values(rows * cols, -1.0, 3.0, 2)));
        scorer.add(row(uniform_values(cols, 100.0, 200.0, 3)));
        scorer.add(row(uniform_values(cols, 10.0, 40.0, 4)));
        for (double scalar : {100.0, 100.0, 0.5}) add_scalar(scorer, scalar);
        scorer.add(row(std::vector<double>(cols, 20.0)));
        scorer.add(row(std::vector<double>(cols, 260.0)));
    }
    std::cout << "processor: " << processor_name() << "\n";
    struct Timed {
        Plugin plugin;
        const Inputs* inputs;
        const char* what;
    };
    const std::string times = "--time " + std::to_string(kCalls);
    for (const Timed& timed : {Timed{Plugin::kFilter, &filter, "TARV_c, 512 x 512 image, 20 iterations"},
                               Timed{Plugin::kScorer, &scorer, "bandscore, 100 x 100 pairs in 256 columns"}}) {
        const Outcome windows_call = run_windows(timed.plugin, *timed.inputs, times);
        const double linux_call = fastest_linux_call(timed.plugin, *timed.inputs);
        if (windows_call.status != "ok" || linux_call <= 0) {
            std::cerr << timed.what << ": a call failed\n";
            return 1;
        }
        std::cout << timed.what << ", fastest of " << kCalls << ":\n"
                  << "  call through the host:    " << windows_call.seconds * 1e3 << " ms under wine, "
                  << linux_call * 1e3 << " ms on Linux, Windows / Linux = "
                  << windows_call.seconds / linux_call << "\n";
        for (int32_t threads : {1, 0}) {
            const Outcome windows_core = run_windows(
                timed.plugin, *timed.inputs, times + " --core automatic " + std::to_string(threads));
            const double linux_core = fastest_linux_core(timed.plugin, *timed.inputs, threads);
            if (windows_core.status != "ok") return 1;
            std::cout << (threads == 1 ? "  core alone, one thread:   " : "  core alone, its team:     ")
                      << windows_core.seconds * 1e3 << " ms under wine, " << linux_core * 1e3
                      << " ms on Linux, Windows / Linux = " << windows_core.seconds / linux_core << "\n";
        }
    }
    return 0;
}
