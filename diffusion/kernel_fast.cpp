// The fast paths of the diffusion kernel.
//
// The plain loops make two passes over five scratch planes per iteration.
// The fast paths make one sweep over the columns instead: the coefficients
// of column j + 1 are computed just before column j is updated, from the
// working values that are still old there, and the differences are taken
// again from those old values rather than stored. A sweep keeps a few
// columns of its own (the old values of the column to its left, the
// coefficients of the current and the next column), so each iteration
// streams the working plane once in and once out. Every value is computed
// by the same operations, in the same precision and order, as in the plain
// loops; vectors only compute several pixels of a column at once, and the
// border rows go through the same formula one pixel at a time.
//
// A call runs on a worker team (worker_team.h) in one of two ways:
// - pages side by side: each share takes a block of pages and sweeps every
//   column of each itself, so the pages need no exchange; a phase runs a
//   stretch of iterations of one page of every block, so that the page
//   stays in the processor's caches from one iteration to the next; for
//   volumes of at least as many pages as threads;
// - one page at a time: the page is split into contiguous blocks of
//   columns, one a share. Before a sweep each block copies the old columns
//   it needs from its neighbours' blocks (the halo), then every block is
//   swept. The reference statistic runs on the calling thread between the
//   two phases.
// The interrupt check runs on the calling thread between iterations, and
// the progress step with the team stopped, so no worker is alive while it
// runs.
#include "kernel.h"

#if FAST_PATHS_AVAILABLE

#include "exponential.h"
#include "logarithm.h"
#include "vector_lanes.h"

