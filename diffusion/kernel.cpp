// The diffusion kernel's plain loops. The order, grouping and precision of
// every operation below is part of the filter's result: sums run left to
// right in the grouping written, each product is rounded before it is added
// (the project builds with -ffp-contract=off), single-precision steps have
// single_expr operands, double-precision steps double_expr ones, and every
// named quantity is stored through to_single. Those types are the processor
// family's (platform/processor_family.h): plain float and double, rounding
// at every operation, except on the 32-bit x87 build, which evaluates in
// its registers at the host's precision.
#include "kernel.h"

#include <math.h>

#include "instruction_sets.h"

void build_neighbour_tables(uint32_t rows, uint32_t cols, const NeighbourTables& tables) {
    for (uint32_t i = 0; i < rows; ++i) {
        tables.row_up[i] = static_cast<int32_t>(i) - 1;
        tables.row_down[i] = static_cast<int32_t>(i) + 1;
    }
    for (uint32_t j = 0; j < cols; ++j) {
        tables.col_left[j] = static_cast<int32_t>(j) - 1;
        tables.col_right[j] = static_cast<int32_t>(j) + 1;
    }
    tables.row_up[0] = 0;
    tables.row_down[rows - 1] = static_cast<int32_t>(rows - 1);
    tables.col_left[0] = 0;
    tables.col_right[cols - 1] = static_cast<int32_t>(cols - 1);
}

namespace {

struct ReferenceStatistic {
    float q0;  // squared coefficient of variation of the reference region
};

// Sums over the region row by row (rows outer, columns inner); the order of
// the single-precision accumulation is part of the result.
ReferenceStatistic reference_statistic(const float* work, uint32_t rows,
                                       const ReferenceRegion& region) {
    float sum = 0.0f;
    float sum2 = 0.0f;
    for (uint32_t i = region.first_row; i <= region.last_row; ++i) {
        for (uint32_t j = region.first_col; j <= region.last_col; ++j) {
            const float v = work[i + rows * j];
            sum = to_single(single_expr(sum) + v);
            sum2 = to_single(single_expr(sum2) + single_expr(v) * v);
        }
    }
    const float n = to_single(single_expr(region.count));
    const float mean = to_single(single_expr(sum) / n);
    const float var = to_single(single_expr(sum2) / n - single_expr(mean) * mean);
    const float q0 = to_single(single_expr(var) / (single_expr(mean) * mean));
    return ReferenceStatistic{q0};
}

void coefficient_pass(const float* work, uint32_t rows, uint32_t cols,
                      const NeighbourTables& tables, const DiffusionScratch& scratch, float q0) {
    for (uint32_t j = 0; j < cols; ++j) {
        const uint32_t column = rows * j;
        const uint32_t left = rows * static_cast<uint32_t>(tables.col_left[j]);
        const uint32_t right = rows * static_cast<uint32_t>(tables.col_right[j]);
        for (uint32_t i = 0; i < rows; ++i) {
            const uint32_t k = i + column;
            const float c0 = work[k];
            const float dU =
                to_single(single_expr(work[static_cast<uint32_t>(tables.row_up[i]) + column]) - c0);
            const float dD =
                to_single(single_expr(work[static_cast<uint32_t>(tables.row_down[i]) + column]) - c0);
            const float dL = to_single(single_expr(work[i + left]) - c0);
            const float dR = to_single(single_expr(work[i + right]) - c0);
            scratch.d_up[k] = dU;
            scratch.d_down[k] = dD;
            scratch.d_left[k] = dL;
            scratch.d_right[k] = dR;

            const float lap = to_single((((single_expr(dU) + dD) + dL) + dR) / c0);
            const float grad = to_single(
                (((single_expr(dU) * dU + single_expr(dD) * dD) + single_expr(dL) * dL) +
                 single_expr(dR) * dR) /
                (single_expr(c0) * c0));
            const float num = to_single(double_expr(0.5) * grad -
                                        double_expr(0.0625) * (single_expr(lap) * lap));
            const float den = to_single(double_expr(1.0) + double_expr(0.25) * lap);
            const float q = to_single(single_expr(num) / (single_expr(den) * den));
            // q0d = (q0 + 1) * q0 is the same for every pixel of the iteration.
            const float t = to_single((single_expr(q) - q0) / ((single_expr(q0) + 1.0f) * q0));
            const float c = to_single(double_expr(1.0) / (double_expr(1.0) + t));
            scratch.coef[k] = clamp_coefficient(c);
        }
    }
}

// Reads only the stored differences, never neighbouring working values, so
// no pixel sees an already-updated neighbour.
void update_pass(float* work, uint32_t rows, uint32_t cols, const NeighbourTables& tables,
                 const DiffusionScratch& scratch, float lambda) {
    const double_expr step = double_expr(0.25) * lambda;
    for (uint32_t j = 0; j < cols; ++j) {
        const uint32_t column = rows * j;
        const uint32_t right = rows * static_cast<uint32_t>(tables.col_right[j]);
        for (uint32_t i = 0; i < rows; ++i) {
            const uint32_t k = i + column;
            const float cC = scratch.coef[k];
            const float cD = scratch.coef[static_cast<uint32_t>(tables.row_down[i]) + column];
            const float cR = scratch.coef[i + right];
            const float div = to_single(((single_expr(cC) * scratch.d_up[k] +
                                          single_expr(cD) * scratch.d_down[k]) +
                                         single_expr(cC) * scratch.d_left[k]) +
                                        single_expr(cR) * scratch.d_right[k]);
            work[k] = to_single(double_expr(work[k]) + step * div);
        }
    }
}

}  // namespace

