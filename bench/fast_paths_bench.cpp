// `make bench`: the plain loops, the fast paths with 1 and 2 threads (and
// as many as the process may use: automatic) and the memory floor, side by
// side, for the filter and the scorer; then the memory a filter call
// reserves and touches on each path.
//
// The filter reports nanoseconds per pixel-iteration (one pixel through one
// iteration, the exponential and the logarithm shared out over the
// iterations); the scorer nanoseconds per cell of the score volume. Each
// case runs several times and the table keeps the fastest repetition, which
// is the one least disturbed by other work on the machine.
//
// The memory floors stream, with plain loops on 2 threads, the bytes that a
// pass must read and write at the least:
// - filter, sweep: the working plane read and written once per iteration
//   (8 bytes a pixel-iteration), what the one-sweep fast path streams;
// - filter, two passes: the coefficient pass reads the working plane and
//   writes five planes, the update pass reads six and writes one (52 bytes
//   a pixel-iteration), what the plain loops stream;
// - scorer: the score volume written once (8 bytes a cell).
// Two more rows show what bounds the filter's fast path: the divisions its
// coefficients need (floor_divider) and the exponential and logarithm of
// every pixel (exp_log_only), both on 2 threads. The _progress row runs
// with a progress step, one team per iteration, as a call with the progress
// bar does (the bar's own host calls aside).
//
// The fast paths exponentiate with their own routine; two groups set it
// beside the C library's exp, which the plain loops keep: the
// exponentiation alone (exp/, ns per pixel: the library on 1 thread, each
// fast path's own routine on 2), and a whole filter call of 2 iterations
// on the best path with either. The logarithm alone likewise (log/, ns per
// pixel, all on one thread): the library's logf, which the plain loops
// keep, and each fast path's own.
#include <benchmark/benchmark.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core_support.h"
#include "wide_mask.h"
#include "instruction_sets.h"
#include "kernel.h"
#include "logarithm.h"
#include "scorer.h"
#include "worker_team.h"

namespace {

constexpr int kIterations = 20;
constexpr int kRepetitions = 5;

// --- the filter -----------------------------------------------------------------

struct FilterImage {
    uint32_t rows, cols;
    std::vector<float> source, work;
    FilterSettings params;

