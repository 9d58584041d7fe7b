## TARV_c.mex in GNU Octave: results bit for bit those of the Linux build
## on the same inputs, the progress bar through Octave's own waitbar, errors
## with their identifiers, and a progress window closed during a run.
## Run with run_suite ("test_tarv_c").

%!function img = speckle_image (rows, cols, seed)
%!  ## Log intensities of two layers (1 and 4) under 4-look speckle.
%!  rand ("state", seed);
%!  truth = ones (rows, cols);
%!  truth(ceil (rows / 2):end, :) = 4;
%!  img = single (log (truth .* mean (-log (rand (rows, cols, 4)), 3)));
%!endfunction

%!function args = with (args, position, value)
%!  args{position} = value;
%!endfunction

%!function [out, calls, err] = call_with_shadow_waitbar (close_at, varargin)
%!  ## TARV_c (varargin{:}) with tests/shadow/waitbar.m in front of
%!  ## Octave's waitbar; returns its result or its error, and the calls
%!  ## the waitbar saw.
%!  global waitbar_shadow
%!  waitbar_shadow = struct ("real", @waitbar, "close_at", close_at, "calls", {{}});
%!  shadow = fullfile (fileparts (which ("run_suite")), "shadow");
%!  state = warning ("off", "Octave:shadowed-function");
%!  addpath (shadow);
%!  out = [];
%!  err = [];
%!  unwind_protect
%!    try
%!      out = TARV_c (varargin{:});
%!    catch err
%!    end_try_catch
%!  unwind_protect_cleanup
%!    rmpath (shadow);
%!    warning (state);
%!  end_unwind_protect
%!  calls = waitbar_shadow.calls;
%!  clear -global waitbar_shadow
%!endfunction

%!function megabytes = resident_megabytes ()
%!  status = fileread ("/proc/self/status");
%!  megabytes = str2double (regexp (status, 'VmRSS:\s*(\d+)', "tokens", "once"){1}) / 1024;
%!endfunction

%!function n = open_waitbars ()
%!  n = numel (findall (0, "type", "figure", "tag", "waitbar"));
%!endfunction

## Representative calls, each compared with the Linux build's result.
%!test
%! special = single ([0, -0, 1e-40, -1e-40; Inf, -Inf, NaN, 3; 88, -88, 0.5, -2.5]);
%! ## label, image, iterations, lambda, {row1, row2, col1, col2}, progress
%! cases = {
%!   "1x1",              speckle_image(1, 1, 1),    3,   0.2,  {1, 1, 1, 1},    0
%!   "one row",          speckle_image(1, 9, 2),    4,   0.25, {1, 1, 2, 6},    0
%!   "one column",       speckle_image(9, 1, 3),    4,   0.25, {2, 6, 1, 1},    0
%!   "odd size",         speckle_image(37, 23, 4),  10,  0.2,  {1, 10, 1, 20},  0
%!   "progress on",      speckle_image(128, 96, 5), 25,  0.15, {1, 40, 1, 96},  1
%!   "one iteration",    speckle_image(20, 30, 6),  1,   0.2,  {1, 5, 1, 30},   1
%!   "no iteration",     speckle_image(12, 7, 7),   0,   0.2,  {1, 3, 1, 7},    0
%!   "special values",   special,                    2,   0.2,  {1, 3, 1, 4},    0
%!   "inverted region",  speckle_image(10, 10, 8),  2,   0.2,  {5, 2, 1, 10},   0
%!   "large step",       speckle_image(16, 16, 10), 5,   2.5,  {1, 8, 1, 8},    0
%!   "fractions, other classes", speckle_image(15, 16, 9), 2.9, single(0.2), ...
%!                                                   {int8(1), 4.99, uint16(2), 9.5}, true
%!   "flag 256 is off",  speckle_image(8, 8, 11),   3,   0.2,  {1, 4, 1, 4},    256
%! };
%! for k = 1:rows (cases)
%!   [label, img, iterations, lambda, region, progress] = cases{k, :};
%!   args = {img, iterations, lambda, region{:}, progress};
%!   before = typecast (img(:), "uint32");
%!   out = TARV_c (args{:});
%!   assert_same_bits (out, linux_result ("TARV_c", args{:}), label);
%!   assert_same_bits (typecast (img(:), "uint32"), before, [label ": input written"]);
%! endfor
%! assert (open_waitbars (), 0);
%! TARV_c (args{:});  # no output requested: the result still comes back, as ans
%! assert_same_bits (ans, out, "as ans");

## An empty reference region makes every pixel NaN once an iteration runs.
%!test
%! out = TARV_c (speckle_image (10, 10, 8), 1, 0.2, 5, 2, 1, 10, 0);
%! assert (all (isnan (out(:))));