namespace {

// Below this many pixels the automatic choice keeps to one thread.
constexpr uint64_t kSmallImage = 1u << 16;

// W pixels of a column at once: single-precision lanes F and the
// double-precision lanes D of the same pixels.
template <int W>
struct Lanes : Vector<float, W> {
    typedef typename Vector<float, W>::V F;
    typedef typename Vector<double, W>::V D;
    static ALWAYS_INLINE D widen(const F& v) { return __builtin_convertvector(v, D); }
    static ALWAYS_INLINE F narrow(const D& v) { return __builtin_convertvector(v, F); }
    static ALWAYS_INLINE F clamp(const F& c) {
        const F zero = F{};
        const F one = zero + 1.0f;
        const F upper = c > one ? one : c;
        return c < zero ? zero : upper;
    }
};

template <>
struct Lanes<1> : Vector<float, 1> {
    typedef float F;
    typedef double D;
    static ALWAYS_INLINE D widen(F v) { return static_cast<double>(v); }
    static ALWAYS_INLINE F narrow(D v) { return static_cast<float>(v); }
    static ALWAYS_INLINE F clamp(F c) { return clamp_coefficient(c); }
};

template <int W>
using Floats = typename Lanes<W>::F;

// The coefficient pass, operation for operation, in three stages: its
// chain of five divisions is too long for the processor to overlap many
// pixels, so a column goes through each stage in turn and each stage's
// divisions are independent from one pixel to the next.

// Stage 1: lap and grad of pixels with working value c0 and neighbours up,
// down, left and right.
template <int W>
ALWAYS_INLINE void laplacian_and_gradient(const Floats<W>& c0, const Floats<W>& up,
                                          const Floats<W>& down, const Floats<W>& left,
                                          const Floats<W>& right, Floats<W>* lap, Floats<W>* grad) {
    typedef typename Lanes<W>::F F;
    const F dU = up - c0;
    const F dD = down - c0;
    const F dL = left - c0;
    const F dR = right - c0;
    *lap = (((dU + dD) + dL) + dR) / c0;
    *grad = (((dU * dU + dD * dD) + dL * dL) + dR * dR) / (c0 * c0);
}

// Stage 2: q from lap and grad.
template <int W>
ALWAYS_INLINE Floats<W> instantaneous_q(const Floats<W>& lap, const Floats<W>& grad) {
    typedef Lanes<W> L;
    typedef typename L::F F;
    const F num = L::narrow(0.5 * L::widen(grad) - 0.0625 * L::widen(lap * lap));
    const F den = L::narrow(1.0 + 0.25 * L::widen(lap));
    return num / (den * den);
}

// Stage 3: the stored conductance from q; q0d = (q0 + 1) * q0.
template <int W>
ALWAYS_INLINE Floats<W> stored_conductance(const Floats<W>& q, float q0, float q0d) {
    typedef Lanes<W> L;
    typedef typename L::F F;
    const F t = (q - q0) / q0d;
    const F c = L::narrow(1.0 / (1.0 + L::widen(t)));
    return L::clamp(c);
}

// All three stages for one border pixel.
inline float conductance(float c0, float up, float down, float left, float right, float q0,
                         float q0d) {
    float lap, grad;
    laplacian_and_gradient<1>(c0, up, down, left, right, &lap, &grad);
    return stored_conductance<1>(instantaneous_q<1>(lap, grad), q0, q0d);
}

// The updated working value of a pixel: the update pass, operation for
// operation, with the differences taken again from the old values.
template <int W>
ALWAYS_INLINE Floats<W> updated(const Floats<W>& c0, const Floats<W>& up, const Floats<W>& down,
                                const Floats<W>& left, const Floats<W>& right, const Floats<W>& cC,
                                const Floats<W>& cD, const Floats<W>& cR, double step) {
    typedef Lanes<W> L;
    typedef typename L::F F;
    const F dU = up - c0;
    const F dD = down - c0;
    const F dL = left - c0;
    const F dR = right - c0;
    const F div = ((cC * dU + cD * dD) + cC * dL) + cR * dR;
    return L::narrow(L::widen(c0) + step * L::widen(div));
}

// Rows of a column that go through the stages together; their
// intermediate values stay in the first-level cache.
constexpr uint32_t kStageRows = 512;

// Coefficients of one column from the old values of its left, own and
// right columns. Row 0 is its own upper neighbour and row rows - 1 its own
// lower one, as the neighbour tables say. With kCopyLeft the left column's
// values are also copied to left_copy on the way: the sweep keeps them, and
// a copy of its own would cost more (glibc's memcpy is slow here when both
// columns lie at the same offset from a 4 KiB boundary, as columns of 1024
// rows do).
template <int W, bool kCopyLeft>
ALWAYS_INLINE void coefficient_column(const float* left, const float* centre, const float* right,
                                      uint32_t rows, float q0, float q0d, float* coef,
                                      float* left_copy) {
    typedef Lanes<W> L;
    typedef typename L::F F;
    const uint32_t last = rows - 1;
    if (kCopyLeft) {
        left_copy[0] = left[0];
        left_copy[last] = left[last];
    }
    if (rows == 1) {
        coef[0] = conductance(centre[0], centre[0], centre[0], left[0], right[0], q0, q0d);
        return;
    }
    coef[0] = conductance(centre[0], centre[0], centre[1], left[0], right[0], q0, q0d);
    alignas(64) float lap[kStageRows];
    alignas(64) float grad[kStageRows];
    for (uint32_t first = 1; first < last; first += kStageRows) {
        const uint32_t count = last - first < kStageRows ? last - first : kStageRows;
        const float* c = centre + first;
        const float* up = c - 1;
        const float* down = c + 1;
        const float* l_col = left + first;
        const float* r_col = right + first;
        float* l_copy = kCopyLeft ? left_copy + first : nullptr;
        uint32_t k = 0;
        for (; k + W <= count; k += W) {
            F l, g;
            const F l_values = L::load(l_col + k);
            if (kCopyLeft) L::store(l_copy + k, l_values);
            laplacian_and_gradient<W>(L::load(c + k), L::load(up + k), L::load(down + k), l_values,
                                      L::load(r_col + k), &l, &g);
            L::store(lap + k, l);
            L::store(grad + k, g);
        }
        for (; k < count; ++k) {
            if (kCopyLeft) l_copy[k] = l_col[k];
            laplacian_and_gradient<1>(c[k], up[k], down[k], l_col[k], r_col[k], lap + k, grad + k);
        }
        // lap now holds q.
        for (k = 0; k + W <= count; k += W)
            L::store(lap + k, instantaneous_q<W>(L::load(lap + k), L::load(grad + k)));
        for (; k < count; ++k) lap[k] = instantaneous_q<1>(lap[k], grad[k]);
        for (k = 0; k + W <= count; k += W)
            L::store(coef + first + k, stored_conductance<W>(L::load(lap + k), q0, q0d));
        for (; k < count; ++k) coef[first + k] = stored_conductance<1>(lap[k], q0, q0d);
    }
    coef[last] =
        conductance(centre[last], centre[last - 1], centre[last], left[last], right[last], q0, q0d);
}

// A copy of one column that GCC does not turn into a call of memcpy.
template <int W>
ALWAYS_INLINE void copy_column(const float* from, uint32_t rows, float* to) {
    typedef Lanes<W> L;
    uint32_t i = 0;
    for (; i + W <= rows; i += W) L::store(to + i, L::load(from + i));
    for (; i < rows; ++i) to[i] = from[i];
}

// Updates one column into `out` from the old values of its left, own and
// right columns, its own coefficients and those of its right neighbour.
template <int W>
ALWAYS_INLINE void update_column(const float* left, const float* centre, const float* right,
                                 const float* coef, const float* coef_right, uint32_t rows,
                                 double step, float* out) {
    typedef Lanes<W> L;
    typedef Lanes<1> S;
    const uint32_t last = rows - 1;
    if (rows == 1) {
        out[0] = updated<1>(centre[0], centre[0], centre[0], left[0], right[0], coef[0], coef[0],
                            coef_right[0], step);
        return;
    }
    out[0] = updated<1>(centre[0], centre[0], centre[1], left[0], right[0], coef[0], coef[1],
                        coef_right[0], step);
    uint32_t i = 1;
    for (; i + W <= last; i += W)
        L::store(out + i,
                 updated<W>(L::load(centre + i), L::load(centre + i - 1), L::load(centre + i + 1),
                            L::load(left + i), L::load(right + i), L::load(coef + i),
                            L::load(coef + i + 1), L::load(coef_right + i), step));
    for (; i < last; ++i)
        out[i] = updated<1>(S::load(centre + i), S::load(centre + i - 1), S::load(centre + i + 1),
                            left[i], right[i], coef[i], coef[i + 1], coef_right[i], step);
    out[last] = updated<1>(centre[last], centre[last - 1], centre[last], left[last], right[last],
                           coef[last], coef[last], coef_right[last], step);
}


// Each share's scratch columns: the old values of the column left of the
// one it updates and of that one, the coefficients of that column and the
// next, and two halo columns right of its block.
constexpr uint32_t kColumnsPerShare = 6;

// What the members of one team share: the call's data and where it stands.
// page and q0 are written by the calling thread between phases.
struct FilterCall {
    const float* source;
    float* result;
    uint32_t rows;
    uint32_t cols;
    FilterSettings settings;
    float* scratch;       // kColumnsPerShare columns of `rows` floats a share
    int32_t shares;
    bool library_exponential;
    uint32_t pages_per_share;  // pages side by side: share s takes s * pages_per_share ...
    uint32_t page_in_block;    // the page of each block of this phase
    int32_t first_iteration;   // and its iterations first .. end - 1
    int32_t end_iteration;
    uint32_t page;        // one page at a time: the page
    float q0;             // and the q0 of its current iteration
    bool infinite[kMostThreads];  // what each share found
    bool nan[kMostThreads];
};

// The phases of a team. Side by side, each share takes its pages through
// a phase; one page at a time, the shares split the page.
enum FilterPhase : int32_t {
    kPagesRun,
    kExponentiate,
    kCopyHalos,
    kSweep,
    kLogarithm,
};

float* scratch_column(const FilterCall& call, int32_t part, uint32_t slot) {
    return call.scratch +
           static_cast<size_t>(call.rows) * (kColumnsPerShare * static_cast<uint32_t>(part) + slot);
}

uint32_t share(uint32_t total, int32_t part, int32_t parts) {
    return static_cast<uint32_t>(share_start(total, part, parts));
}

size_t page_offset(const FilterCall& call, uint32_t page) {
    return static_cast<size_t>(call.rows) * call.cols * page;
}

template <int W>
ALWAYS_INLINE bool exponentiate(const FilterCall& call, const float* source, float* work,
                                uint32_t begin, uint32_t end) {
    if (call.library_exponential) return exponentiate_pixels(source, work, begin, end);
    return exponentiate_lanes<W>(source, work, begin, end);
}

// Sweeps columns first .. end - 1 of a page's working values `work`, one
// iteration: `prev` holds the old values of the column left of `first`
// (itself for column 0), `halo` and `halo_next` those of the two columns
// right of the block (unused where the block ends the page), and save,
// coef and coef_next are the block's own columns.
template <int W>
ALWAYS_INLINE void sweep(float* work, uint32_t rows, uint32_t cols, uint32_t first, uint32_t end,
                         float q0, float lambda, float* prev, float* save, float* coef,
                         float* coef_next, const float* halo, const float* halo_next) {
    auto right_of = [cols](uint32_t j) { return j + 1 < cols ? j + 1 : j; };
    // Old values of column c, for a column not yet updated in this sweep.
    auto old_column = [&](uint32_t c) -> const float* {
        if (c < end) return work + static_cast<size_t>(rows) * c;
        return c == end ? halo : halo_next;
    };
    const double step = 0.25 * static_cast<double>(lambda);
    const float q0d = (q0 + 1.0f) * q0;
    coefficient_column<W, false>(prev, old_column(first), old_column(right_of(first)), rows, q0,
                                 q0d, coef, nullptr);
    for (uint32_t j = first; j < end; ++j) {
        float* column = work + static_cast<size_t>(rows) * j;
        const uint32_t right = right_of(j);
        const float* coef_right = coef;
        if (right != j) {
            // Also saves the old values of column j.
            coefficient_column<W, true>(column, old_column(right), old_column(right_of(right)),
                                        rows, q0, q0d, coef_next, save);
            coef_right = coef_next;
        } else {
            copy_column<W>(column, rows, save);
        }
        update_column<W>(prev, save, right == j ? save : old_column(right), coef, coef_right, rows,
                         step, column);
        float* t = prev;
        prev = save;
        save = t;
        t = coef;
        coef = coef_next;
        coef_next = t;
    }
}

// Pages side by side: iterations first .. end - 1 of the block's page of
// this phase, exponentiated before the first and taken to logarithms after
// the last.
template <int W>
ALWAYS_INLINE void pages_share(FilterCall& call, int32_t part) {
    const uint32_t rows = call.rows, cols = call.cols, pixels = rows * cols;
    const uint32_t page = static_cast<uint32_t>(part) * call.pages_per_share + call.page_in_block;
    float* work = call.result + page_offset(call, page);
    if (call.first_iteration == 0)
        call.infinite[part] |=
            exponentiate<W>(call, call.source + page_offset(call, page), work, 0, pixels);
    float* prev = scratch_column(call, part, 0);
    for (int32_t iteration = call.first_iteration; iteration < call.end_iteration; ++iteration) {
        const float q0 = reference_q0(work, rows, call.settings.region);
        copy_column<W>(work, rows, prev);
        sweep<W>(work, rows, cols, 0, cols, q0, call.settings.lambda, prev,
                 scratch_column(call, part, 1), scratch_column(call, part, 2),
                 scratch_column(call, part, 3), nullptr, nullptr);
    }
    if (call.end_iteration == call.settings.iterations)
        call.nan[part] |= logarithms_lanes<W>(work, 0, pixels);
}

// One page at a time: share `part` of `phase`, a range of pixels for the
// exponentiation and the logarithm, a block of columns for the sweeps.
template <int W>
ALWAYS_INLINE void page_share(FilterCall& call, int32_t phase, int32_t part) {
    const uint32_t rows = call.rows, cols = call.cols;
    float* const work = call.result + page_offset(call, call.page);
    if (phase == kExponentiate || phase == kLogarithm) {
        const uint32_t pixels = rows * cols;
        const uint32_t begin = share(pixels, part, call.shares);
        const uint32_t end = share(pixels, part + 1, call.shares);
        if (phase == kLogarithm)
            call.nan[part] |= logarithms_lanes<W>(work, begin, end);
        else
            call.infinite[part] |= exponentiate<W>(call, call.source + page_offset(call, call.page),
                                                   work, begin, end);
        return;
    }
    const uint32_t first = share(cols, part, call.shares);
    const uint32_t end = share(cols, part + 1, call.shares);
    float* halo = end < cols ? scratch_column(call, part, 4) : nullptr;
    float* halo_next = end < cols ? scratch_column(call, part, 5) : nullptr;
    if (phase == kCopyHalos) {
        copy_column<W>(work + static_cast<size_t>(rows) * (first == 0 ? 0 : first - 1), rows,
                       scratch_column(call, part, 0));
        if (end < cols) {
            copy_column<W>(work + static_cast<size_t>(rows) * end, rows, halo);
            copy_column<W>(work + static_cast<size_t>(rows) * (end + 1 < cols ? end + 1 : end), rows,
                           halo_next);
        }
        return;
    }
    sweep<W>(work, rows, cols, first, end, call.q0, call.settings.lambda,
             scratch_column(call, part, 0), scratch_column(call, part, 1),
             scratch_column(call, part, 2), scratch_column(call, part, 3), halo, halo_next);
}

struct FilterKernel {
    template <int kVectorBytes>
    static ALWAYS_INLINE void run(void* context, int32_t phase, int32_t part) {
        constexpr int W = kVectorBytes / static_cast<int>(sizeof(float));
        FilterCall& call = *static_cast<FilterCall*>(context);
        if (phase == kPagesRun)
            pages_share<W>(call, part);
        else
            page_share<W>(call, phase, part);
    }
};

struct ExponentiateCall {
    const float* source;
    float* work;
    uint32_t count;
    int32_t shares;
};

struct ExponentiateKernel {
    template <int kVectorBytes>
    static ALWAYS_INLINE void run(void* context, int32_t, int32_t part) {
        const ExponentiateCall& call = *static_cast<const ExponentiateCall*>(context);
        exponentiate_lanes<kVectorBytes / static_cast<int>(sizeof(float))>(
            call.source, call.work, share(call.count, part, call.shares),
            share(call.count, part + 1, call.shares));
    }
};

// How a fast call runs: its path, how many pages go side by side (a
// multiple of side_shares, from page 0), and the team of each way.
struct FilterPlan {
    CpuPath path;
    int32_t threads;      // threads at most, of either team
    uint32_t side_pages;  // pages filtered side by side, the rest one at a time
    int32_t side_shares;
    int32_t page_shares;  // blocks of columns of a page filtered alone
};

FilterPlan plan_fast(CpuPath path, int32_t requested, uint32_t rows, uint32_t cols,
                     uint32_t pages) {
    const uint64_t pixels = static_cast<uint64_t>(rows) * cols;
    const TeamPlan team = plan_team(requested, pixels * pages, kSmallImage);
    FilterPlan plan{path, team.threads, 0, 1, 1};
    // Side by side where there are pages for every share of the team.
    if (team.shares > 1 && pages >= static_cast<uint32_t>(team.shares)) {
        plan.side_shares = team.shares;
        plan.side_pages = pages - pages % static_cast<uint32_t>(team.shares);
    }
    // One page at a time: at least two columns a share.
    const uint32_t most = cols / 2 > 1 ? cols / 2 : 1;
    plan.page_shares = static_cast<uint32_t>(team.shares) > most ? static_cast<int32_t>(most)
                                                                   : team.shares;
    return plan;
}

// Where a call stands among its progress steps and interrupt questions,
// on the calling thread.
struct CallSteps {
    const ProgressStep& progress;
    InterruptPoll poll;
    int64_t done;
    int64_t total;