    FilterImage(uint32_t m, uint32_t n, int32_t iterations = kIterations)
        : rows(m), cols(n), source(static_cast<size_t>(m) * n), work(source.size()) {
        // Speckle-like log intensities around a smooth ramp.
        std::mt19937 generator(1);
        std::normal_distribution<float> speckle(0.0f, 0.3f);
        for (uint32_t j = 0; j < n; ++j)
            for (uint32_t i = 0; i < m; ++i)
                source[i + static_cast<size_t>(m) * j] = 1.0f + 2.0f * i / m + speckle(generator);
        // A 40 x 60 region near the top left, as a user picks a patch of
        // speckle.
        params = {region_of(m / 8, m / 8 + std::min(m, 40u) - 1, n / 8, n / 8 + std::min(n, 60u) - 1),
                  iterations, 0.2f};
        std::fill(work.begin(), work.end(), 0.0f);  // touch every page before timing
    }
    double pixel_iterations() const {
        return static_cast<double>(source.size()) * (params.iterations > 0 ? params.iterations : 1);
    }
};

enum class FilterRunKind {
    kWhole,           // exponential, iterations and logarithm
    kLibmOnly,        // no iteration: the exponential and the logarithm alone
    kProgress,        // with a progress step, which stops the team for every iteration
    kInterruptCheck,  // with an interrupt check that never stops, asked as the plug-ins ask
    kLibraryExp,      // kWhole with the C library's exp in the fast path
};

bool no_op_progress(void*, int64_t, int64_t) { return true; }

// What a host without an interrupt pending answers.
bool never_interrupted(void*) { return false; }
constexpr InterruptCheck kNeverInterrupted{never_interrupted, nullptr, 0};

void filter_case(benchmark::State& state, uint32_t rows, uint32_t cols, PathChoice choice,
                 FilterRunKind kind = FilterRunKind::kWhole, int32_t iterations = kIterations) {
    FilterImage image(rows, cols, iterations);
    // With no iteration only the exponential and the logarithm are left:
    // their share of a pixel-iteration at 20 iterations.
    const double units = image.pixel_iterations();
    if (kind == FilterRunKind::kLibmOnly) image.params.iterations = 0;
    FilterOptions options = filter_options_for(choice);
    if (kind == FilterRunKind::kProgress) options.progress = {nullptr, no_op_progress, nullptr};
    if (kind == FilterRunKind::kInterruptCheck) options.core.interrupt = kNeverInterrupted;
    options.library_exponential = kind == FilterRunKind::kLibraryExp;
    for (auto _ : state) {
        const CoreEnd done = tarv_filter(image.source.data(), image.work.data(), rows, cols, 1,
                                         image.params, options, nullptr);
        benchmark::DoNotOptimize(done);
        benchmark::ClobberMemory();
    }
    state.counters["units"] = units;
}

// The exponentiation step alone, ns per pixel, on `choice` (the plain path
// is the library's exp on one thread).
void exp_case(benchmark::State& state, uint32_t rows, uint32_t cols, PathChoice choice) {
    FilterImage image(rows, cols);
    const uint32_t count = rows * cols;
    for (auto _ : state) {
        exponentiate_with(options_for(choice), image.source.data(), image.work.data(), count);
        benchmark::ClobberMemory();
    }
    state.counters["units"] = static_cast<double>(count);
}

// The logarithm step alone, ns per pixel, on one thread, in place over the
// exponentials of the source (what the filter takes the logarithm of),
// which are put back untimed before each pass: the plain path is the
// library's logf, a fast path its own routine.
void log_case(benchmark::State& state, uint32_t rows, uint32_t cols, CpuPath path) {
    FilterImage image(rows, cols);
    const uint32_t count = rows * cols;
    std::vector<float> exponentials(count);
    exponentiate_with(options_for({CpuPath::kPlain, 1}), image.source.data(), exponentials.data(),
                      count);
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(exponentials.begin(), exponentials.end(), image.work.begin());
        state.ResumeTiming();
        if (path == CpuPath::kPlain)
            take_logarithms(image.work.data(), 0, count);
        else
            logarithms_on(path, image.work.data(), count);
        benchmark::ClobberMemory();
    }
    state.counters["units"] = static_cast<double>(count);
}

// Floors: plain streaming loops over the same planes, split over a team.
struct StreamCall {
    float* planes[6];  // the working plane, then the five scratch planes
    size_t count;
    bool two_pass;
    int32_t shares;
};

void stream_share(void* context, int32_t, int32_t part) {
    const StreamCall& call = *static_cast<const StreamCall*>(context);
    const size_t begin = share_start(call.count, part, call.shares);
    const size_t end = share_start(call.count, part + 1, call.shares);
    float* __restrict w = call.planes[0];
    if (!call.two_pass) {
        for (size_t k = begin; k < end; ++k) w[k] = w[k] * 0.5f;
    } else {
        float* __restrict a = call.planes[1];
        float* __restrict b = call.planes[2];
        float* __restrict c = call.planes[3];
        float* __restrict d = call.planes[4];
        float* __restrict e = call.planes[5];
        for (size_t k = begin; k < end; ++k) {
            const float v = w[k];
            a[k] = v;
            b[k] = v;
            c[k] = v;
            d[k] = v;
            e[k] = v;
        }
        for (size_t k = begin; k < end; ++k)
            w[k] = (((a[k] + b[k]) + c[k]) + d[k]) + e[k] * w[k];
    }
}

void filter_floor(benchmark::State& state, uint32_t rows, uint32_t cols, bool two_pass,
                  int threads) {
    FilterImage image(rows, cols);
    const size_t plane = image.source.size();
    std::vector<float> scratch(5 * plane, 0.0f);
    float* s = scratch.data();
    StreamCall call{{image.work.data(), s, s + plane, s + 2 * plane, s + 3 * plane, s + 4 * plane},
                    plane,
                    two_pass,
                    threads};
    for (auto _ : state) {
        // One phase an iteration.
        WorkerTeam team(threads, {threads, stream_share, &call});
        for (int32_t iteration = 0; iteration < kIterations; ++iteration) team.run(iteration);
        team.stop();
        benchmark::ClobberMemory();
    }
    state.counters["units"] = image.pixel_iterations();
}

