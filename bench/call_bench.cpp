// `make bench`, the calls users make: whole calls of both plug-ins through
// the stand-in host (argument checks, the result's creation, the team, the
// exponential and the logarithm, the warnings' checks), beside the core
// called alone on the same data.
//
// For the filter on a B-scan of 496 x 1024 it times calls of 1, 5, 20 and
// 100 iterations and fits, by least squares over those four, the cost of a
// call as fixed + n * per_iteration; the fixed cost is also given in
// iterations. Then a 2048 x 2048 image of 20 iterations, a volume of 64
// B-scans in one call against 64 calls of one B-scan each (also under a
// reported affinity mask of 64 processors, as bench/fast_paths_bench.cpp
// does it), and the scorer on the demo's call. Each time is the fastest of
// several calls, the one least disturbed by other work on the machine.
//
//   build/bench/call_bench [FILTER_PLUGIN SCORER_PLUGIN]
//
// times this build's plug-ins, or the two given (another build's, to set
// two builds side by side in one run); the core rows are always this
// build's.
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core_support.h"
#include "wide_mask.h"
#include "scorer.h"
#include "test_host.h"

namespace {

// The fastest of `repeats` runs of `body`, in seconds.
template <typename Body>
double fastest(int repeats, const Body& body) {
    double best = 1e30;
    for (int k = 0; k < repeats; ++k) {
        const auto start = std::chrono::steady_clock::now();
        body();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, seconds);
    }
    return best;
}

// Repeats that take about `budget` seconds in all, at least 5.
int repeats_for(double one_call, double budget = 1.0) {
    return std::max(5, static_cast<int>(budget / std::max(one_call, 1e-6)));
}

// Speckle-like log intensities around a smooth ramp, pages of rows x cols.
std::vector<float> b_scans(uint32_t rows, uint32_t cols, uint32_t pages) {
    std::mt19937 generator(1);
    std::normal_distribution<float> speckle(0.0f, 0.3f);
    std::vector<float> image(static_cast<size_t>(rows) * cols * pages);
    for (size_t k = 0; k < image.size(); ++k)
        image[k] = 1.0f + 2.0f * static_cast<float>(k % rows) / rows + speckle(generator);
    return image;
}

// A filter call as a user makes it: TARV_c(image, n, 0.2, 1, 40, 1, 60, 0).
struct FilterCall {
    const testhost::Plugin* plugin;
    std::vector<mxArray*> inputs;

    FilterCall(const testhost::Plugin& loaded, const std::vector<size_t>& dims,
               const std::vector<float>& values, int32_t iterations)
        : plugin(&loaded) {
        mxArray* image = testhost::make_array(mxSINGLE_CLASS, dims);
        std::copy(values.begin(), values.end(), static_cast<float*>(mxGetData(image)));
        inputs = {image,
                  testhost::make_scalar(iterations),
                  testhost::make_scalar(0.2),
                  testhost::make_scalar(1),
                  testhost::make_scalar(40),
                  testhost::make_scalar(1),
                  testhost::make_scalar(60),
                  testhost::make_scalar(0)};
    }
    ~FilterCall() {
        for (mxArray* input : inputs) mxDestroyArray(input);
    }
    FilterCall(const FilterCall&) = delete;
    FilterCall& operator=(const FilterCall&) = delete;

    // Whether the plug-in took the call (an older one refuses a volume).
    bool accepted() const {
        testhost::CallResult call = testhost::call(*plugin, 1, inputs, false);
        if (call.ok) mxDestroyArray(call.result);
        return call.ok;
    }

    void operator()() const {
        testhost::CallResult call = testhost::call(*plugin, 1, inputs, false);
        if (!call.ok) {
            std::fprintf(stderr, "call_bench: %s: %s\n", call.error_id.c_str(),
                         call.error_message.c_str());
            std::exit(1);
        }
        mxDestroyArray(call.result);
    }
};

// The core alone on the same image: the automatic path and team, the C
// library's heap.
struct CoreCall {
    std::vector<float> source, result;
    uint32_t rows, cols, pages;
    FilterSettings settings;