    // After a step of `pixels` pixel-iterations, the `team`'s members
    // stopped first if the progress step runs; no question after the last.
    CoreEnd after_phase(WorkerTeam& team, uint64_t pixels) {
        if (progress.advance != nullptr) {
            team.stop();
            if (!progress.advance(progress.context, done, total)) return CoreEnd::kCancelled;
        }
        ++done;
        if (done < total && poll.after(pixels)) return CoreEnd::kInterrupted;
        return CoreEnd::kCompleted;
    }
};

// Iterations of a page in one phase side by side: about a sixteenth of a
// second's work of a thread between two questions of the interrupt check.
int32_t iterations_a_phase(uint64_t page_pixels) {
    const uint64_t stretch = (kPixelsBetweenChecks << 2) / (page_pixels > 0 ? page_pixels : 1);
    return stretch < 1 ? 1 : stretch > INT32_MAX ? INT32_MAX : static_cast<int32_t>(stretch);
}

CoreEnd filter_side_by_side(FilterCall& call, const FilterPlan& plan, CallSteps& steps) {
    WorkerTeam team(plan.threads, {plan.side_shares, ShareRunners<FilterKernel>::for_path(plan.path),
                                   &call});
    call.shares = plan.side_shares;
    call.pages_per_share = plan.side_pages / static_cast<uint32_t>(plan.side_shares);
    const uint64_t page_pixels = static_cast<uint64_t>(call.rows) * call.cols;
    const int32_t iterations = call.settings.iterations, stretch = iterations_a_phase(page_pixels);
    for (call.page_in_block = 0; call.page_in_block < call.pages_per_share; ++call.page_in_block) {
        call.first_iteration = 0;
        do {
            call.end_iteration = iterations - call.first_iteration > stretch
                                     ? call.first_iteration + stretch
                                     : iterations;
            team.run(kPagesRun);
            if (iterations > 0) {
                const CoreEnd end = steps.after_phase(
                    team, page_pixels * static_cast<uint64_t>(plan.side_shares) *
                              static_cast<uint64_t>(call.end_iteration - call.first_iteration));
                if (end != CoreEnd::kCompleted) return end;
            }
            call.first_iteration = call.end_iteration;
        } while (call.first_iteration < iterations);
    }
    return CoreEnd::kCompleted;
}

CoreEnd filter_one_page(FilterCall& call, WorkerTeam& team, CallSteps& steps) {
    const uint64_t pixels = static_cast<uint64_t>(call.rows) * call.cols;
    float* const work = call.result + page_offset(call, call.page);
    team.run(kExponentiate);
    for (int32_t iteration = 0; iteration < call.settings.iterations; ++iteration) {
        call.q0 = reference_q0(work, call.rows, call.settings.region);
        team.run(kCopyHalos);
        team.run(kSweep);
        const CoreEnd end = steps.after_phase(team, pixels);
        if (end != CoreEnd::kCompleted) return end;
    }
    team.run(kLogarithm);
    return CoreEnd::kCompleted;
}

CoreEnd filter_fast(const FilterPlan& plan, const float* source, float* result, uint32_t rows,
                    uint32_t cols, uint32_t pages, const FilterSettings& settings,
                    const FilterOptions& options, FilterFindings* findings) {
    ScratchBlocks memory(options.core.memory);
    const int32_t most_shares = plan.side_shares > plan.page_shares ? plan.side_shares
                                                                    : plan.page_shares;
    float* scratch = memory.take_array<float>(static_cast<size_t>(rows) * kColumnsPerShare *
                                              static_cast<uint32_t>(most_shares));
    if (memory.refused) return CoreEnd::kOutOfMemory;
    const ProgressStep& progress = options.progress;
    if (progress.begin != nullptr && !progress.begin(progress.context)) return CoreEnd::kCancelled;

    FilterCall call{};
    call.source = source;
    call.result = result;
    call.rows = rows;
    call.cols = cols;
    call.settings = settings;
    call.scratch = scratch;
    call.library_exponential = options.library_exponential;
    const int32_t iterations = settings.iterations > 0 ? settings.iterations : 0;
    call.settings.iterations = iterations;
    const bool side_by_side = plan.side_pages > 0;
    const int64_t side_steps =
        side_by_side && iterations > 0
            ? (plan.side_pages / static_cast<uint32_t>(plan.side_shares)) *
                  int64_t{(iterations - 1) / iterations_a_phase(uint64_t{rows} * cols) + 1}
            : 0;
    CallSteps steps{progress, InterruptPoll(options.core.interrupt, kPixelsBetweenChecks), 0,
                    side_steps + int64_t{iterations} * (pages - plan.side_pages)};
    CoreEnd end = CoreEnd::kCompleted;
    if (side_by_side) end = filter_side_by_side(call, plan, steps);
    if (end == CoreEnd::kCompleted && plan.side_pages < pages) {
        WorkerTeam team(plan.threads, {plan.page_shares,
                                       ShareRunners<FilterKernel>::for_path(plan.path), &call});
        call.shares = plan.page_shares;
        for (call.page = plan.side_pages; call.page < pages && end == CoreEnd::kCompleted;
             ++call.page) {
            if (call.page > plan.side_pages && steps.poll.after(0)) end = CoreEnd::kInterrupted;
            if (end == CoreEnd::kCompleted) end = filter_one_page(call, team, steps);
        }
    }
    if (end == CoreEnd::kCompleted && findings != nullptr) {
        for (int32_t part = 0; part < kMostThreads; ++part) {
            findings->infinite_working_value |= call.infinite[part];
            findings->nan_result |= call.nan[part];
        }
    }
    return end;
}

}  // namespace