// The divider floor: the coefficient pass needs four single-precision and
// one double-precision division a pixel, none of which may become a
// multiplication. These loops do just those divisions, in 256-bit vectors,
// on independent values.
struct DivideCall {
    double pixel_iterations;
    float result;
    int32_t shares;
};

typedef float Float8 __attribute__((vector_size(32)));
typedef double Double4 __attribute__((vector_size(32)));

__attribute__((target("avx2"))) void divide_share(void* context, int32_t, int32_t part) {
    DivideCall& call = *static_cast<DivideCall*>(context);
    const long groups = static_cast<long>(call.pixel_iterations / 16.0 / call.shares);
    // Two groups of 8 pixels in flight: 8 single and 4 double divisions.
    Float8 f[8];
    Double4 d[4];
    for (int k = 0; k < 8; ++k) f[k] = Float8{} + (1.5f + k);
    for (int k = 0; k < 4; ++k) d[k] = Double4{} + (1.5 + k);
    const Float8 fd = Float8{} + 1.0000001f;
    const Double4 dd = Double4{} + 1.0000001;
    for (long n = 0; n < groups; ++n) {
        for (int k = 0; k < 8; ++k) f[k] = f[k] / fd;
        for (int k = 0; k < 4; ++k) d[k] = d[k] / dd;
    }
    float sum = 0.0f;
    for (int k = 0; k < 8; ++k) sum += f[k][0];
    for (int k = 0; k < 4; ++k) sum += static_cast<float>(d[k][0]);
    if (part == 0) call.result = sum;
}

void filter_divider_floor(benchmark::State& state, uint32_t rows, uint32_t cols, int threads) {
    DivideCall call{static_cast<double>(rows) * cols * kIterations, 0.0f, threads};
    for (auto _ : state) {
        WorkerTeam(threads, {threads, divide_share, &call}).run(0);
        benchmark::DoNotOptimize(call.result);
    }
    state.counters["units"] = call.pixel_iterations;
}

// --- the scorer -----------------------------------------------------------------

struct ScoreVolume {
    int32_t rows, cols, A, B;
    std::vector<double> image, span_mean, span_sd, span_min, span_max, scores;
    BandScoreParams params;

    // A retinal B-scan: tops from row 100, bottoms from row 150, so spans
    // run from 50 - (A - 1) to 50 + (B - 1); spans of 10 to 150 rows are
    // admissible.
    ScoreVolume(int32_t count)
        : rows(496),
          cols(1024),
          A(count),
          B(count),
          image(static_cast<size_t>(rows) * cols),
          span_mean(cols),
          span_sd(cols),
          span_min(cols, 10.0),
          span_max(cols, 150.0),
          scores(static_cast<size_t>(A) * B * cols, 0.0) {
        std::mt19937 generator(2);
        std::uniform_real_distribution<double> value(0.0, 255.0);
        for (double& v : image) v = value(generator);
        for (int32_t c = 0; c < cols; ++c) {
            span_mean[c] = 60.0 + 20.0 * std::sin(c * 0.01);
            span_sd[c] = 15.0;
        }
        params = {100.0,           150.0,          A, B, 40.0, span_mean.data(), span_sd.data(),
                  span_min.data(), span_max.data()};
    }
    double cells() const { return static_cast<double>(scores.size()); }
};

void score_case(benchmark::State& state, int32_t count, PathChoice choice,
                bool interrupt_check = false) {
    ScoreVolume volume(count);
    const InterruptCheck interrupt = interrupt_check ? kNeverInterrupted : kNoInterruptCheck;
    for (auto _ : state) {
        CoreOptions options = options_for(choice);
        options.interrupt = interrupt;
        band_score(volume.image.data(), volume.rows, volume.cols, volume.params,
                   volume.scores.data(), options);
        benchmark::ClobberMemory();
    }
    state.counters["units"] = volume.cells();
}

struct FillCall {
    double* cells;
    size_t count;
    int32_t shares;
};

