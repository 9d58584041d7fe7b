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
// The image is split into contiguous blocks of columns, as many as the
// plan has threads, which the team's members take in turn. Before a sweep
// each block copies the old columns it needs from its neighbours' blocks
// (the halo), then every block is swept. The reference statistic and the
// interrupt check run on the calling thread at the start of each
// iteration, between the team's phases; the progress step and every other
// call into the caller run between teams, with no worker alive.
#include "kernel.h"

namespace {

// Whether the tables are the ones build_neighbour_tables makes, which the
// sweep assumes.
bool standard_tables(uint32_t rows, uint32_t cols, const NeighbourTables& tables) {
    for (uint32_t i = 0; i < rows; ++i) {
        if (tables.row_up[i] != static_cast<int32_t>(i == 0 ? 0 : i - 1)) return false;
        if (tables.row_down[i] != static_cast<int32_t>(i + 1 < rows ? i + 1 : i)) return false;
    }
    for (uint32_t j = 0; j < cols; ++j) {
        if (tables.col_left[j] != static_cast<int32_t>(j == 0 ? 0 : j - 1)) return false;
        if (tables.col_right[j] != static_cast<int32_t>(j + 1 < cols ? j + 1 : j)) return false;
    }
    return true;
}

}  // namespace

#if !FAST_PATHS_AVAILABLE

FilterPlan plan_filter(const PathChoice&, uint32_t, uint32_t cols) {
    return FilterPlan{CpuPath::kPlain, 1, cols};
}

FilterEnd diffuse_planned(const FilterPlan&, const float* source, float* work, uint32_t rows,
                          uint32_t cols, const NeighbourTables& tables,
                          const DiffusionScratch& scratch, const DiffusionParams& params,
                          ProgressStep progress, InterruptCheck interrupt) {
    return diffuse_reference(source, work, rows, cols, tables, scratch, params, progress,
                             interrupt);
}

void exponentiate_with(const PathChoice&, const float* source, float* work, uint32_t count) {
    exponentiate_pixels(source, work, 0, count);
}

#else

#include "exponential.h"
#include "logarithm.h"
#include "vector_lanes.h"

