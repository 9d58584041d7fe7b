// The progress bar's calls of the host, run against the stand-in host as a
// filter run would drive them: open, one advance per iteration, close.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "progress_bar.h"
#include "test_host.h"

namespace {

using testhost::InterpreterCall;
using testhost::ProgressRecorder;

struct Destroyed {
    std::vector<const mxArray*> arrays;
    static void record(void* context, const mxArray* array) {
        static_cast<Destroyed*>(context)->arrays.push_back(array);
    }
};

class ProgressBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        testhost::install_progress_recorder(&recorder);
        standin_set_destroy_hook(Destroyed::record, &destroyed);
        live_before = standin_live_arrays();
    }
    void TearDown() override {
        standin_set_destroy_hook(nullptr, nullptr);
        standin_clear_functions();
        EXPECT_EQ(standin_live_arrays(), live_before) << "the bar left host arrays behind";
    }

    // Drives the bar as the filter does; returns the number of advances made
    // before one failed (or all of them).
    int run(int iterations) {
        ProgressBar bar{};
        int advances = 0;
        EXPECT_TRUE(create_bar(&bar));
        EXPECT_EQ(*bar.value, 0.0);
        if (open_bar(&bar)) {
            created = {bar.fraction, bar.title, bar.bar};
            fraction_created_first = standin_serial(bar.fraction) < standin_serial(bar.title);
            for (int iteration = 0; iteration < iterations; ++iteration, ++advances)
                if (!advance_bar(&bar, iteration, iterations)) break;
        } else {
            created = {bar.fraction, bar.title};
        }
        close_bar(&bar);
        return advances;
    }

    std::vector<double> shown_fractions() const {
        std::vector<double> values;
        for (const InterpreterCall& call : recorder.calls)
            if (call.name == "waitbar") values.push_back(call.first_values.at(0));
        return values;
    }

    ProgressRecorder recorder;
    Destroyed destroyed;
    std::vector<const mxArray*> created;
    bool fraction_created_first = false;
    size_t live_before = 0;
};

struct FractionCase {
    int iterations;
    std::vector<double> shown;  // the fraction at each "waitbar" call
};

class ProgressFractionTest : public ProgressBarTest,
                             public ::testing::WithParamInterface<FractionCase> {};

TEST_P(ProgressFractionTest, ShowsEachIterationsFraction) {
    const FractionCase c = GetParam();
    EXPECT_EQ(run(c.iterations), c.iterations > 0 ? c.iterations : 0);
    const std::vector<double> shown = shown_fractions();
    ASSERT_EQ(shown.size(), c.shown.size());
    for (size_t k = 0; k < shown.size(); ++k)
        EXPECT_EQ(shown[k], c.shown[k]) << "waitbar call " << k;  // exact: n/(n-1) in double
    ASSERT_EQ(recorder.calls.size(), shown.size() + 1);
    EXPECT_EQ(recorder.calls.back().name, "close");
}

INSTANTIATE_TEST_SUITE_P(
    Iterations, ProgressFractionTest,
    ::testing::Values(FractionCase{0, {0.0}}, FractionCase{-3, {0.0}}, FractionCase{1, {0.0, 1.0}},
                      FractionCase{2, {0.0, 0.0, 1.0}},
                      FractionCase{5, {0.0, 0.0, 0.25, 0.5, 0.75, 1.0}}));

TEST_F(ProgressBarTest, CallsTheHostInOrderWithTheSameArrays) {
    run(3);
    ASSERT_EQ(recorder.calls.size(), 5u);
    const InterpreterCall& open = recorder.calls[0];
    EXPECT_EQ(open.name, "waitbar");
    EXPECT_EQ(open.nlhs, 1);
    ASSERT_EQ(open.inputs.size(), 2u);
    EXPECT_EQ(open.texts[1], "TARV: Diffusing Image");
    const mxArray* fraction = open.inputs[0];
    const mxArray* handle = recorder.handles_returned.at(0);
    for (size_t k = 1; k < 4; ++k) {
        const InterpreterCall& advance = recorder.calls[k];
        EXPECT_EQ(advance.name, "waitbar");
        EXPECT_EQ(advance.nlhs, 0);
        ASSERT_EQ(advance.inputs.size(), 2u);
        EXPECT_EQ(advance.inputs[0], fraction) << "every call shows the one fraction array";
        EXPECT_EQ(advance.inputs[1], handle) << "advances pass the handle the host returned";
    }
    const InterpreterCall& close = recorder.calls[4];
    EXPECT_EQ(close.name, "close");
    EXPECT_EQ(close.nlhs, 0);
    ASSERT_EQ(close.inputs.size(), 1u);
    EXPECT_EQ(close.inputs[0], handle);
}

TEST_F(ProgressBarTest, CreatesFractionThenTitleAndDestroysFractionTitleBar) {
    run(2);
    ASSERT_EQ(created.size(), 3u);
    EXPECT_TRUE(fraction_created_first);
    EXPECT_EQ(destroyed.arrays, created);
}

struct FailureCase {
    const char* what;
    int fail_at;      // 1-based host call that fails
    int iterations;
    int advances;     // advances that succeed
    size_t calls;     // host calls made in all
};

class ProgressFailureTest : public ProgressBarTest,
                            public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ProgressFailureTest, StopsAndReleasesEverything) {
    const FailureCase c = GetParam();
    recorder.fail_at = c.fail_at;
    EXPECT_EQ(run(c.iterations), c.advances);
    EXPECT_EQ(recorder.calls.size(), c.calls);
    // The trapped exception arrays are destroyed too: TearDown counts all.
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ProgressFailureTest,
    ::testing::Values(FailureCase{"open", 1, 4, 0, 1},           // no close without a handle
                      FailureCase{"first advance", 2, 4, 0, 3},  // then close is still tried
                      FailureCase{"third advance", 4, 4, 2, 5},
                      FailureCase{"close", 6, 4, 4, 6}),
    [](const auto& info) {
        std::string name = info.param.what;
        for (char& ch : name) if (ch == ' ') ch = '_';
        return name;
    });

// A host that cannot create the fraction (1) or the title (2): nothing is
// shown, and close_bar destroys what was created.
class ProgressCreationTest : public ProgressBarTest, public ::testing::WithParamInterface<int> {};

TEST_P(ProgressCreationTest, AFailedCreationLeavesNothing) {
    standin_set_null_allocation(GetParam());
    ProgressBar bar{};
    EXPECT_FALSE(create_bar(&bar));
    standin_set_null_allocation(0);
    close_bar(&bar);
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_EQ(destroyed.arrays.size(), static_cast<size_t>(GetParam() - 1));
}

INSTANTIATE_TEST_SUITE_P(FailingCreation, ProgressCreationTest, ::testing::Values(1, 2));

}  // namespace