void fill_share(void* context, int32_t, int32_t part) {
    const FillCall& call = *static_cast<const FillCall*>(context);
    const size_t begin = share_start(call.count, part, call.shares);
    const size_t end = share_start(call.count, part + 1, call.shares);
    std::fill(call.cells + begin, call.cells + end, kInadmissibleScore);
}

void score_floor(benchmark::State& state, int32_t count, int threads) {
    ScoreVolume volume(count);
    FillCall call{volume.scores.data(), volume.scores.size(), threads};
    for (auto _ : state) {
        WorkerTeam(threads, {threads, fill_share, &call}).run(0);
        benchmark::ClobberMemory();
    }
    state.counters["units"] = volume.cells();
}

// --- memory ------------------------------------------------------------------------
// What one filter call takes beside its input on each path: the result and
// the scratch memory the core asks for. Reserved is what is allocated,
// touched what is resident at the end of the call (mincore over fresh
// mappings).

size_t resident_bytes(void* base, size_t bytes) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> pages((bytes + page - 1) / page);
    if (mincore(base, bytes, pages.data()) != 0) return 0;
    size_t resident = 0;
    for (unsigned char p : pages) resident += (p & 1) * page;
    return resident;
}

// Scratch memory in mappings of its own, counted as it is given back.
struct CountedMemory {
    size_t reserved = 0, touched = 0;
    std::map<void*, size_t> sizes;

    static void* allocate(void* context, size_t bytes) {
        auto* memory = static_cast<CountedMemory*>(context);
        void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) return nullptr;
        memory->sizes[block] = bytes;
        return block;
    }
    static void release(void* context, void* block) {
        auto* memory = static_cast<CountedMemory*>(context);
        const size_t bytes = memory->sizes[block];
        memory->reserved += bytes;
        memory->touched += resident_bytes(block, bytes);
        munmap(block, bytes);
    }
};

void report_memory(uint32_t rows, uint32_t cols) {
    FilterImage image(rows, cols);
    image.params.iterations = 2;
    const double pixels = static_cast<double>(rows) * cols;
    std::printf("\nMemory of one filter call on a %u x %u image, bytes per pixel beside the "
                "input:\n%-10s %10s %10s\n",
                rows, cols, "path", "reserved", "touched");
    for (CpuPath path : {CpuPath::kPlain, CpuPath::kBaseline, CpuPath::kAvx2, CpuPath::kAvx512}) {
        if (!cpu_path_supported(path)) continue;
        CountedMemory counted;
        FilterOptions options = filter_options_for({path, 0});
        options.core.memory = {CountedMemory::allocate, CountedMemory::release, &counted};
        const size_t result_bytes = sizeof(float) * rows * static_cast<size_t>(cols);
        float* result = static_cast<float*>(CountedMemory::allocate(&counted, result_bytes));
        tarv_filter(image.source.data(), result, rows, cols, 1, image.params, options, nullptr);
        CountedMemory::release(&counted, result);
        std::printf("%-10s %10.2f %10.2f\n", cpu_path_name(path), counted.reserved / pixels,
                    counted.touched / pixels);
    }
}

// --- the table ------------------------------------------------------------------

// Keeps the fastest repetition of every case and prints them as a table.
class TableReporter : public benchmark::ConsoleReporter {
public:
    // Plain text: the output usually goes to a log.
    TableReporter() : ConsoleReporter(OO_None) {}

