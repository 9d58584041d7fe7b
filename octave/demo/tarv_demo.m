## tarv_demo (PNG)
## Both plug-ins on a synthetic layered image: a bright band of known
## boundaries under multiplicative speckle is filtered with TARV_c
## (progress bar on), then bandscore scores every pair of candidate
## boundary rows per column and the best pair is taken in each column, on
## the noisy and on the filtered image. Prints the timings and the mean
## error of the detected boundaries against the truth, and writes a
## picture (noisy, filtered, boundaries found) to the file PNG (default:
## tarv_demo.png in the temporary folder). Needs TARV_c and bandscore on
## the path; nothing is downloaded, the image comes from a fixed seed.
## Without a display its figures, the progress bar's included, stay
## invisible: gnuplot, the one toolkit there, would draw them as text.
function tarv_demo (png)
  if (nargin < 1)
    png = fullfile (tempdir (), "tarv_demo.png");
  endif
  headless = ! have_window_system ();
  if (headless)
    warning ("off", "Octave:gnuplot-graphics", "local");
    visible = get (0, "defaultfigurevisible");
    set (0, "defaultfigurevisible", "off");
  endif
  unwind_protect
    run_demo (png);
  unwind_protect_cleanup
    if (headless)
      set (0, "defaultfigurevisible", visible);
    endif
  end_unwind_protect
endfunction

function run_demo (png)
  rows = 256;
  cols = 384;
  thickness = 40;  # rows from the upper to the lower boundary

  ## The truth: a band whose upper boundary (0-based row) waves across the
  ## image, dark tissue above it and medium tissue below.
  x = 0:cols-1;
  top_true = round (105 + 28 * sin (2 * pi * x / cols) + 9 * sin (6 * pi * x / cols + 1));
  bottom_true = top_true + thickness;
  row = (0:rows-1)';
  reflectivity = ones (rows, cols);
  reflectivity(row > bottom_true) = 1.7;
  reflectivity(row >= top_true & row <= bottom_true) = 3;

  ## Fully developed multiplicative speckle: exponentially distributed
  ## intensity of mean 1, from a fixed seed.
  rand ("state", 2024);
  speckle = -log (rand (rows, cols));
  noisy = single (log (reflectivity .* speckle));

  ## The filter, steered by a reference region of pure speckle: rows 1..50
  ## (1-based) lie above the band in every column.
  iterations = 60;
  tic ();
  filtered = TARV_c (noisy, iterations, 0.2, 1, 50, 1, cols, 1);
  filter_seconds = toc ();

  ## Candidate upper boundaries at rows 50..179 and lower ones at 80..229
  ## (0-based); spans of 25..55 rows are admissible, 40 is preferred.
  candidates = struct ("top_offset", 50, "top_count", 130, "bottom_offset", 80, "bottom_count", 150);
  [top_noisy, bottom_noisy] = best_bands (noisy, candidates, thickness);
  tic ();
  [top_found, bottom_found] = best_bands (filtered, candidates, thickness);
  score_seconds = toc ();

  ## A volume of such B-scans, each with speckle of its own, in one call:
  ## every page is filtered as the call on that page alone would filter it.
  pages = 16;
  volume = single (log (reflectivity .* -log (rand (rows, cols, pages))));
  tic ();
  filtered_volume = TARV_c (volume, iterations, 0.2, 1, 50, 1, cols, 0);
  volume_seconds = toc ();
  assert (isequal (filtered_volume(:, :, 1), TARV_c (volume(:, :, 1), iterations, 0.2, 1, 50, 1, cols, 0)));

  error_noisy = mean (abs ([top_noisy - top_true, bottom_noisy - bottom_true]));
  error_found = mean (abs ([top_found - top_true, bottom_found - bottom_true]));
  printf ("TARV_c:    %d x %d image, %d iterations, progress bar on: %.2f s\n",
          rows, cols, iterations, filter_seconds);
  printf ("TARV_c:    a volume of %d such images in one call: %.2f s\n", pages, volume_seconds);
  printf ("bandscore: %d x %d candidate pairs in each of %d columns: %.2f s\n",
          candidates.top_count, candidates.bottom_count, cols, score_seconds);
  printf ("mean boundary error against the truth: %.2f rows on the noisy image, %.2f rows filtered\n",
          error_noisy, error_found);

  draw_picture (png, noisy, filtered, top_true, bottom_true, top_found, bottom_found,
                iterations, error_noisy, error_found);
  printf ("picture: %s\n", png);
endfunction

## The best pair of boundary rows (0-based) in each column of the
## log-intensity image LOGIMG.
function [top, bottom] = best_bands (logimg, candidates, thickness)
  c = ones (1, columns (logimg));
  scores = bandscore (candidates.top_offset, candidates.bottom_offset, double (logimg),
                      thickness * c, 6 * c, candidates.top_count, candidates.bottom_count,
                      0.5, 25 * c, 55 * c);
  [~, best] = max (reshape (scores, [], columns (logimg)));
  [a, b] = ind2sub ([candidates.top_count, candidates.bottom_count], best);
  top = candidates.top_offset + a - 1;
  bottom = candidates.bottom_offset + b - 1;
endfunction

function draw_picture (png, noisy, filtered, top_true, bottom_true, top_found,
                       bottom_found, iterations, error_noisy, error_found)
  figure_handle = figure ("position", [0, 0, 1500, 410], "color", "w");
  unwind_protect
    ## The same grey scale for all three: the 0.5 % and 99.5 % points of the
    ## noisy image (log speckle has a long tail of dark pixels).
    sorted = sort (double (noisy(:)));
    limits = sorted(round ([0.005, 0.995] * numel (sorted)));
    panels = {noisy, "noisy log image: a band under speckle"
              filtered, sprintf("filtered by TARV_c, %d iterations", iterations)
              filtered, "boundaries found by bandscore (red), true (green)"};
    x = 1:columns (noisy);
    for k = 1:3
      axes ("position", [0.01 + 0.33 * (k - 1), 0.08, 0.31, 0.80]);
      imagesc (panels{k, 1}, limits);
      colormap (gray (256));
      axis ("image", "off");
      title (panels{k, 2}, "interpreter", "none", "fontsize", 11);
      if (k == 3)
        ## Rows are 0-based in bandscore, 1-based on screen.
        hold ("on");
        for boundary = {top_found, bottom_found}
          plot (x, boundary{1} + 1, "r-", "linewidth", 2.5);
        endfor
        for boundary = {top_true, bottom_true}
          plot (x, boundary{1} + 1, "g-", "linewidth", 1);
        endfor
        hold ("off");
        text (numel (x) / 2, rows (noisy) + 14,
              sprintf ("mean error %.2f rows (%.2f on the noisy image)", error_found, error_noisy),
              "horizontalalignment", "center", "interpreter", "none", "fontsize", 11);
      endif
    endfor
    if (strcmp (graphics_toolkit (figure_handle), "gnuplot"))
      ## gnuplot writes PNG itself; Ghostscript is not needed for it.
      warning ("off", "print:nogs", "local");
      print (figure_handle, "-dpngcairo", png);
    else
      print (figure_handle, "-dpng", png);
    endif
  unwind_protect_cleanup
    close (figure_handle);
  end_unwind_protect
endfunction
