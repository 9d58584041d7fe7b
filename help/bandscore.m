%BANDSCORE Scores of candidate upper and lower boundary rows per column.
%   S = BANDSCORE(TOP_OFFSET, BOTTOM_OFFSET, IMAGE, SPAN_MEAN, SPAN_SD, ...
%                 TOP_COUNT, BOTTOM_COUNT, PRIOR_WEIGHT, SPAN_MIN, SPAN_MAX)
%   scores, for every column c of the double image IMAGE, every pair of a
%   top row top = fix(a + TOP_OFFSET), a = 0..TOP_COUNT-1, and a bottom row
%   bottom = fix(b + BOTTOM_OFFSET), b = 0..BOTTOM_COUNT-1 (rows counted
%   from 0):
%
%     span  = bottom - top
%     S(a+1, b+1, c) = mean(IMAGE(top+1 : bottom+1, c))
%                      + PRIOR_WEIGHT * exp(-0.5 * ((span - SPAN_MEAN(c)) / SPAN_SD(c))^2)
%
%   when SPAN_MIN(c) <= span <= SPAN_MAX(c), and -999999 otherwise. The
%   best band of column c is the maximum of S(:, :, c).
%
%   Example:
%     % from a B-scan of intensities through TARV_c to the best band of each column
%     bscan = -log(rand(120, 50));             % speckle: intensities of mean 1
%     bscan(40:70, :) = 4 * bscan(40:70, :);   % a band 4 times as bright, rows 40:70
%     out = TARV_c(single(log(bscan)), 60, 0.2, 1, 30, 1, 50, 0);   % rows 1:30 are pure speckle
%     C = size(out, 2);
%     S = bandscore(20, 50, double(out), 30 * ones(1, C), 5 * ones(1, C), ...
%                   40, 40, 1, 5 * ones(1, C), 60 * ones(1, C));
%     [~, k] = max(reshape(S, [], C));
%     [a, b] = ind2sub([40 40], k);
%     top = 20 + a - 1;  bottom = 50 + b - 1;   % per column, rows from 0
%
%   Arguments, by position (all real, full double arrays; pass the result
%   of TARV_c as double(out)):
%     1 TOP_OFFSET     scalar, row (0-based) of the first top candidate
%     2 BOTTOM_OFFSET  scalar, row (0-based) of the first bottom candidate
%     3 IMAGE          R-by-C matrix
%     4 SPAN_MEAN      C or more values: preferred span per column, rows
%     5 SPAN_SD        C or more values: width of the preference, rows
%     6 TOP_COUNT      scalar, number A of top candidates
%     7 BOTTOM_COUNT   scalar, number B of bottom candidates
%     8 PRIOR_WEIGHT   scalar, weight of the span preference
%     9 SPAN_MIN       C or more values: smallest admissible span, rows
%    10 SPAN_MAX       C or more values: largest admissible span, rows
%   Every admissible pair must lie inside the image's rows 0..R-1.
%
%   Result: S, an A-by-B-by-C double array.
%
%   Details:
%     IMAGE must have fewer than 2^31 elements. A 3-D array is refused
%     (bandscore:imageDimensions); score a volume V page by page, each
%     page V(:, :, p) by a call of its own.
%     TOP_COUNT and BOTTOM_COUNT must lie in 0 <= A, B < 2^31; they are
%     truncated toward zero, as are the candidate rows. A NaN span limit
%     excludes nothing.
%     S is the same bit for bit whichever instruction set the processor
%     offers and however many threads share the work, with NaN in the same
%     places (the sign bit of a NaN may differ between the vectorised and
%     the plain paths).
%     The work is shared by as many threads as the process may use: its
%     processor affinity, its container's CPU quota, and OMP_NUM_THREADS
%     where that is set to a positive integer.
%
%   Errors (identifier: cause):
%     bandscore:nrhs             fewer than 10 inputs
%     bandscore:nlhs             more than one output requested
%     bandscore:argumentClass    an input not a real, full double array
%     bandscore:emptyArgument    an empty scalar argument (1, 2, 6, 7, 8)
%     bandscore:scalarSize       a scalar argument (1, 2, 6, 7, 8) of more
%                                than one element
%     bandscore:imageDimensions  IMAGE of more than two dimensions
%     bandscore:imageSize        IMAGE of 2^31 elements, rows or columns or
%                                more
%     bandscore:count            TOP_COUNT or BOTTOM_COUNT NaN, negative or
%                                >= 2^31
%     bandscore:resultSize       A*B*C of 2^31 cells or more
%     bandscore:columnCount      a per-column argument shorter than C
%     bandscore:offset           candidate rows or spans beyond 32-bit
%                                integers
%     bandscore:rowRange         an admissible pair reads rows outside IMAGE
%     bandscore:outOfMemory      no memory for the result
%     bandscore:interrupted      Ctrl-C during the call, in MATLAB (GNU
%                                Octave stops with its own interrupt); no
%                                result
%
%   See also TARV_C.

% Tests and demos for GNU Octave, which its commands "test bandscore" and
% "demo bandscore" run; MATLAB does not use them.