void exponentiate_with(const CoreOptions& options, const float* source, float* work,
                       uint32_t count) {
    const CpuPath path = resolve_cpu_path(options.path);
    if (path == CpuPath::kPlain || !cpu_path_supported(path)) {
        exponentiate_pixels(source, work, 0, count);
        return;
    }
    const TeamPlan team = plan_team(options.threads, count, kSmallImage);
    ExponentiateCall call{source, work, count, team.shares};
    WorkerTeam(team.threads, {team.shares, ShareRunners<ExponentiateKernel>::for_path(path), &call})
        .run(0);
}

CoreEnd tarv_filter(const float* source, float* result, uint32_t rows, uint32_t cols,
                    uint32_t pages, const FilterSettings& settings, const FilterOptions& options,
                    FilterFindings* findings) {
    const CpuPath path = resolve_cpu_path(options.core.path);
    if (path == CpuPath::kPlain || !cpu_path_supported(path))
        return filter_plain(source, result, rows, cols, pages, settings, options, findings);
    return filter_fast(plan_fast(path, options.core.threads, rows, cols, pages), source, result,
                       rows, cols, pages, settings, options, findings);
}

#else

void exponentiate_with(const CoreOptions&, const float* source, float* work, uint32_t count) {
    exponentiate_pixels(source, work, 0, count);
}

CoreEnd tarv_filter(const float* source, float* result, uint32_t rows, uint32_t cols,
                    uint32_t pages, const FilterSettings& settings, const FilterOptions& options,
                    FilterFindings* findings) {
    return filter_plain(source, result, rows, cols, pages, settings, options, findings);
}

#endif
