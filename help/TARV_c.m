%TARV_C Edge-preserving anisotropic diffusion of a log-intensity image.
%   OUT = TARV_C(IMAGE, ITERATIONS, LAMBDA, ROW1, ROW2, COL1, COL2, PROGRESS)
%   filters the log-intensity image IMAGE: it exponentiates every pixel,
%   runs ITERATIONS explicit diffusion steps whose conductance at each pixel
%   compares the local coefficient of variation with that of the reference
%   region IMAGE(ROW1:ROW2, COL1:COL2), and returns the natural logarithm of
%   the result. Speckle is smoothed where the image looks like the
%   reference region and edges are kept where it does not.
%
%   Arguments, by position:
%     1 IMAGE       real single-precision M-by-N matrix of log intensities
%                   (for example log of an ultrasound or OCT image). Fewer
%                   than 2^31 elements; not a 3-D array (see below).
%     2 ITERATIONS  number of diffusion steps; a finite number within the
%                   32-bit integer range, truncated toward zero. Zero or
%                   less returns exp/log of IMAGE.
%     3 LAMBDA      time step, used in single precision; 0 < LAMBDA <= 1 is
%                   the useful range (above 1 pixels can turn negative and
%                   come out NaN).
%     4 ROW1        first row of the reference region, 1-based, 1..M
%     5 ROW2        last row of the reference region, 1-based, 1..M
%     6 COL1        first column of the reference region, 1-based, 1..N
%     7 COL2        last column of the reference region, 1-based, 1..N
%                   Bounds are truncated toward zero (13.9 means row 13).
%                   Choose a region of pure speckle, ROW1 <= ROW2 and
%                   COL1 <= COL2; a region with ROW1 > ROW2 or COL1 > COL2
%                   is empty and the result is all NaN.
%     8 PROGRESS    nonzero to show a progress bar ("waitbar") while
%                   filtering; only the low 8 bits of its integer part
%                   count (256 is off, -1 is on, NaN is off).
%   Scalars may be of any real numeric or logical class.
%
%   Result: OUT, a single-precision M-by-N matrix of filtered log
%   intensities. On 64-bit x86 it is the same bit for bit whichever
%   instruction set the processor offers and however many threads share
%   the work, with NaN in the same places (the sign bit of a NaN may
%   differ between the vectorised and the plain paths). The 32-bit Windows
%   build computes in x87 registers and differs from it by rounding.
%
%   IMAGE must hold log intensities, such as single(log(1 + double(img)))
%   of an image img of intensities: the filter exponentiates every pixel in
%   single precision, so a value above about 88.7 overflows and gives NaN,
%   and so does log(0) = -Inf. A 3-D array is refused with
%   TARV_c:imageDimensions; to filter a volume V page by page:
%     out = zeros(size(V), 'single');
%     for p = 1:size(V, 3)
%       out(:,:,p) = TARV_c(V(:,:,p), 20, 0.2, 1, 40, 1, 60, 0);
%     end
%
%   Choosing the parameters:
%     ITERATIONS    more iterations smooth more; tens to a few hundred are
%                   typical.
%     LAMBDA        0 < LAMBDA <= 1; 0.1 to 0.25 is typical. Above 1 pixels
%                   can turn negative, and their logarithm is NaN.
%     ROW1..COL2    the reference region: a homogeneous area of speckle,
%                   with no edges or structure in it. The filter smooths
%                   what varies as the region does and keeps what does not.
%                   A region of one pixel has a variance of exactly 0: then
%                   no pixel changes, except that a pixel equal to its four
%                   neighbours turns NaN, and the NaN spreads to the
%                   neighbours with every further iteration. A flat region
%                   (all its pixels equal) has a variance of 0 or a rounding
%                   residue of 0: the same, or next to no smoothing; in a
%                   flat region of log intensity 0 every pixel turns NaN,
%                   and the NaN spreads over the image. An inverted range
%                   (ROW1 > ROW2 or COL1 > COL2) makes the whole result NaN.
%     PROGRESS      1 shows the progress bar, which is also the way to stop
%                   a long run: closing its window cancels the filter with
%                   the error TARV_c:cancelled.
%
%   Example:
%     img = single(log(1 + 100 * rand(200, 300)));
%     out = TARV_c(img, 20, 0.2, 1, 40, 1, 60, 1);
%     imagesc([img out]); axis image; colormap gray;
%
%   Errors (identifier: cause):
%     TARV_c:nrhs             fewer than 8 inputs
%     TARV_c:nlhs             more than one output requested
%     TARV_c:imageClass       IMAGE not a real, full single-precision array
%     TARV_c:imageSize        IMAGE of 2^31 elements or more
%     TARV_c:imageDimensions  IMAGE of more than two dimensions
%     TARV_c:scalarClass      arguments 2-8 not real numeric or logical
%     TARV_c:emptyArgument    arguments 2-8 empty
%     TARV_c:iterations       ITERATIONS NaN, infinite or beyond 32 bits
%     TARV_c:region           a region bound outside the image
%     TARV_c:outOfMemory      no memory for the scratch planes
%     TARV_c:cancelled        the progress bar failed (its window closed)
%
%   Warnings (identifier: cause):
%     TARV_c:nonFinite        the result holds NaN, or IMAGE holds values
%                             that are not finite or above about 88.7; the
%                             warning says how many pixels, the likely cause
%                             and the fix. Turn it off with
%                             warning('off', 'TARV_c:nonFinite').
%     TARV_c:lambda           LAMBDA NaN, not positive or above 1
%
%   See also BANDSCORE.