float reference_q0(const float* work, uint32_t rows, const ReferenceRegion& region) {
    return reference_statistic(work, rows, region).q0;
}

bool exponentiate_pixels(const float* source, float* work, uint32_t begin, uint32_t end) {
    bool infinite = false;
    for (uint32_t k = begin; k < end; ++k) {
        work[k] = to_single(exp(static_cast<double>(source[k])));
        infinite |= work[k] == __builtin_inff();
    }
    return infinite;
}

bool take_logarithms(float* work, uint32_t begin, uint32_t end) {
    bool nan = false;
    for (uint32_t k = begin; k < end; ++k) {
        work[k] = library_log(work[k]);
        nan |= work[k] != work[k];
    }
    return nan;
}

CoreEnd diffuse_reference(const float* source, float* work, uint32_t rows, uint32_t cols,
                          const NeighbourTables& tables, const DiffusionScratch& scratch,
                          const FilterSettings& settings, const PageSteps& steps,
                          InterruptPoll* poll, FilterFindings* findings) {
    const uint32_t count = rows * cols;
    const bool infinite = exponentiate_pixels(source, work, 0, count);
    const ProgressStep& progress = steps.progress;
    for (int32_t iteration = 0; iteration < settings.iterations; ++iteration) {
        const ReferenceStatistic statistic = reference_statistic(work, rows, settings.region);
        coefficient_pass(work, rows, cols, tables, scratch, statistic.q0);
        update_pass(work, rows, cols, tables, scratch, settings.lambda);
        if (progress.advance != nullptr &&
            !progress.advance(progress.context, steps.first + iteration, steps.steps))
            return CoreEnd::kCancelled;
        if (iteration + 1 < settings.iterations && poll != nullptr && poll->after(count))
            return CoreEnd::kInterrupted;
    }
    const bool nan = take_logarithms(work, 0, count);
    if (findings != nullptr) {
        findings->infinite_working_value |= infinite;
        findings->nan_result |= nan;
    }
    return CoreEnd::kCompleted;
}

CoreEnd filter_plain(const float* source, float* result, uint32_t rows, uint32_t cols,
                     uint32_t pages, const FilterSettings& settings, const FilterOptions& options,
                     FilterFindings* findings) {
    ScratchBlocks memory(options.core.memory);
    const size_t plane = static_cast<size_t>(rows) * cols;
    const NeighbourTables tables{memory.take_array<int32_t>(rows), memory.take_array<int32_t>(rows),
                                 memory.take_array<int32_t>(cols), memory.take_array<int32_t>(cols)};
    const DiffusionScratch scratch{memory.take_array<float>(plane), memory.take_array<float>(plane),
                                   memory.take_array<float>(plane), memory.take_array<float>(plane),
                                   memory.take_array<float>(plane)};
    if (memory.refused) return CoreEnd::kOutOfMemory;
    build_neighbour_tables(rows, cols, tables);
    const ProgressStep& progress = options.progress;
    if (progress.begin != nullptr && !progress.begin(progress.context)) return CoreEnd::kCancelled;
    const int32_t iterations = settings.iterations > 0 ? settings.iterations : 0;
    InterruptPoll poll(options.core.interrupt, kPixelsBetweenChecks);
    for (uint32_t page = 0; page < pages; ++page) {
        if (page > 0 && poll.after(0)) return CoreEnd::kInterrupted;
        const PageSteps steps{progress, int64_t{page} * iterations, int64_t{pages} * iterations};
        const CoreEnd end = diffuse_reference(source + plane * page, result + plane * page, rows,
                                              cols, tables, scratch, settings, steps, &poll,
                                              findings);
        if (end != CoreEnd::kCompleted) return end;
    }
    return CoreEnd::kCompleted;
}
