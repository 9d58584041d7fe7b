// Both plug-ins in a host that fails as real hosts do: an array creation or
// mxMalloc that raises an error (out of memory) or returns null, an
// interpreter call from which the user's interrupt leaves the plug-in
// without returning, and the user's interrupt during a long call, which
// the plug-in learns by asking the host. After every such call the process
// holds no thread beyond its own, the heap is back at its level (the host
// frees what the call left), and the next call gives the exact result.
// Each case runs on one thread and on a team.
//
// This suite's program is linked against the stand-in's libut.so: the
// plug-ins find utIsInterruptPending here, and in no other suite.
#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "case_support.h"
#include "bits.h"
#include "core_support.h"
#include "kernel.h"
#include "plugin_support.h"
#include "threads.h"
#include "scorer.h"

namespace {

enum class Failure { kRaisingAllocation, kNullAllocation, kInterrupt };

const char* failure_name(Failure failure) {
    switch (failure) {
        case Failure::kRaisingAllocation: return "raising allocation";
        case Failure::kNullAllocation: return "null allocation";
        case Failure::kInterrupt: return "interrupt";
    }
    return "";
}

void arm(Failure failure, int k) {
    switch (failure) {
        case Failure::kRaisingAllocation: standin_set_failing_allocation(k); break;
        case Failure::kNullAllocation: standin_set_null_allocation(k); break;
        case Failure::kInterrupt: standin_set_interrupt_at(k); break;
    }
}

// One plug-in call that the host makes fail at its k-th allocation or
// interpreter call, and what must follow.
struct Scenario {
    const char* plugin;
    std::function<Inputs()> inputs;
    std::vector<size_t> result_dims;
    std::function<bool(const mxArray* result)> exact;  // the result of a normal call
    const char* null_error;  // the plug-in's own error when the host returns null
    int allocations;         // array creations and mxMalloc blocks of a normal call
    int arrays_before_blocks;  // how many of them come first (no block before)
    int interpreter_calls;
    size_t copies_left_to_host;  // arrays the plug-in leaves to the host even on its own error
};

// Runs the scenario with `failure` at every k and once past the last.
void run_every_failure(const Scenario& s, Failure failure) {
    const int events = failure == Failure::kInterrupt ? s.interpreter_calls : s.allocations;
    const size_t threads = threads_in_process();
    for (int k = 1; k <= events + 1; ++k) {
        SCOPED_TRACE(std::string(failure_name(failure)) + " at " + std::to_string(k));
        const long growth = heap_growth([&] {
            RecordedProgress progress;
            {
                Inputs inputs = s.inputs();
                arm(failure, k);
                Outcome failed(testhost::call(plugin_at(s.plugin), 1, inputs.arrays));
                EXPECT_TRUE(failed.call.inputs_unchanged);
                if (k > events) {
                    // Past the last event: the call never met the failure,
                    // and made no interpreter call beyond its own.
                    EXPECT_TRUE(failed.call.ok) << failed.call.error_id;
                    EXPECT_EQ(progress.calls().size(), static_cast<size_t>(s.interpreter_calls));
                    return;
                }
                EXPECT_FALSE(failed.call.ok);
                const bool raised_by_host = failure != Failure::kNullAllocation;
                EXPECT_EQ(failed.call.error_id,
                          failure == Failure::kInterrupt       ? "standin:interrupted"
                          : failure == Failure::kNullAllocation ? s.null_error
                                                                : "standin:outOfMemory");
                if (!raised_by_host) {
                    // The plug-in itself frees and destroys what it made,
                    // but for what it always leaves to the host.
                    EXPECT_EQ(failed.call.leftover_arrays,
                              std::min(static_cast<size_t>(k - 1), s.copies_left_to_host));
                    EXPECT_EQ(failed.call.leftover_blocks, 0u);
                } else if (failure == Failure::kRaisingAllocation &&
                           k <= s.arrays_before_blocks) {
                    EXPECT_EQ(failed.call.leftover_blocks, 0u)
                        << "a block was taken before every host array existed";
                }
                EXPECT_EQ(threads_settled_at(threads), threads) << "a worker thread was left behind";
            }
            Inputs inputs = s.inputs();
            const size_t calls_before = progress.calls().size();
            Outcome next(testhost::call(plugin_at(s.plugin), 1, inputs.arrays));
            ASSERT_TRUE(next.call.ok) << next.call.error_id << ": " << next.call.error_message;
            if (failure == Failure::kInterrupt) {
                // A bar the interrupted call had opened (its first call,
                // "waitbar", returned) is closed by the next call first.
                const bool left_open = k > 1;
                const auto& calls = progress.calls();
                ASSERT_EQ(calls.size() - calls_before, s.interpreter_calls + size_t{left_open});
                EXPECT_EQ(calls[calls_before].name, left_open ? "close" : "waitbar");
                if (left_open) {
                    EXPECT_EQ(calls[calls_before].inputs[0], progress.recorder.handles_returned.front());
                }
            }
            EXPECT_EQ(testhost::dimensions(next.call.result), s.result_dims);
            EXPECT_TRUE(s.exact(next.call.result));
            EXPECT_EQ(next.call.leftover_blocks, 0u);
        });
        EXPECT_EQ(growth, 0);
    }
}

// --- the filter -------------------------------------------------------------

std::vector<float> log_image(uint32_t rows, uint32_t cols) {
    return uniform_values(static_cast<size_t>(rows) * cols, 0.0f, 3.0f, rows * 31 + cols);
}

// Bar on, 3 iterations: "waitbar" to open, three to advance, "close".
Scenario filter_scenario(uint32_t rows, uint32_t cols) {
    const std::vector<float> source = log_image(rows, cols);
    const ReferenceRegion region{0, rows / 2, 0, cols / 2, (rows / 2 + 1) * (cols / 2 + 1)};
    const std::vector<float> expected = filter_result(source, rows, cols, {region, 3, 0.2f});
    Scenario scenario;
    scenario.plugin = TARV_C_PLUGIN;
    scenario.inputs = [=] {
        using testhost::make_scalar;
        return Inputs({testhost::make_single(rows, cols, source), make_scalar(3), make_scalar(0.2),
                       make_scalar(1), make_scalar(rows / 2 + 1), make_scalar(1),
                       make_scalar(cols / 2 + 1), make_scalar(1)});
    };
    scenario.result_dims = {rows, cols};
    scenario.exact = [=](const mxArray* result) {
        return static_cast<bool>(planes_match(expected, testhost::single_values(result), rows));
    };
    scenario.null_error = "TARV_c:outOfMemory";
    scenario.allocations = 1 + 2 + 1;  // result, fraction and title, the scratch columns
    scenario.arrays_before_blocks = 3;
    scenario.interpreter_calls = 5;
    scenario.copies_left_to_host = 0;
    return scenario;
}

struct ImageSize {
    const char* name;
    uint32_t rows, cols;
};

class FilterInFailingHost
    : public ::testing::TestWithParam<std::tuple<ImageSize, Failure>> {};

TEST_P(FilterInFailingHost, LeavesNothingBehindAndTheNextCallIsExact) {
    const auto [size, failure] = GetParam();
    run_every_failure(filter_scenario(size.rows, size.cols), failure);
}

const ImageSize kFilterImages[] = {{"one_thread", 24, 20}, {"team", 300, 260}};

// --- the scorer ---------------------------------------------------------------

Scenario scorer_scenario(int32_t A, int32_t B, int32_t C) {
    const int32_t rows = A + B + 4;
    std::vector<double> image = uniform_values(static_cast<size_t>(rows) * C, 0.0, 10.0,
                                               static_cast<unsigned>(A * B * C));
    const std::vector<double> mean(C, 8.0), sd(C, 3.0), low(C, 0.0), high(C, 20.0);
    const BandScoreParams params{1.0, 3.0,       A,         B,          0.5,
                                 mean.data(), sd.data(), low.data(), high.data()};
    std::vector<double> expected(static_cast<size_t>(A) * B * C);
    score_bands_reference(image.data(), rows, C, params, expected.data());
    Scenario scenario;
    scenario.plugin = BANDSCORE_PLUGIN;
    scenario.inputs = [=] {
        using testhost::make_double;
        using testhost::make_scalar;
        const size_t cols = static_cast<size_t>(C);
        return Inputs({make_scalar(1.0), make_scalar(3.0),
                       make_double({static_cast<size_t>(rows), cols}, image),
                       make_double({1, cols}, mean), make_double({1, cols}, sd), make_scalar(A),
                       make_scalar(B), make_scalar(0.5), make_double({1, cols}, low),
                       make_double({1, cols}, high)});
    };
    scenario.result_dims = {static_cast<size_t>(A), static_cast<size_t>(B),
                            static_cast<size_t>(C)};
    scenario.exact = [=](const mxArray* result) {
        return static_cast<bool>(
            planes_match(expected, testhost::double_values(result), static_cast<size_t>(A)));
    };
    scenario.null_error = "bandscore:outOfMemory";
    scenario.allocations = 10 + 1;  // the copies of the ten arguments, the result
    scenario.arrays_before_blocks = 11;
    scenario.interpreter_calls = 0;
    scenario.copies_left_to_host = 10;
    return scenario;
}

struct VolumeSize {
    const char* name;
    int32_t A, B, C;
};

class ScorerInFailingHost
    : public ::testing::TestWithParam<std::tuple<VolumeSize, Failure>> {};

TEST_P(ScorerInFailingHost, LeavesNothingBehindAndTheNextCallIsExact) {
    const auto [size, failure] = GetParam();
    run_every_failure(scorer_scenario(size.A, size.B, size.C), failure);
}

const VolumeSize kVolumes[] = {{"one_thread", 6, 7, 5}, {"team", 40, 40, 64}};

template <typename Size>
std::string case_name(const ::testing::TestParamInfo<std::tuple<Size, Failure>>& info) {
    std::string name = std::string(std::get<0>(info.param).name) + "_" +
                       failure_name(std::get<1>(info.param));
    for (char& c : name)
        if (c == ' ') c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Hosts, FilterInFailingHost,
                         ::testing::Combine(::testing::ValuesIn(kFilterImages),
                                            ::testing::Values(Failure::kRaisingAllocation,
                                                              Failure::kNullAllocation,
                                                              Failure::kInterrupt)),
                         case_name<ImageSize>);

// The scorer makes no interpreter call.
INSTANTIATE_TEST_SUITE_P(Hosts, ScorerInFailingHost,
                         ::testing::Combine(::testing::ValuesIn(kVolumes),
                                            ::testing::Values(Failure::kRaisingAllocation,
                                                              Failure::kNullAllocation)),
                         case_name<VolumeSize>);

// --- the user's interrupt during a long call -----------------------------------

// A call that would run for many seconds, and what follows its interrupt.
struct LongCall {
    const char* name;
    std::function<Inputs()> inputs;
    bool progress_bar;
    int cpus;  // the processors the call may use; 0 for all the process may
    const char* error;
    Scenario next;  // a short call afterwards, and what is left to the host
};

void PrintTo(const LongCall& c, std::ostream* os) { *os << c.name; }

// Confines the calling thread, which the plug-ins run on and size their
// team by, to its first `cpus` processors while it lives (0: no change).
class CpuLimit {
public:
    explicit CpuLimit(int cpus) {
        if (cpus <= 0 || sched_getaffinity(0, sizeof saved_, &saved_) != 0) return;
        cpu_set_t narrowed;
        CPU_ZERO(&narrowed);
        for (int cpu = 0, kept = 0; cpu < CPU_SETSIZE && kept < cpus; ++cpu)
            if (CPU_ISSET(cpu, &saved_)) {
                CPU_SET(cpu, &narrowed);
                ++kept;
            }
        limited_ = sched_setaffinity(0, sizeof narrowed, &narrowed) == 0;
    }
    ~CpuLimit() {
        if (limited_) sched_setaffinity(0, sizeof saved_, &saved_);
    }
    CpuLimit(const CpuLimit&) = delete;
    CpuLimit& operator=(const CpuLimit&) = delete;

private:
    cpu_set_t saved_{};
    bool limited_ = false;
};

class InterruptedLongCall : public ::testing::TestWithParam<LongCall> {};

// The bound only tells a stopped call from one that runs on: the plug-ins
// ask every few milliseconds of work, which the sanitizers make many times
// longer.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::chrono::seconds kStopsWithin{10};
#else
constexpr std::chrono::seconds kStopsWithin{1};
#endif

// Another thread sets the host's interrupt once the plug-in has asked for
// it the first time, as a user presses Ctrl-C during the call.
TEST_P(InterruptedLongCall, EndsSoonLeavingNothingBehindAndTheNextCallIsExact) {
    const LongCall& c = GetParam();
    const size_t threads = threads_in_process();
    const long growth = heap_growth([&] {
        {
            RecordedProgress progress;
            Inputs inputs = c.inputs();
            const CpuLimit limit(c.cpus);
            standin_reset_interrupt();
            std::chrono::steady_clock::time_point pressed;
            bool asked = false;
            std::thread user([&] {
                const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
                while (!(asked = standin_interrupt_questions() != 0) &&
                       std::chrono::steady_clock::now() < give_up)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                pressed = std::chrono::steady_clock::now();
                standin_set_interrupt_pending(true);
            });
            Outcome interrupted(testhost::call(plugin_at(c.next.plugin), 1, inputs.arrays));
            const auto returned = std::chrono::steady_clock::now();
            user.join();
            EXPECT_TRUE(asked) << "the plug-in never asked the host";
            EXPECT_EQ(standin_interrupt_questions_elsewhere(), 0u)
                << "asked on a thread other than the host's";
            EXPECT_FALSE(interrupted.call.ok);
            EXPECT_EQ(interrupted.call.error_id, c.error);
            EXPECT_LT(returned - pressed, kStopsWithin);
            EXPECT_EQ(interrupted.call.leftover_blocks, 0u) << "the plug-in frees its memory";
            EXPECT_EQ(interrupted.call.leftover_arrays, c.next.copies_left_to_host);
            EXPECT_TRUE(interrupted.call.inputs_unchanged);
            if (c.progress_bar) {
                ASSERT_FALSE(progress.calls().empty());
                EXPECT_EQ(progress.calls().back().name, "close") << "the bar stays open";
            }
            EXPECT_EQ(threads_settled_at(threads), threads) << "a worker thread was left behind";
            standin_reset_interrupt();
        }
        RecordedProgress progress;
        Inputs inputs = c.next.inputs();
        Outcome next(testhost::call(plugin_at(c.next.plugin), 1, inputs.arrays));
        ASSERT_TRUE(next.call.ok) << next.call.error_id << ": " << next.call.error_message;
        EXPECT_EQ(testhost::dimensions(next.call.result), c.next.result_dims);
        EXPECT_TRUE(c.next.exact(next.call.result));
    });
    EXPECT_EQ(growth, 0);
}

// The filter on a 150 x 150 image (one thread; asked every 186 iterations)
// or a team's 512 x 512 image, for iterations that take seconds.
LongCall long_filter(const char* name, uint32_t size, double iterations, bool progress_bar) {
    const std::vector<float> source = log_image(size, size);
    return {name,
            [=] {
                using testhost::make_scalar;
                return Inputs({testhost::make_single(size, size, source), make_scalar(iterations),
                               make_scalar(0.2), make_scalar(1), make_scalar(40), make_scalar(1),
                               make_scalar(60), make_scalar(progress_bar ? 1 : 0)});
            },
            progress_bar,
            0,
            "TARV_c:interrupted",
            filter_scenario(size, size)};
}

// The scorer: 2500 tops whose sums over some 6000 rows of 250 columns take
// seconds on one thread, in rounds of a column a thread.
LongCall long_scorer(const char* name, int cpus) {
    const int32_t A = 2500, B = 4, C = 250, rows = 7504;
    return {name,
            [=] {
                using testhost::make_double;
                using testhost::make_scalar;
                const size_t cols = static_cast<size_t>(C);
                mxArray* image =
                    make_double({static_cast<size_t>(rows), cols},
                                uniform_values(static_cast<size_t>(rows) * cols, 0.0, 10.0, 5));
                return Inputs({make_scalar(0.0), make_scalar(7500.0), image,
                               make_double({1, cols}, std::vector<double>(C, 6000.0)),
                               make_double({1, cols}, std::vector<double>(C, 3000.0)),
                               make_scalar(A), make_scalar(B), make_scalar(0.5),
                               make_double({1, cols}, std::vector<double>(C, 0.0)),
                               make_double({1, cols}, std::vector<double>(C, 1e6))});
            },
            false,
            cpus,
            "bandscore:interrupted",
            scorer_scenario(40, 40, 64)};
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, InterruptedLongCall,
    ::testing::Values(long_filter("filter_one_thread", 150, 1e5, false),
                      long_filter("filter_team", 512, 1e4, false),
                      long_filter("filter_team_progress_bar", 512, 1e4, true),
                      long_scorer("scorer_one_thread", 1), long_scorer("scorer_team", 0)),
    param_name);

}  // namespace