    CoreCall(uint32_t m, uint32_t n, uint32_t p, int32_t iterations)
        : source(b_scans(m, n, p)), result(source.size()), rows(m), cols(n), pages(p),
          settings{region_of(0, 39, 0, 59), iterations, 0.2f} {}
    void operator()() {
        tarv_filter(source.data(), result.data(), rows, cols, pages, settings,
                    filter_options_for(kAutomaticPath), nullptr);
    }
};

// Least squares of t = fixed + n * per_iteration.
struct Fit {
    double fixed, per_iteration;
};

Fit fit(const std::vector<int32_t>& iterations, const std::vector<double>& seconds) {
    const double count = static_cast<double>(iterations.size());
    double sn = 0, st = 0, snn = 0, snt = 0;
    for (size_t k = 0; k < iterations.size(); ++k) {
        sn += iterations[k];
        st += seconds[k];
        snn += static_cast<double>(iterations[k]) * iterations[k];
        snt += iterations[k] * seconds[k];
    }
    const double per_iteration = (count * snt - sn * st) / (count * snn - sn * sn);
    return {(st - per_iteration * sn) / count, per_iteration};
}

void b_scan_table(const testhost::Plugin& filter) {
    const uint32_t rows = 496, cols = 1024;
    const std::vector<int32_t> counts = {1, 5, 20, 100};
    const std::vector<float> image = b_scans(rows, cols, 1);
    std::vector<double> call_times, core_times;
    std::printf("TARV_c on a %u x %u B-scan, fastest call (ms):\n%-12s %12s %12s\n", rows, cols,
                "iterations", "whole call", "core alone");
    for (int32_t n : counts) {
        const FilterCall call(filter, {rows, cols}, image, n);
        CoreCall core(rows, cols, 1, n);
        core.source = image;
        call();
        const int repeats = repeats_for(fastest(1, call));
        call_times.push_back(fastest(repeats, call));
        core_times.push_back(fastest(repeats, [&] { core(); }));
        std::printf("%-12d %12.3f %12.3f\n", n, call_times.back() * 1e3, core_times.back() * 1e3);
    }
    const Fit whole = fit(counts, call_times), alone = fit(counts, core_times);
    std::printf("fit t = fixed + n * per iteration (ms):\n%-12s %12s %12s %12s\n", "", "fixed",
                "per iter.", "fixed/iter.");
    for (const auto& [name, f] : {std::pair{"whole call", whole}, std::pair{"core alone", alone}})
        std::printf("%-12s %12.3f %12.4f %12.2f\n", name, f.fixed * 1e3, f.per_iteration * 1e3,
                    f.fixed / f.per_iteration);
}

// ns per pixel-iteration of one call on `pages` pages.
double ns_per_pixel_iteration(double seconds, uint32_t rows, uint32_t cols, uint32_t pages,
                              int32_t iterations) {
    return seconds * 1e9 / (static_cast<double>(rows) * cols * pages * iterations);
}

void large_and_volume_table(const testhost::Plugin& filter) {
    std::printf("\nTARV_c, ns per pixel-iteration (fastest call):\n%-44s %10s\n", "case", "ns");
    {
        const uint32_t n = 2048;
        const std::vector<float> image = b_scans(n, n, 1);
        const FilterCall call(filter, {n, n}, image, 20);
        CoreCall core(n, n, 1, 20);
        std::printf("%-44s %10.3f\n", "2048 x 2048 x 20, whole call",
                    ns_per_pixel_iteration(fastest(5, call), n, n, 1, 20));
        std::printf("%-44s %10.3f\n", "2048 x 2048 x 20, core alone",
                    ns_per_pixel_iteration(fastest(5, [&] { core(); }), n, n, 1, 20));
    }
    const uint32_t rows = 496, cols = 1024, pages = 64;
    const std::vector<float> volume = b_scans(rows, cols, pages);
    const FilterCall one_call(filter, {rows, cols, pages}, volume, 20);
    std::vector<std::unique_ptr<FilterCall>> page_calls;
    const size_t plane = static_cast<size_t>(rows) * cols;
    for (uint32_t page = 0; page < pages; ++page)
        page_calls.push_back(std::make_unique<FilterCall>(
            filter, std::vector<size_t>{rows, cols},
            std::vector<float>(volume.begin() + plane * page, volume.begin() + plane * (page + 1)),
            20));
    const auto separate = [&] {
        for (const auto& call : page_calls) (*call)();
    };
    const bool takes_volumes = one_call.accepted();
    if (takes_volumes)
        std::printf("%-44s %10.3f\n", "496 x 1024 x 64 x 20, one call",
                    ns_per_pixel_iteration(fastest(3, one_call), rows, cols, pages, 20));
    std::printf("%-44s %10.3f\n", "496 x 1024 x 64 x 20, 64 calls of a page",
                ns_per_pixel_iteration(fastest(3, separate), rows, cols, pages, 20));
    g_report_wide_mask = true;
    if (takes_volumes)
        std::printf("%-44s %10.3f\n", "496 x 1024 x 64 x 20, one call, 64-cpu mask",
                    ns_per_pixel_iteration(fastest(3, one_call), rows, cols, pages, 20));
    std::printf("%-44s %10.3f\n", "496 x 1024 x 64 x 20, 64 calls, 64-cpu mask",
                ns_per_pixel_iteration(fastest(3, separate), rows, cols, pages, 20));
    g_report_wide_mask = false;
}