## What Octave's waitbar is shown: opened at 0 with the title, then
## iteration / (iterations - 1) after each iteration (1 for a single one),
## on the handle the opening call returned; closed at the end.
%!test
%! img = speckle_image (24, 18, 12);
%! for iterations = [1, 2, 5]
%!   [out, calls, err] = call_with_shadow_waitbar (0, img, iterations, 0.2, 1, 6, 1, 18, 1);
%!   assert (isempty (err));
%!   assert_same_bits (out, TARV_c (img, iterations, 0.2, 1, 6, 1, 18, 0), "progress on vs off");
%!   assert (calls{1}, {0, "TARV: Diffusing Image"});
%!   shown = cellfun (@(c) c{1}, calls(2:end));
%!   if (iterations == 1)
%!     expected = 1;  # not 0/0: Octave's waitbar rejects NaN
%!   else
%!     expected = (0:iterations-1) / (iterations - 1);
%!   endif
%!   assert_same_bits (shown, expected, "fractions");
%!   handles = cellfun (@(c) c{2}, calls(2:end));
%!   assert (all (handles == handles(1)));
%!   assert (open_waitbars (), 0);
%! endfor

## The progress window closed during the run, after the first, a middle
## and the last iteration: TARV_c stops with TARV_c:cancelled, returns
## nothing, leaves no window, and works normally afterwards.
%!test
%! img = speckle_image (30, 40, 13);
%! for close_at = [1, 3, 6]
%!   [out, calls, err] = call_with_shadow_waitbar (close_at, img, 6, 0.2, 1, 10, 1, 40, 1);
%!   assert (err.identifier, "TARV_c:cancelled");
%!   assert (isempty (out));
%!   assert (numel (calls), close_at + 1);  # no call after the failed one
%!   assert (open_waitbars (), 0);
%! endfor
%! assert_same_bits (TARV_c (img, 6, 0.2, 1, 10, 1, 40, 1),
%!                   linux_result ("TARV_c", img, 6, 0.2, 1, 10, 1, 40, 0), "after cancelling");

## Cancelled calls keep no memory: 30 calls on a 1024 x 1024 image, each
## with 20 MB of scratch planes written before the window closes.
%!test
%! img = speckle_image (1024, 1024, 14);
%! call_with_shadow_waitbar (2, img, 3, 0.2, 1, 100, 1, 1024, 1);  # warm-up
%! before = resident_megabytes ();
%! for k = 1:30
%!   [~, ~, err] = call_with_shadow_waitbar (2, img, 3, 0.2, 1, 100, 1, 1024, 1);
%!   assert (err.identifier, "TARV_c:cancelled");
%! endfor
%! growth = resident_megabytes () - before;
%! assert (growth < 100, sprintf ("resident memory grew by %.0f MB", growth));

## Bad arguments: the identifier, and the message naming the argument.
%!test
%! img = speckle_image (6, 5, 15);
%! ok = {img, 2, 0.2, 1, 3, 1, 4, 0};
%! cases = {
%!   {},                           "TARV_c:nrhs",          "got 0"
%!   ok(1:7),                      "TARV_c:nrhs",          "got 7"
%!   with(ok, 1, double(img)),    "TARV_c:imageClass",    "argument 1 \\(image\\).* was double"
%!   with(ok, 1, complex(img)),   "TARV_c:imageClass",    "was complex single"
%!   with(ok, 1, int16(img)),     "TARV_c:imageClass",    "was int16"
%!   with(ok, 1, img > 0),         "TARV_c:imageClass",    "was logical"
%!   with(ok, 2, "2"),             "TARV_c:scalarClass",   "argument 2 \\(iterations\\).* was char"
%!   with(ok, 3, {0.2}),           "TARV_c:scalarClass",   "argument 3 \\(lambda\\).* was cell"
%!   with(ok, 4, struct()),       "TARV_c:scalarClass",   "argument 4 .* was struct"
%!   with(ok, 8, 1i),              "TARV_c:scalarClass",   "argument 8 \\(progress flag\\).* was complex double"
%!   with(ok, 2, []),              "TARV_c:emptyArgument", "argument 2 \\(iterations\\)"
%!   with(ok, 8, zeros(0, 1)),    "TARV_c:emptyArgument", "argument 8 "
%!   with(ok, 2, [20 30]),         "TARV_c:scalarSize",    "argument 2 \\(iterations\\) must be a scalar, was 1x2"
%!   with(ok, 8, ones(3)),         "TARV_c:scalarSize",    "argument 8 \\(progress flag\\).* was 3x3"
%!   with(ok, 2, NaN),             "TARV_c:iterations",    "argument 2 .* was NaN"
%!   with(ok, 2, -Inf),            "TARV_c:iterations",    "was -Inf"
%!   with(ok, 2, 2^31),            "TARV_c:iterations",    "was 2147483648"
%!   with(ok, 4, 0),               "TARV_c:region",        "argument 4 .* within 1\\.\\.6, was 0"
%!   with(ok, 5, 7),               "TARV_c:region",        "argument 5 .* within 1\\.\\.6, was 7"
%!   with(ok, 6, 0.5),             "TARV_c:region",        "argument 6 .* within 1\\.\\.5"
%!   with(ok, 7, 6),               "TARV_c:region",        "argument 7 .* within 1\\.\\.5, was 6"
%!   with(ok, 5, NaN),             "TARV_c:region",        "argument 5 .* was NaN"
%! };
%! assert_errors (@TARV_c, cases);
%! assert_errors (@TARV_c, {ok, "TARV_c:nlhs", "returns one output, 2 were requested"}, 2);
