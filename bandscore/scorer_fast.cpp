// The fast paths of the scorer.
//
// The plain loop sums every cell afresh and visits the cells b fastest,
// A cells apart. Here, within a column, the cells are written in storage
// order (a fastest, then b) and every top keeps its running sum:
//
// - The span bottom - top grows with b and shrinks with a, so for each
//   bottom the admissible tops form one run [begin, finish), and both ends
//   only move forward as b grows. Cells outside the run get the sentinel.
// - A top that was admissible for the previous bottom extends its sum by
//   the rows that the new bottom adds, one addition per row in increasing
//   row order. A top that enters the run starts its sum at 0.0 and adds its
//   rows from the top down. Either way the sum of cell (a, b) is the plain
//   loop's left-to-right sum over rows top .. bottom, with the same bits,
//   and only rows that an admissible pair reads are touched.
// - The span term depends only on the column and the span, so it is taken
//   once per span and column.
//
// Vectors hold several tops of one bottom; a team's members take blocks of
// columns. A call that the caller may interrupt goes through the columns in
// rounds of bounded work, each split into blocks, and the calling thread
// asks the interrupt check between rounds.
#include "scorer.h"

#if FAST_PATHS_AVAILABLE

#include "vector_lanes.h"

namespace {

// Below this many cells the automatic choice keeps to one thread.
constexpr int64_t kSmallVolume = 1 << 16;

template <int W>
struct Reversal;
template <>
struct Reversal<2> {
    template <typename D>
    static ALWAYS_INLINE D reversed(const D& v) { return __builtin_shufflevector(v, v, 1, 0); }
};
template <>
struct Reversal<4> {
    template <typename D>
    static ALWAYS_INLINE D reversed(const D& v) {
        return __builtin_shufflevector(v, v, 3, 2, 1, 0);
    }
};
template <>
struct Reversal<8> {
    template <typename D>
    static ALWAYS_INLINE D reversed(const D& v) {
        return __builtin_shufflevector(v, v, 7, 6, 5, 4, 3, 2, 1, 0);
    }
};

// W tops of one bottom at once.
template <int W>
struct Lanes : Vector<double, W> {
    typedef typename Vector<double, W>::V D;
    using Vector<double, W>::load;
    using Vector<double, W>::splat;
    // sums + value in the lanes whose top is at or above `row`; the other
    // lanes keep their sums.
    static ALWAYS_INLINE D add_where_reached(const D& sums, const D& tops, double row,
                                             double value) {
        return tops <= splat(row) ? sums + value : sums;
    }
    // The span term of each lane's span, looked up in the column's table.
    static ALWAYS_INLINE D gather(const double* table, const D& index) {
        D v = D{};
        for (int l = 0; l < W; ++l) v[l] = table[static_cast<int32_t>(index[l])];
        return v;
    }
    // table[last], table[last - 1], ..., table[last - W + 1]: the terms of W
    // consecutive tops, whose spans fall by one from lane to lane.
    static ALWAYS_INLINE D descending(const double* table, int32_t last) {
        return Reversal<W>::reversed(load(table + last - (W - 1)));
    }
};

template <>
struct Lanes<1> : Vector<double, 1> {
    typedef double D;
    static ALWAYS_INLINE D add_where_reached(D sums, D tops, double row, double value) {
        return tops <= row ? sums + value : sums;
    }
    static ALWAYS_INLINE D gather(const double* table, D index) {
        return table[static_cast<int32_t>(index)];
    }
};

// What the members of one scoring call share.
struct ScoreCall {
    const double* image;
    int32_t rows;
    int32_t cols;
    BandScoreParams params;
    double* scores;
    const double* tops;      // A candidate top rows, as doubles (exact)
    const int32_t* bottoms;  // B candidate bottom rows
    int32_t span_low;        // the smallest span of any pair
    int32_t span_count;      // spans span_low .. span_low + span_count - 1
    double* share_memory;    // per share: A sums, then span_count span terms
    int32_t round_columns;   // columns of one round; all of them in one round
    int32_t shares;          // blocks of columns a round is split into
};

template <int W>
ALWAYS_INLINE void fill(double* cells, int32_t begin, int32_t end, double value) {
    typedef Lanes<W> L;
    int32_t a = begin;
    for (; a + W <= end; a += W) L::store(cells + a, L::splat(value));
    for (; a < end; ++a) cells[a] = value;
}

// For tops begin .. end - 1 that were admissible for the previous bottom
// and are for the new one (last_row): add rows first_row .. last_row, each
// to the sums of the tops it reaches. Rows above the first of these tops
// reach none and are not read: a pair whose span is below 0 reads no row,
// and such a row may lie outside the image.
template <int W>
ALWAYS_INLINE void extend_sums(double* sums, const double* tops, int32_t begin, int32_t end,
                               const double* column, int32_t first_row, int32_t last_row) {
    typedef Lanes<W> L;
    typedef Lanes<1> S;
    if (begin >= end) return;
    const int32_t topmost = static_cast<int32_t>(tops[begin]);
    for (int32_t r = first_row > topmost ? first_row : topmost; r <= last_row; ++r) {
        const double row = static_cast<double>(r);
        const double value = column[r];
        int32_t a = begin;
        for (; a + W <= end; a += W)
            L::store(sums + a,
                     L::add_where_reached(L::load(sums + a), L::load(tops + a), row, value));
        for (; a < end; ++a) sums[a] = S::add_where_reached(sums[a], tops[a], row, value);
    }
}

// Cells of tops begin .. end - 1 for `bottom`: the span term plus the mean.
template <int W>
ALWAYS_INLINE void score_run(double* cells, const double* sums, const double* tops, int32_t begin,
                             int32_t end, double bottom, const double* terms, double span_low) {
    typedef Lanes<W> L;
    typedef Lanes<1> S;
    int32_t a = begin;
    for (; a + W <= end; a += W) {
        // bottom - top is exact in double, as is the span + 1 that divides.
        const typename L::D s = bottom - L::load(tops + a);
        const typename L::D term =
            tops[a + W - 1] - tops[a] == W - 1
                ? L::descending(terms, static_cast<int32_t>(bottom - tops[a] - span_low))
                : L::gather(terms, s - span_low);
        L::store(cells + a, term + L::load(sums + a) / (s + 1.0));
    }
    for (; a < end; ++a) {
        const double s = bottom - tops[a];
        cells[a] = S::gather(terms, s - span_low) + sums[a] / (s + 1.0);
    }
}

// Column c's cells, with a share's A sums and span_count span terms.
template <int W>
ALWAYS_INLINE void score_column(const ScoreCall& call, int32_t c, double* sums, double* terms) {
    const BandScoreParams& params = call.params;
    const int32_t A = params.top_count;
    const int32_t B = params.bottom_count;
    const double* tops = call.tops;
    const double* column = call.image + static_cast<size_t>(call.rows) * c;
    double* plane = call.scores + static_cast<size_t>(A) * B * c;
    const double span_min = params.span_min[c];
    const double span_max = params.span_max[c];
    // A pair is admissible unless span_min > span or span > span_max; a
    // NaN limit excludes nothing.
    for (int32_t k = 0; k < call.span_count; ++k) {
        const double s = static_cast<double>(call.span_low + k);
        terms[k] =
            span_min > s || s > span_max
                ? 0.0
                : span_prior(s, params.span_mean[c], params.span_sd[c], params.prior_weight);
    }
    int32_t begin = 0;         // first top whose span is not above span_max
    int32_t reach = 0;         // first top whose span is below span_min
    int32_t previous_end = 0;  // end of the previous bottom's run
    for (int32_t b = 0; b < B; ++b) {
        const int32_t bottom = call.bottoms[b];
        const double bottom_row = static_cast<double>(bottom);
        while (begin < A && bottom_row - tops[begin] > span_max) ++begin;
        while (reach < A && !(span_min > bottom_row - tops[reach])) ++reach;
        const int32_t finish = reach > begin ? reach : begin;
        double* cells = plane + static_cast<size_t>(A) * b;

        // Tops still in the run take the new rows; tops entering it sum
        // their rows from the top.
        const int32_t kept = previous_end > begin ? previous_end : begin;
        if (b > 0)
            extend_sums<W>(sums, tops, begin, kept, column, call.bottoms[b - 1] + 1, bottom);
        for (int32_t a = kept; a < finish; ++a) {
            double sum = 0.0;
            for (int32_t r = static_cast<int32_t>(tops[a]); r <= bottom; ++r)
                sum = sum + column[r];
            sums[a] = sum;
        }
        previous_end = finish;

        fill<W>(cells, 0, begin, kInadmissibleScore);
        score_run<W>(cells, sums, tops, begin, finish, bottom_row, terms,
                     static_cast<double>(call.span_low));
        fill<W>(cells, finish, A, kInadmissibleScore);
    }
}

// Block `part` of the columns of round `round`.
template <int W>
ALWAYS_INLINE void score_share(void* context, int32_t round, int32_t part) {
    ScoreCall& call = *static_cast<ScoreCall*>(context);
    double* sums = call.share_memory + static_cast<size_t>(part) *
                                           (static_cast<size_t>(call.params.top_count) +
                                            static_cast<size_t>(call.span_count));
    double* terms = sums + call.params.top_count;
    const int64_t start = static_cast<int64_t>(round) * call.round_columns;
    const int64_t count = call.cols - start < call.round_columns ? call.cols - start
                                                                 : call.round_columns;
    const int32_t first = static_cast<int32_t>(start + share_start(count, part, call.shares));
    const int32_t end = static_cast<int32_t>(start + share_start(count, part + 1, call.shares));
    for (int32_t c = first; c < end; ++c) score_column<W>(call, c, sums, terms);
}

// Columns of a round of about the interrupt check's work between questions
// for each of the round's `threads` blocks, at least a column each; all columns
// without an interrupt check. The work of a column is estimated from above, counting
// as one unit a row added to a sum (every top adds at most span_high + 1
// rows), as 16 a span term (an exp) and as half a unit a cell.
int32_t round_columns(int32_t A, int32_t B, int32_t rows, int32_t cols, int32_t span_high,
                      int64_t span_count, int32_t threads, InterruptCheck interrupt) {
    if (interrupt.pending == nullptr) return cols;
    const uint64_t round_work = work_between_questions(interrupt, kScoreWorkBetweenChecks);
    const int64_t rows_a_top = span_high < 0 ? 0 : (span_high < rows ? span_high + 1 : rows);
    const uint64_t column_work = static_cast<uint64_t>(A) * (static_cast<uint64_t>(B) / 2 +
                                                             static_cast<uint64_t>(rows_a_top)) +
                                 16 * static_cast<uint64_t>(span_count) + 1;
    uint64_t columns = round_work / column_work;
    if (columns < 1) columns = 1;
    columns *= static_cast<uint64_t>(threads);
    return columns < static_cast<uint64_t>(cols) ? static_cast<int32_t>(columns) : cols;
}

struct ScoreKernel {
    template <int kVectorBytes>
    static ALWAYS_INLINE void run(void* context, int32_t round, int32_t part) {
        score_share<kVectorBytes / static_cast<int>(sizeof(double))>(context, round, part);
    }
};

CoreEnd score_fast(CpuPath path, const double* image, int32_t rows, int32_t cols,
                   const BandScoreParams& params, double* scores, const CoreOptions& options) {
    const int32_t A = params.top_count;
    const int32_t B = params.bottom_count;
    if (A <= 0 || B <= 0 || cols <= 0) return CoreEnd::kCompleted;

    TeamPlan team = plan_team(options.threads, static_cast<uint64_t>(A) * B * cols, kSmallVolume);
    if (team.shares > cols) team.shares = cols;

    // Candidate rows grow with their index, so the spans of all pairs lie
    // between these two; candidate_rows_in_range keeps both in 32 bits.
    const int32_t span_low =
        candidate_row(0, params.bottom_offset) - candidate_row(A - 1, params.top_offset);
    const int32_t span_high =
        candidate_row(B - 1, params.bottom_offset) - candidate_row(0, params.top_offset);
    const int64_t span_count = static_cast<int64_t>(span_high) - span_low + 1;
    const size_t share_size = static_cast<size_t>(A) + static_cast<size_t>(span_count);
    ScratchBlocks memory(options.memory);
    double* tops = memory.take_array<double>(static_cast<size_t>(A));
    int32_t* bottoms = memory.take_array<int32_t>(static_cast<size_t>(B));
    double* share_memory = memory.take_array<double>(share_size * team.shares);
    if (memory.refused) {
        memory.release_all();
        return score_bands_reference(image, rows, cols, params, scores, options.interrupt);
    }
    for (int32_t a = 0; a < A; ++a)
        tops[a] = static_cast<double>(candidate_row(a, params.top_offset));
    for (int32_t b = 0; b < B; ++b) bottoms[b] = candidate_row(b, params.bottom_offset);

    const int32_t columns = round_columns(A, B, rows, cols, span_high, span_count, team.shares,
                                          options.interrupt);
    ScoreCall call{image,    rows,    cols,          params,
                   scores,   tops,    bottoms,       span_low,
                   static_cast<int32_t>(span_count), share_memory, columns, team.shares};
    WorkerTeam workers(team.threads,
                       {team.shares, ShareRunners<ScoreKernel>::for_path(path), &call});
    const InterruptCheck& interrupt = options.interrupt;
    for (int32_t round = 0;; ++round) {
        workers.run(round);
        if (static_cast<int64_t>(round + 1) * columns >= cols) return CoreEnd::kCompleted;
        if (interrupt.pending(interrupt.context)) return CoreEnd::kInterrupted;
    }
}

}  // namespace

CoreEnd band_score(const double* image, int32_t rows, int32_t cols, const BandScoreParams& params,
                   double* scores, const CoreOptions& options) {
    const CpuPath path = resolve_cpu_path(options.path);
    if (path == CpuPath::kPlain || !cpu_path_supported(path))
        return score_bands_reference(image, rows, cols, params, scores, options.interrupt);
    return score_fast(path, image, rows, cols, params, scores, options);
}

#else

CoreEnd band_score(const double* image, int32_t rows, int32_t cols, const BandScoreParams& params,
                   double* scores, const CoreOptions& options) {
    return score_bands_reference(image, rows, cols, params, scores, options.interrupt);
}

#endif