namespace {

// Below this many pixels the automatic choice keeps to one thread.
constexpr uint64_t kSmallImage = 1u << 16;

// Block m of T uses scratch columns 6m .. 6m + 5 (the old values of the
// column to its left and of the one it updates, the coefficients of that
// column and the next, and two halo columns right of it), taken from the
// five planes in turn; the last block has no halo and uses four.
// Each plane then needs ceil((6T - 2) / 5) columns.
uint32_t scratch_columns_for(int32_t threads) {
    return (6u * static_cast<uint32_t>(threads) - 2u + 4u) / 5u;
}

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


// What the members of one team share: the call's data and the part of the
// filter this team runs. q0, iteration and interrupted are written by the
// calling thread between phases.
struct FilterCall {
    const float* source;
    float* work;
    uint32_t rows;
    uint32_t cols;
    DiffusionScratch scratch;
    uint32_t scratch_columns;  // columns of `rows` floats in each plane
    int32_t shares;            // blocks of columns, each with its own scratch columns
    DiffusionParams params;
    bool library_exponential;  // the C library's exp rather than exponential.h's
    bool exponentiate;         // first the exponential of every pixel
    int32_t first_iteration;   // then iterations first .. end - 1
    int32_t end_iteration;
    bool take_logarithms;      // and last the logarithm
    InterruptCheck interrupt;  // asked every check_every iterations of the team
    int32_t check_every;
    int32_t iteration;
    float q0;
    bool interrupted;
};

// The phases of a team. An iteration is two: each block copies the old
// columns it needs from its neighbours' blocks (the halo), then every
// block is swept.
enum FilterPhase : int32_t { kExponentiate, kCopyHalos, kSweep, kLogarithm };

// Scratch column `slot`, counting through the five planes in turn.
float* scratch_column(const FilterCall& call, uint32_t slot) {
    float* const planes[5] = {call.scratch.d_up, call.scratch.d_down, call.scratch.d_left,
                              call.scratch.d_right, call.scratch.coef};
    return planes[slot / call.scratch_columns] +
           static_cast<size_t>(call.rows) * (slot % call.scratch_columns);
}

uint32_t share(uint32_t total, int32_t part, int32_t parts) {
    return static_cast<uint32_t>(share_start(total, part, parts));
}

// Share `part` of a phase: a range of pixels for the exponentiation and the
// logarithm, a block of columns for the sweeps.
template <int W>
ALWAYS_INLINE void filter_share(void* context, int32_t phase, int32_t part) {
    FilterCall& call = *static_cast<FilterCall*>(context);
    float* const work = call.work;
    const uint32_t rows = call.rows;
    const uint32_t cols = call.cols;
    if (phase == kExponentiate || phase == kLogarithm) {
        const uint32_t pixels = rows * cols;
        const uint32_t first_pixel = share(pixels, part, call.shares);
        const uint32_t end_pixel = share(pixels, part + 1, call.shares);
        if (phase == kLogarithm)
            logarithms_lanes<W>(work, first_pixel, end_pixel);
        else if (call.library_exponential)
            exponentiate_pixels(call.source, work, first_pixel, end_pixel);
        else
            exponentiate_lanes<W>(call.source, work, first_pixel, end_pixel);
        return;
    }

    const uint32_t first = share(cols, part, call.shares);
    const uint32_t end = share(cols, part + 1, call.shares);
    const uint32_t slot = 6u * static_cast<uint32_t>(part);
    float* prev = scratch_column(call, slot);
    float* save = scratch_column(call, slot + 1);
    float* coef = scratch_column(call, slot + 2);
    float* coef_next = scratch_column(call, slot + 3);
    float* halo = end < cols ? scratch_column(call, slot + 4) : nullptr;
    float* halo_next = end < cols ? scratch_column(call, slot + 5) : nullptr;
    auto right_of = [cols](uint32_t j) { return j + 1 < cols ? j + 1 : j; };
    if (phase == kCopyHalos) {
        copy_column<W>(work + static_cast<size_t>(rows) * (first == 0 ? 0 : first - 1), rows, prev);
        if (end < cols) {
            copy_column<W>(work + static_cast<size_t>(rows) * end, rows, halo);
            copy_column<W>(work + static_cast<size_t>(rows) * right_of(end), rows, halo_next);
        }
        return;
    }

    // Old values of column c, for a column not yet updated in this sweep.
    auto old_column = [&](uint32_t c) -> const float* {
        if (c < end) return work + static_cast<size_t>(rows) * c;
        return c == end ? halo : halo_next;
    };
    const double step = 0.25 * static_cast<double>(call.params.lambda);
    const float q0 = call.q0;
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

// On the calling thread between phases: the interrupt check and the
// reference statistic at the start of each iteration.
int32_t next_filter_phase(void* context, int32_t finished) {
    FilterCall& call = *static_cast<FilterCall*>(context);
    if (finished == kTeamStart && call.exponentiate) return kExponentiate;
    if (finished == kCopyHalos) return kSweep;
    if (finished == kLogarithm) return kTeamDone;
    if (finished == kSweep) ++call.iteration;
    if (call.iteration < call.end_iteration) {
        const int32_t done = call.iteration - call.first_iteration;
        if (done != 0 && done % call.check_every == 0 && call.interrupt.pending != nullptr &&
            call.interrupt.pending(call.interrupt.context)) {
            call.interrupted = true;
            return kTeamDone;
        }
        call.q0 = reference_q0(call.work, call.rows, call.params.region);
        return kCopyHalos;
    }
    return call.take_logarithms ? kLogarithm : kTeamDone;
}

struct FilterKernel {
    template <int kVectorBytes>
    static ALWAYS_INLINE void run(void* context, int32_t phase, int32_t part) {
        filter_share<kVectorBytes / static_cast<int>(sizeof(float))>(context, phase, part);
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

}  // namespace

void exponentiate_with(const PathChoice& choice, const float* source, float* work,
                       uint32_t count) {
    const CpuPath path = resolve_cpu_path(choice.path);
    if (path == CpuPath::kPlain || !cpu_path_supported(path)) {
        exponentiate_pixels(source, work, 0, count);
        return;
    }
    const int32_t threads = threads_for(choice.threads, count, kSmallImage);
    ExponentiateCall call{source, work, count, threads};
    run_team(threads, {threads, ShareRunners<ExponentiateKernel>::for_path(path), one_phase, &call});
}

FilterPlan plan_filter(const PathChoice& choice, uint32_t rows, uint32_t cols) {
    const CpuPath path = resolve_cpu_path(choice.path);
    if (path == CpuPath::kPlain || !cpu_path_supported(path)) return {CpuPath::kPlain, 1, cols};
    int32_t threads = threads_for(choice.threads, static_cast<uint64_t>(rows) * cols, kSmallImage);
    // At least two columns a thread, which also leaves scratch columns enough.
    const uint32_t most = cols / 2 > 1 ? cols / 2 : 1;
    if (static_cast<uint32_t>(threads) > most) threads = static_cast<int32_t>(most);
    return {path, threads, scratch_columns_for(threads)};
}

FilterEnd diffuse_planned(const FilterPlan& plan, const float* source, float* work, uint32_t rows,
                          uint32_t cols, const NeighbourTables& tables,
                          const DiffusionScratch& scratch, const DiffusionParams& params,
                          ProgressStep progress, InterruptCheck interrupt) {
    if (plan.path == CpuPath::kPlain)
        return diffuse_reference(source, work, rows, cols, tables, scratch, params, progress,
                                 interrupt);
    const uint64_t pixels = static_cast<uint64_t>(rows) * cols;
    InterruptPoll poll(interrupt, kPixelsBetweenChecks);
    const uint64_t check_every = poll.check.work_between_questions / pixels;
    FilterCall call{.source = source,
                    .work = work,
                    .rows = rows,
                    .cols = cols,
                    .scratch = scratch,
                    .scratch_columns = plan.scratch_columns,
                    .shares = plan.threads,
                    .params = params,
                    .library_exponential = plan.library_exponential,
                    .exponentiate = true,
                    .first_iteration = 0,
                    .end_iteration = 0,
                    .take_logarithms = false,
                    .interrupt = interrupt,
                    .check_every = check_every > 1 ? static_cast<int32_t>(check_every) : 1,
                    .iteration = 0,
                    .q0 = 0.0f,
                    .interrupted = false};
    const TeamWork team{plan.threads, ShareRunners<FilterKernel>::for_path(plan.path),
                        next_filter_phase, &call};
    const int32_t iterations = params.iterations > 0 ? params.iterations : 0;
    if (progress.advance == nullptr || iterations == 0) {
        call.end_iteration = iterations;
        call.take_logarithms = true;
        run_team(plan.threads, team);
        return call.interrupted ? FilterEnd::kInterrupted : FilterEnd::kCompleted;
    }
    // The progress step may call into the host, which may leave the
    // filter there without returning: one team per iteration, so that no
    // worker is alive while the step runs. The interrupt check is asked
    // between the teams too.
    call.interrupt = kNoInterruptCheck;
    for (int32_t iteration = 0; iteration < iterations; ++iteration) {
        call.exponentiate = iteration == 0;
        call.first_iteration = call.iteration = iteration;
        call.end_iteration = iteration + 1;
        run_team(plan.threads, team);
        if (!progress.advance(progress.context, iteration)) return FilterEnd::kCancelled;
        if (iteration + 1 < iterations && poll.after(pixels)) return FilterEnd::kInterrupted;
    }
    call.exponentiate = false;
    call.first_iteration = call.end_iteration = call.iteration = iterations;
    call.take_logarithms = true;
    run_team(plan.threads, team);
    return FilterEnd::kCompleted;
}

#endif

FilterEnd diffuse_with(const PathChoice& choice, const float* source, float* work, uint32_t rows,
                       uint32_t cols, const NeighbourTables& tables,
                       const DiffusionScratch& scratch, const DiffusionParams& params,
                       ProgressStep progress, InterruptCheck interrupt) {
    if (!standard_tables(rows, cols, tables))
        return diffuse_reference(source, work, rows, cols, tables, scratch, params, progress,
                                 interrupt);
    return diffuse_planned(plan_filter(choice, rows, cols), source, work, rows, cols, tables,
                           scratch, params, progress, interrupt);
}

FilterEnd diffuse(const float* source, float* work, uint32_t rows, uint32_t cols,
                  const NeighbourTables& tables, const DiffusionScratch& scratch,
                  const DiffusionParams& params, ProgressStep progress,
                  InterruptCheck interrupt) {
    return diffuse_with(kAutomaticPath, source, work, rows, cols, tables, scratch, params,
                        progress, interrupt);
}
