%TARV_C Edge-preserving anisotropic diffusion of a log-intensity image.
%   OUT = TARV_C(IMAGE, ITERATIONS, LAMBDA, ROW1, ROW2, COL1, COL2, PROGRESS)
%   filters the log-intensity image IMAGE (for example the logarithm of an
%   ultrasound or OCT image). Speckle is smoothed where the image looks like
%   the reference region IMAGE(ROW1:ROW2, COL1:COL2), a patch of pure
%   speckle that you choose, and edges are kept where it does not. IMAGE
%   may be a volume of B-scans, M-by-N-by-P: each page is filtered as an
%   image of its own, with its own reference region at the same rows and
%   columns, in one call.
%
%   Example:
%     img = single(log(1 + 100 * rand(200, 300)));
%     out = TARV_c(img, 20, 0.2, 1, 40, 1, 60, 1);   % rows 1:40, columns 1:60 are the reference
%     imagesc([img out]); axis image; colormap gray;
%     vol = single(log(1 + 100 * rand(200, 300, 16)));
%     outv = TARV_c(vol, 20, 0.2, 1, 40, 1, 60, 0);  % outv(:,:,p) is TARV_c(vol(:,:,p), ...)
%
%   Arguments, by position:
%     1 IMAGE       single-precision M-by-N matrix, or M-by-N-by-P volume, of
%                   log intensities; for an image img of intensities,
%                   single(log(1 + double(img)))
%     2 ITERATIONS  number of diffusion steps: more smooth more; tens to a
%                   few hundred are typical
%     3 LAMBDA      time step, 0 < LAMBDA <= 1; 0.1 to 0.25 is typical
%     4 ROW1        first row of the reference region, 1..M
%     5 ROW2        last row of the reference region, 1..M
%     6 COL1        first column of the reference region, 1..N
%     7 COL2        last column of the reference region, 1..N
%                   Choose a homogeneous area of speckle, with no edges or
%                   structure in it: the filter smooths what varies as the
%                   region does and keeps what does not.
%     8 PROGRESS    1 to show a progress bar while filtering, 0 not to;
%                   closing its window cancels the filter
%   The scalars may be of any real numeric or logical class.
%
%   Result: OUT, a single-precision array of IMAGE's size, the filtered log
%   intensities. BANDSCORE takes double images: pass it double(OUT).
%   Ctrl-C stops a long run, with the progress bar on or off.
%
%   Details:
%     IMAGE must have fewer than 2^31 elements. The filter exponentiates
%     every pixel in single precision and squares the result, so a value of
%     44.36 or more (or -51.99 or less) leaves the single-precision range
%     and gives NaN, and so does log(0) = -Inf: pass log intensities, not
%     intensities. Every page of a volume has the bits a call on that page
%     alone gives; one call on the volume is faster than one a page. An
%     array of four or more dimensions is refused (TARV_c:imageDimensions).
%     ITERATIONS must be finite and within the 32-bit integer range; it is
%     truncated toward zero, and zero or less returns exp/log of IMAGE.
%     LAMBDA is used in single precision; above 1 pixels can turn negative
%     and come out NaN.
%     The region's bounds are truncated toward zero (13.9 means row 13). An
%     empty region (ROW1 > ROW2 or COL1 > COL2) makes the whole result NaN.
%     A region of one pixel has a variance of exactly 0: then no pixel
%     changes, except that a pixel equal to its four neighbours turns NaN,
%     and the NaN spreads to the neighbours with every further iteration. A
%     flat region (all its pixels equal) has a variance of 0 or a rounding
%     residue of 0: the same, or next to no smoothing; in a flat region of
%     log intensity 0 every pixel turns NaN, and the NaN spreads over the
%     image.
%     PROGRESS counts by the low 8 bits of its integer part: 256 is off,
%     -1 is on, NaN is off. A bar-on call stopped by Ctrl-C cannot close
%     its window; the next call with the bar on closes it first. The
%     32-bit Windows build stops on Ctrl-C only through the progress bar.
%     On 64-bit x86 OUT is the same bit for bit whichever instruction set
%     the processor offers and however many threads share the work, with
%     NaN in the same places (the sign bit of a NaN may differ between the
%     vectorised and the plain paths), and the same on every 64-bit
%     platform. The 32-bit Windows build computes in x87 registers and
%     differs from it by rounding.
%     The work is shared by as many threads as the process may use: its
%     processor affinity, its container's CPU quota, and OMP_NUM_THREADS
%     where that is set to a positive integer (set it to 1 in the workers
%     of a parfor pool or a job array that runs one call per processor).
%
%   Errors (identifier: cause):
%     TARV_c:nrhs             fewer than 8 inputs
%     TARV_c:nlhs             more than one output requested
%     TARV_c:imageClass       IMAGE not a real, full single-precision array
%     TARV_c:imageSize        IMAGE of 2^31 elements or more
%     TARV_c:imageDimensions  IMAGE of more than three dimensions
%     TARV_c:scalarClass      arguments 2-8 not real numeric or logical
%     TARV_c:emptyArgument    arguments 2-8 empty
%     TARV_c:scalarSize       arguments 2-8 of more than one element
%     TARV_c:iterations       ITERATIONS NaN, infinite or beyond 32 bits
%     TARV_c:region           a region bound outside the image
%     TARV_c:outOfMemory      no memory for the scratch planes; GNU Octave
%                             raises its own error first, without an
%                             identifier ("TARV_c: failed to allocate N
%                             bytes of memory"); nothing is lost either way
%     TARV_c:cancelled        the progress bar failed (its window closed)
%     TARV_c:interrupted      Ctrl-C during the call, in MATLAB (GNU Octave
%                             stops with its own interrupt); no result
%
%   Warnings (identifier: cause):
%     TARV_c:nonFinite        the result holds NaN, or IMAGE holds values
%                             above 88.72; the warning says how many pixels,
%                             the first cause that applies and the fix:
%                             IMAGE values that are not finite, 44.36 or
%                             above (their squared exponential overflows:
%                             intensities rather than log intensities),
%                             -51.99 or below (it is 0), neighbours 42.98
%                             or more apart, a reference region of variance
%                             0 or an empty one, LAMBDA negative or above 1.
%                             Turn it off with
%                             warning('off', 'TARV_c:nonFinite').
%     TARV_c:lambda           LAMBDA NaN, not positive or above 1
%
%   See also BANDSCORE.

% Tests and demos for GNU Octave, which its commands "test TARV_c" and
% "demo TARV_c" run; MATLAB does not use them.

%!demo
%! % A bright band between two wavy boundaries under fully developed
%! % speckle (fixed seed), filtered with the progress bar on. Rows 1..40
%! % lie above the band in every column: they are the reference region.
%! % Without a display, or with figures kept invisible, the picture goes
%! % to a file, whose name is printed.
%! to_file = ~have_window_system () || strcmp (get (0, 'defaultfigurevisible'), 'off');
%! if to_file
%!   % gnuplot, the one toolkit without a display, writes PNG itself,
%!   % without Ghostscript.
%!   warning ('off', 'Octave:gnuplot-graphics', 'local');
%!   warning ('off', 'print:nogs', 'local');
%!   visible = get (0, 'defaultfigurevisible');
%!   set (0, 'defaultfigurevisible', 'off');
%! end
%! unwind_protect
%!   rand ('state', 1);
%!   [m, n] = deal (200, 300);
%!   top = round (90 + 20 * sin (2 * pi * (0:n-1) / n));   % rows from 0
%!   row = (0:m-1)';
%!   reflectivity = 1 + 2 * (row >= top & row <= top + 40) + 0.7 * (row > top + 40);
%!   img = single (log (reflectivity .* -log (rand (m, n))));
%!   tic ();
%!   out = TARV_c (img, 60, 0.2, 1, 40, 1, n, 1);
%!   seconds = toc ();
%!   fig = figure ('position', [0, 0, 960, 380]);
%!   panels = {img, 'speckled log image'
%!             out, sprintf('TARV_c, 60 iterations: %.2f s', seconds)};
%!   for k = 1:2
%!     subplot (1, 2, k);
%!     % The 0.5 % and 99.5 % points as the grey scale: log speckle has a
%!     % long tail of dark pixels.
%!     sorted = sort (double (panels{k, 1}(:)));
%!     imagesc (panels{k, 1}, sorted(round ([0.005, 0.995] * numel (sorted)))');
%!     axis ('image', 'off');
%!     colormap (gray (256));
%!     title (panels{k, 2}, 'interpreter', 'none');
%!   end
%!   if to_file
%!     png = fullfile (tempdir (), 'TARV_c_demo.png');
%!     if strcmp (graphics_toolkit (fig), 'gnuplot')
%!       print (fig, '-dpngcairo', png);
%!     else
%!       print (fig, '-dpng', png);
%!     end
%!     close (fig);
%!     fprintf ('picture: %s\n', png);
%!   end
%! unwind_protect_cleanup
%!   if to_file
%!     set (0, 'defaultfigurevisible', visible);
%!   end
%! end_unwind_protect

% The result is single and of the image's size, whatever the class of the
% scalars.
%!test
%! rand ('state', 1);
%! for dims = {[1, 9], [9, 1], [13, 17]}
%!   [m, n] = deal (dims{1}(1), dims{1}(2));
%!   img = single (log (1 + 100 * rand (m, n)));
%!   out = TARV_c (img, int32 (3), single (0.2), 1, m, uint8 (1), n, false);
%!   assert (class (out), 'single');
%!   assert (size (out), [m, n]);
%! end

% A uniform image stays uniform: with no differences nothing flows, and
% the result is the exp/log round trip of the input, as after no
% iteration at all.
%!test
%! for value = single ([-1, 0.3, 2.5])
%!   img = repmat (value, 20, 30);
%!   out = TARV_c (img, 10, 0.2, 1, 20, 1, 30, 0);
%!   same = TARV_c (img, 0, 0.2, 1, 20, 1, 30, 0);
%!   assert (all (out(:) == out(1)));
%!   assert (typecast (out(:), 'uint32'), typecast (same(:), 'uint32'));
%! end

% The reference region sets the speckle level: an empty region, or a
% region of log intensity 0 (variance exactly 0, every pixel flat), gives
% NaN everywhere; a region of one pixel (variance exactly 0) leaves
% speckle, which has no flat pixels, unchanged.
%!test
%! warning ('off', 'TARV_c:nonFinite', 'local');
%! rand ('state', 1);
%! img = single (log (-log (rand (40, 50))));
%! flat = img;
%! flat(1:10, 1:20) = 0;
%! % picture, ROW1, ROW2, COL1, COL2, all NaN (true) or unchanged (false)
%! cases = {
%!   img,  11, 10,  1, 20, true
%!   img,   1, 10, 21, 20, true
%!   flat,  1, 10,  1, 20, true
%!   img,  20, 20, 25, 25, false
%! };
%! for k = 1:size (cases, 1)
%!   [picture, bounds, all_nan] = deal (cases{k, 1}, [cases{k, 2:5}], cases{k, 6});
%!   out = TARV_c (picture, 60, 0.2, bounds(1), bounds(2), bounds(3), bounds(4), 0);
%!   if all_nan
%!     assert (all (isnan (out(:))), sprintf ('case %d: all NaN', k));
%!   else
%!     same = TARV_c (picture, 0, 0.2, 1, 1, 1, 1, 0);
%!     assert (typecast (out(:), 'uint32'), typecast (same(:), 'uint32'));
%!   end
%! end

%!error id=TARV_c:nrhs TARV_c (single (1))
%!error id=TARV_c:imageClass TARV_c (zeros (4), 1, 0.2, 1, 2, 1, 2, 0)
%!error id=TARV_c:region TARV_c (ones (4, 'single'), 1, 0.2, 1, 5, 1, 2, 0)
