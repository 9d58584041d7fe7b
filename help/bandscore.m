%BANDSCORE Scores of candidate upper and lower boundary rows per column.
%   S = BANDSCORE(TOP_OFFSET, BOTTOM_OFFSET, IMAGE, SPAN_MEAN, SPAN_SD, ...
%                 TOP_COUNT, BOTTOM_COUNT, PRIOR_WEIGHT, SPAN_MIN, SPAN_MAX)
%   scores, for every column c of IMAGE, every pair of a top row
%   t = fix(a + TOP_OFFSET), a = 0..TOP_COUNT-1, and a bottom row
%   b = fix(b + BOTTOM_OFFSET), b = 0..BOTTOM_COUNT-1 (rows counted from 0):
%
%     span  = bottom - top
%     S(a+1, b+1, c) = mean(IMAGE(top+1 : bottom+1, c))
%                      + PRIOR_WEIGHT * exp(-0.5 * ((span - SPAN_MEAN(c)) / SPAN_SD(c))^2)
%
%   when SPAN_MIN(c) <= span <= SPAN_MAX(c), and -999999 otherwise. A NaN
%   limit excludes nothing. The best band of column c is the maximum of
%   S(:, :, c).
%
%   Arguments, by position (all real, full double arrays):
%     1 TOP_OFFSET     scalar, row (0-based) of the first top candidate
%     2 BOTTOM_OFFSET  scalar, row (0-based) of the first bottom candidate
%     3 IMAGE          R-by-C matrix (of a 3-D array only the first plane
%                      is used), fewer than 2^31 elements
%     4 SPAN_MEAN      C or more values: preferred span per column, rows
%     5 SPAN_SD        C or more values: width of the preference, rows
%     6 TOP_COUNT      scalar, 0 <= A < 2^31, truncated toward zero
%     7 BOTTOM_COUNT   scalar, 0 <= B < 2^31, truncated toward zero
%     8 PRIOR_WEIGHT   scalar, weight of the span preference
%     9 SPAN_MIN       C or more values: smallest admissible span, rows
%    10 SPAN_MAX       C or more values: largest admissible span, rows
%   Every admissible pair must lie inside the image's rows 0..R-1.
%
%   Result: S, an A-by-B-by-C double array. It is the same bit for bit
%   whichever instruction set the processor offers and however many threads
%   share the work, with NaN in the same places (the sign bit of a NaN may
%   differ between the vectorised and the plain paths).
%
%   Example:
%     img = rand(120, 50); img(40:70, :) = img(40:70, :) + 2;
%     C = size(img, 2);
%     S = bandscore(20, 50, img, 30 * ones(1, C), 10 * ones(1, C), ...
%                   40, 40, 0.5, 5 * ones(1, C), 60 * ones(1, C));
%     [~, k] = max(reshape(S, [], C));
%     [a, b] = ind2sub([40 40], k);   % top = 20 + a - 1, bottom = 50 + b - 1
%
%   Errors (identifier: cause):
%     bandscore:nrhs           fewer than 10 inputs
%     bandscore:nlhs           more than one output requested
%     bandscore:argumentClass  an input not a real, full double array
%     bandscore:emptyArgument  an empty scalar argument (1, 2, 6, 7, 8)
%     bandscore:imageSize      IMAGE of 2^31 elements, rows or columns or more,
%                              or without its first R-by-C plane (R-by-C-by-0)
%     bandscore:count          TOP_COUNT or BOTTOM_COUNT NaN, negative or >= 2^31
%     bandscore:resultSize     A*B*C of 2^31 cells or more
%     bandscore:columnCount    a per-column argument shorter than C
%     bandscore:offset         candidate rows or spans beyond 32-bit integers
%     bandscore:rowRange       an admissible pair reads rows outside IMAGE
%     bandscore:outOfMemory    no memory for the result
%
%   See also TARV_C.