    struct Row {
        std::string group, variant;
        double ns_per_unit;
    };

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "min") continue;
            const std::string name = run.run_name.function_name;
            const size_t slash = name.rfind('/');
            const double units = run.counters.at("units");
            rows_.push_back({name.substr(0, slash), name.substr(slash + 1),
                             run.GetAdjustedRealTime() * 1e9 /
                                 benchmark::GetTimeUnitMultiplier(run.time_unit) / units});
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::map<std::string, std::map<std::string, double>> table;
        std::vector<std::string> groups;
        for (const Row& row : rows_) {
            if (table.find(row.group) == table.end()) groups.push_back(row.group);
            table[row.group][row.variant] = row.ns_per_unit;
        }
        std::printf(
            "\nFastest of %d repetitions; ns per pixel-iteration (filter) or per cell "
            "(scorer).\n",
            kRepetitions);
        std::printf("%-26s %-24s %12s %10s %10s\n", "case", "variant", "ns/unit", "vs plain",
                    "vs floor");
        for (const std::string& group : groups) {
            const auto& variants = table[group];
            const double plain = variants.count("plain") ? variants.at("plain") : 0.0;
            const bool scorer = group.rfind("scorer", 0) == 0;
            const char* floor_name = scorer ? "floor_write_2t" : "floor_sweep_2t";
            const double floor = variants.count(floor_name) ? variants.at(floor_name) : 0.0;
            for (const Row& row : rows_) {
                if (row.group != group) continue;
                std::printf("%-26s %-24s %12.4f", group.c_str(), row.variant.c_str(),
                            row.ns_per_unit);
                if (plain > 0.0) std::printf(" %9.1fx", plain / row.ns_per_unit);
                if (floor > 0.0) std::printf(" %9.2fx", row.ns_per_unit / floor);
                std::printf("\n");
            }
        }
        if (const char* path = std::getenv("BENCH_CSV")) {
            if (FILE* csv = std::fopen(path, "w")) {
                std::fprintf(csv, "case,variant,ns_per_unit\n");
                for (const Row& row : rows_)
                    std::fprintf(csv, "%s,%s,%.6f\n", row.group.c_str(), row.variant.c_str(),
                                 row.ns_per_unit);
                std::fclose(csv);
            }
        }
    }

private:
    std::vector<Row> rows_;
};

