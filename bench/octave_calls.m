## octave_calls (plugin_dir, echo_dir)
## Times whole calls of TARV_c in GNU Octave as a user makes them, on a
## B-scan of 496 x 1024 with 1, 5, 20 and 100 iterations (the fastest of 7
## calls each), and fits the cost of a call as fixed + n * per iteration.
## Beside it, what Octave's own handling of such a call costs: echo_single
## (in echo_dir), a plug-in that only returns an array of the image's size.
## Then a volume of 64 B-scans of 20 iterations in one call against 64
## calls of a page. Run by `make bench`:
##   octave-cli --eval "octave_calls ('build/octave', 'build/octave/bench')"
function octave_calls (plugin_dir, echo_dir)
  addpath (plugin_dir);
  addpath (echo_dir);
  rand ("seed", 1);
  img = single (log (1 + 100 * rand (496, 1024)));
  counts = [1 5 20 100];
  seconds = zeros (size (counts));
  for k = 1:numel (counts)
    seconds(k) = fastest (@() TARV_c (img, counts(k), 0.2, 1, 40, 1, 60, 0), 7);
  endfor
  echo = fastest (@() echo_single (img, 20, 0.2, 1, 40, 1, 60, 0), 21);
  fit = [ones(numel (counts), 1), counts(:)] \ seconds(:);
  printf ("TARV_c in GNU Octave %s on a 496 x 1024 B-scan, fastest call (ms):\n", version ());
  printf ("%-12s %12s\n", "iterations", "whole call");
  printf ("%-12d %12.3f\n", [counts; seconds * 1e3]);
  printf ("fit: fixed %.3f ms, per iteration %.4f ms, fixed / per iteration %.2f\n",
          fit(1) * 1e3, fit(2) * 1e3, fit(1) / fit(2));
  printf ("a plug-in that only returns an array of that size: %.3f ms (%.2f iterations)\n",
          echo * 1e3, echo / fit(2));

  volume = single (log (1 + 100 * rand (496, 1024, 64)));
  pixel_iterations = numel (volume) * 20;
  separate = fastest (@() by_page (volume), 3);
  printf ("496 x 1024 x 64, 20 iterations, ns per pixel-iteration: 64 calls %.3f",
          separate / pixel_iterations * 1e9);
  try
    one_call = fastest (@() TARV_c (volume, 20, 0.2, 1, 40, 1, 60, 0), 3);
    printf (", one call %.3f\n", one_call / pixel_iterations * 1e9);
  catch err
    printf (", one call refused (%s)\n", err.identifier);
  end_try_catch
endfunction

function out = by_page (volume)
  out = zeros (size (volume), "single");
  for p = 1:size (volume, 3)
    out(:, :, p) = TARV_c (volume(:, :, p), 20, 0.2, 1, 40, 1, 60, 0);
  endfor
endfunction

function best = fastest (call, repeats)
  call ();
  best = Inf;
  for k = 1:repeats
    start = tic ();
    call ();
    best = min (best, toc (start));
  endfor
endfunction