%!demo
%! % The best band in each column of a speckled layered image: TARV_c
%! % filters it, then bandscore scores every pair of an upper boundary in
%! % rows 40..159 and a lower one in rows 60..189 (rows from 0), spans of
%! % 25 to 55 rows admissible and 40 preferred. Without a display, or with
%! % figures kept invisible, the picture goes to a file, whose name is
%! % printed.
%! to_file = ~have_window_system () || strcmp (get (0, 'defaultfigurevisible'), 'off');
%! visible = 'on';
%! if to_file
%!   visible = 'off';
%!   % gnuplot, the one toolkit without a display, writes PNG itself,
%!   % without Ghostscript.
%!   warning ('off', 'Octave:gnuplot-graphics', 'local');
%!   warning ('off', 'print:nogs', 'local');
%! end
%! rand ('state', 1);
%! [m, n] = deal (200, 300);
%! top = round (90 + 20 * sin (2 * pi * (0:n-1) / n));   % the truth, rows from 0
%! row = (0:m-1)';
%! reflectivity = 1 + 2 * (row >= top & row <= top + 40) + 0.7 * (row > top + 40);
%! img = single (log (reflectivity .* -log (rand (m, n))));
%! out = TARV_c (img, 60, 0.2, 1, 40, 1, n, 0);
%! k = ones (1, n);
%! tic ();
%! S = bandscore (40, 60, double (out), 40 * k, 6 * k, 120, 130, 0.5, 25 * k, 55 * k);
%! seconds = toc ();
%! [~, best] = max (reshape (S, [], n));
%! [a, b] = ind2sub ([120, 130], best);
%! top_found = 40 + a - 1;
%! bottom_found = 60 + b - 1;
%! fprintf ('bandscore: 120 x 130 pairs in each of %d columns, %.2f s\n', n, seconds);
%! fprintf ('mean distance to the true boundaries: %.2f rows\n', ...
%!          mean (abs ([top_found - top, bottom_found - (top + 40)])));
%! sorted = sort (double (out(:)));
%! fig = figure ('position', [0, 0, 640, 480], 'visible', visible);
%! imagesc (out, sorted(round ([0.005, 0.995] * numel (sorted)))');
%! axis ('image', 'off');
%! colormap (gray (256));
%! hold ('on');
%! plot (1:n, [top_found; bottom_found] + 1, 'r-', 'linewidth', 2);   % rows from 1 on screen
%! hold ('off');
%! title ('the best band of each column (red)');
%! if to_file
%!   png = fullfile (tempdir (), 'bandscore_demo.png');
%!   if strcmp (graphics_toolkit (fig), 'gnuplot')
%!     print (fig, '-dpngcairo', png);
%!   else
%!     print (fig, '-dpng', png);
%!   end
%!   close (fig);
%!   fprintf ('picture: %s\n', png);
%! end

% S is an A-by-B-by-C double array, a count of 0 included.
%!test
%! % A, B, C
%! cases = [3, 3, 5; 0, 3, 5; 3, 0, 5; 4, 2, 1];
%! for k = 1:size (cases, 1)
%!   [A, B, C] = deal (cases(k, 1), cases(k, 2), cases(k, 3));
%!   c = ones (1, C);
%!   S = bandscore (10, 20, rand (30, C), 10 * c, 2 * c, A, B, 0.5, 5 * c, 15 * c);
%!   [a, b, cols] = size (S);
%!   assert ([a, b, cols], [A, B, C]);
%!   assert (class (S), 'double');
%! end

% Tops 10..12 and bottoms 20..22 (rows from 0) with spans 9..11
% admissible: the pairs of span 8 (top 12, bottom 20) and of span 12 (top
% 10, bottom 22) get the sentinel -999999. The pair (10, 20), of the
% preferred span 10, is the mean of the 11 rows 10..20 plus the whole
% PRIOR_WEIGHT; the pair (11, 20), of span 9, one standard deviation off,
% adds PRIOR_WEIGHT * exp(-0.5). Integer pixels keep every sum exact.
%!test
%! C = 4;
%! img = reshape (0:23*C-1, 23, C);
%! c = ones (1, C);
%! S = bandscore (10, 20, img, 10 * c, c, 3, 3, 0.5, 9 * c, 11 * c);
%! spans = 10 + (0:2) - (0:2)';   % span of S(a+1, b+1, :) = (20 + b) - (10 + a)
%! assert (S == -999999, repmat (spans < 9 | spans > 11, [1, 1, C]));
%! assert (squeeze (S(1, 1, :))', 0.5 + sum (img(11:21, :)) / 11);
%! assert (squeeze (S(2, 1, :))', 0.5 * exp (-0.5) + sum (img(12:21, :)) / 10);

%!error id=bandscore:nrhs bandscore (10, 20)
%!error id=bandscore:argumentClass bandscore (10, 20, single (rand (23, 1)), 10, 1, 3, 3, 0.5, 9, 11)
%!error id=bandscore:imageDimensions bandscore (10, 20, rand (23, 1, 2), 10, 1, 3, 3, 0.5, 9, 11)