// The demo's scoring call: a 256 x 384 image, tops from row 50 (130 of
// them), bottoms from row 80 (150), spans of 25 to 55 rows, 40 preferred.
void scorer_table(const testhost::Plugin& scorer) {
    const size_t rows = 256, cols = 384;
    std::vector<double> image(rows * cols);
    std::mt19937 generator(3);
    std::uniform_real_distribution<double> value(0.0, 3.0);
    for (double& v : image) v = value(generator);
    const auto row = [&](double v) { return testhost::make_double({1, cols}, std::vector<double>(cols, v)); };
    std::vector<mxArray*> inputs = {testhost::make_scalar(50),  testhost::make_scalar(80),
                                    testhost::make_double({rows, cols}, image),
                                    row(40),  row(6), testhost::make_scalar(130),
                                    testhost::make_scalar(150), testhost::make_scalar(0.5),
                                    row(25),  row(55)};
    const auto call = [&] {
        testhost::CallResult result = testhost::call(scorer, 1, inputs, false);
        if (!result.ok) std::exit(1);
        mxDestroyArray(result.result);
    };
    std::vector<double> c(cols, 40), sd(cols, 6), low(cols, 25), high(cols, 55);
    const BandScoreParams params{50, 80, 130, 150, 0.5, c.data(), sd.data(), low.data(), high.data()};
    std::vector<double> scores(static_cast<size_t>(130) * 150 * cols);
    const auto core = [&] {
        band_score(image.data(), static_cast<int32_t>(rows), static_cast<int32_t>(cols), params,
                   scores.data(), options_for(kAutomaticPath));
    };
    const int repeats = repeats_for(fastest(1, call));
    const double whole = fastest(repeats, call), alone = fastest(repeats, core);
    std::printf("\nbandscore on the demo's call (130 x 150 pairs, 384 columns), fastest call (ms):\n"
                "%-12s %12.3f\n%-12s %12.3f\n%-12s %12.3f\n",
                "whole call", whole * 1e3, "core alone", alone * 1e3, "difference",
                (whole - alone) * 1e3);
    for (mxArray* input : inputs) mxDestroyArray(input);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string filter_path = argc > 2 ? argv[1] : TARV_C_PLUGIN;
    const std::string scorer_path = argc > 2 ? argv[2] : BANDSCORE_PLUGIN;
    std::string error;
    const testhost::Plugin filter = testhost::load_plugin(filter_path, &error);
    const testhost::Plugin scorer = testhost::load_plugin(scorer_path, &error);
    if (filter.entry == nullptr || scorer.entry == nullptr) {
        std::fprintf(stderr, "call_bench: %s\n", error.c_str());
        return 1;
    }
    std::printf("plug-ins: %s, %s\n\n", filter_path.c_str(), scorer_path.c_str());
    b_scan_table(filter);
    large_and_volume_table(filter);
    scorer_table(scorer);
    return 0;
}