double fastest(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

template <typename Lambda>
void add(const std::string& name, Lambda body) {
    benchmark::RegisterBenchmark(name.c_str(), body)
        ->Repetitions(kRepetitions)
        ->ComputeStatistics("min", fastest)
        ->ReportAggregatesOnly(true)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(0.2);
}

void register_cases() {
    const CpuPath best = resolve_cpu_path(CpuPath::kAutomatic);
    const uint32_t sizes[][2] = {{256, 256}, {512, 512}, {1024, 1024}, {2048, 2048}, {1024, 4096}};
    for (const auto& size : sizes) {
        const uint32_t rows = size[0], cols = size[1];
        const std::string group =
            "filter/" + std::to_string(rows) + "x" + std::to_string(cols) + "x20/";
        add(group + "plain", [=](benchmark::State& s) {
            filter_case(s, rows, cols, {CpuPath::kPlain, 1});
        });
        add(group + "baseline_2t", [=](benchmark::State& s) {
            filter_case(s, rows, cols, {CpuPath::kBaseline, 2});
        });
        add(group + std::string(cpu_path_name(best)) + "_1t", [=](benchmark::State& s) {
            filter_case(s, rows, cols, {best, 1});
        });
        add(group + std::string(cpu_path_name(best)) + "_2t", [=](benchmark::State& s) {
            filter_case(s, rows, cols, {best, 2});
        });
        add(group + "floor_sweep_1t",
            [=](benchmark::State& s) { filter_floor(s, rows, cols, false, 1); });
        add(group + "floor_sweep_2t",
            [=](benchmark::State& s) { filter_floor(s, rows, cols, false, 2); });
        add(group + "floor_two_pass_2t",
            [=](benchmark::State& s) { filter_floor(s, rows, cols, true, 2); });
        add(group + std::string(cpu_path_name(best)) + "_2t_progress", [=](benchmark::State& s) {
            filter_case(s, rows, cols, {best, 2}, FilterRunKind::kProgress);
        });
        add(group + std::string(cpu_path_name(best)) + "_2t_interrupt_check",
            [=](benchmark::State& s) {
                filter_case(s, rows, cols, {best, 2}, FilterRunKind::kInterruptCheck);
            });
        add(group + "automatic", [=](benchmark::State& s) {
            filter_case(s, rows, cols, kAutomaticPath);
        });
        add(group + "exp_log_only_2t", [=](benchmark::State& s) {
            filter_case(s, rows, cols, {best, 2}, FilterRunKind::kLibmOnly);
        });
        if (cpu_path_supported(CpuPath::kAvx2))
            add(group + "floor_divider_2t",
                [=](benchmark::State& s) { filter_divider_floor(s, rows, cols, 2); });
    }
    // Teams asked for more threads than this machine's processors: a
    // forced thread count, and the automatic team under a mask of 64
    // processors of which only this machine's are there (as where other
    // processes keep most of a machine's processors busy).
    for (int32_t threads : {2, 8, 64, 0}) {
        const std::string name = "team/300x300x20/" + std::string(cpu_path_name(best)) + "_" +
                                 (threads > 0 ? std::to_string(threads) + "t" : "64_cpu_mask");
        for (FilterRunKind kind : {FilterRunKind::kWhole, FilterRunKind::kProgress})
            add(name + (kind == FilterRunKind::kProgress ? "_progress" : ""),
                [=](benchmark::State& s) {
                    g_report_wide_mask = threads == 0;
                    filter_case(s, 300, 300, {best, threads}, kind);
                    g_report_wide_mask = false;
                });
    }
    {
        // The exponentiation alone, and a whole call of few iterations, with
        // the library's exp and the fast paths' own.
        const uint32_t rows = 2048, cols = 2048;
        const std::string group = "exp/2048x2048/";
        add(group + "plain", [=](benchmark::State& s) {
            exp_case(s, rows, cols, {CpuPath::kPlain, 1});
        });
        for (CpuPath path : {CpuPath::kBaseline, CpuPath::kAvx2, CpuPath::kAvx512}) {
            if (!cpu_path_supported(path)) continue;
            add(group + std::string(cpu_path_name(path)) + "_2t", [=](benchmark::State& s) {
                exp_case(s, rows, cols, {path, 2});
            });
        }
        const std::string log_group = "log/2048x2048/";
        add(log_group + "plain",
            [=](benchmark::State& s) { log_case(s, rows, cols, CpuPath::kPlain); });
        for (CpuPath path : {CpuPath::kBaseline, CpuPath::kAvx2, CpuPath::kAvx512}) {
            if (!cpu_path_supported(path)) continue;
            add(log_group + std::string(cpu_path_name(path)) + "_1t",
                [=](benchmark::State& s) { log_case(s, rows, cols, path); });
        }
        const std::string whole = "filter/2048x2048x2/";
        const std::string best_2t = std::string(cpu_path_name(best)) + "_2t";
        add(whole + "plain", [=](benchmark::State& s) {
            filter_case(s, rows, cols, {CpuPath::kPlain, 1}, FilterRunKind::kWhole, 2);
        });
        add(whole + best_2t + "_library_exp", [=](benchmark::State& s) {
            filter_case(s, rows, cols, {best, 2}, FilterRunKind::kLibraryExp, 2);
        });
        add(whole + best_2t, [=](benchmark::State& s) {
            filter_case(s, rows, cols, {best, 2}, FilterRunKind::kWhole, 2);
        });
    }
    for (int32_t count : {100, 256}) {
        const std::string group = "scorer/496x1024/A=B=" + std::to_string(count) + "/";
        add(group + "plain", [=](benchmark::State& s) {
            score_case(s, count, {CpuPath::kPlain, 1});
        });
        add(group + "baseline_2t", [=](benchmark::State& s) {
            score_case(s, count, {CpuPath::kBaseline, 2});
        });
        add(group + std::string(cpu_path_name(best)) + "_1t", [=](benchmark::State& s) {
            score_case(s, count, {best, 1});
        });
        add(group + std::string(cpu_path_name(best)) + "_2t", [=](benchmark::State& s) {
            score_case(s, count, {best, 2});
        });
        add(group + std::string(cpu_path_name(best)) + "_2t_interrupt_check",
            [=](benchmark::State& s) { score_case(s, count, {best, 2}, true); });
        add(group + "automatic", [=](benchmark::State& s) {
            score_case(s, count, kAutomaticPath);
        });
        add(group + "floor_write_1t", [=](benchmark::State& s) { score_floor(s, count, 1); });
        add(group + "floor_write_2t", [=](benchmark::State& s) { score_floor(s, count, 2); });
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    register_cases();
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    report_memory(4096, 4096);
    return 0;
}
