## bandscore.mex in GNU Octave: results bit for bit those of the Linux
## build on the same inputs, one result against a plain loop, and errors
## with their identifiers. Run with run_suite ("test_bandscore").

%!function args = band_args (image, top_offset, bottom_offset, top_count, bottom_count, limits)
%!  ## The ten arguments for IMAGE, with span_mean 10, span_sd 3 and
%!  ## prior_weight 0.5 in every column and LIMITS = [span_min, span_max].
%!  c = ones (1, size (image, 2));
%!  args = {top_offset, bottom_offset, image, 10 * c, 3 * c, top_count, bottom_count, ...
%!          0.5, limits(1) * c, limits(2) * c};
%!endfunction

%!function args = with (args, position, value)
%!  args{position} = value;
%!endfunction

## Representative calls, each compared with the Linux build's result.
%!test
%! rand ("state", 21);
%! img = rand (60, 17);
%! special = img;
%! special([5, 30, 44], [2, 9, 16]) = [NaN, Inf, -Inf; -0, 1e-310, -1e300; 0, NaN, 7];
%! ## label, arguments
%! cases = {
%!   "three by three",     band_args(img, 10, 20, 3, 3, [9, 11])
%!   "fractional offsets", band_args(img, 4.7, 9.2, 12, 15, [0, 20])
%!   "offset -0.5",        band_args(img, -0.5, 3, 6, 8, [-5, 5])
%!   "negative spans",     band_args(img, 10, 6, 5, 5, [-4, 4])
%!   "NaN limits",         band_args(img, 2, 12, 9, 9, [NaN, 14])
%!   "both limits NaN",    band_args(img, 2, 12, 9, 9, [NaN, NaN])
%!   "special pixels",     band_args(special, 0, 5, 30, 30, [0, 40])
%!   "no top candidate",   band_args(img, 1, 8, 0, 10, [3, 12])
%!   "fractional counts",  band_args(img, 1, 8, 4.9, 3.2, [3, 12])
%!   "one column",         band_args(img(:, 1), 0, 0, 40, 20, [-100, 100])
%! };
%! cases{end+1, 1} = "zero sd";
%! cases{end, 2} = with (band_args (img, 5, 10, 6, 6, [0, 20]), 5, zeros (1, 17));
%! cases{end+1, 1} = "per-column values";
%! cases{end, 2} = {3, 12, img, 1:17, 0.5 + (1:17) / 4, 8, 9, -2, (1:17) / 3, 18 - (1:17) / 2};
%! for k = 1:rows (cases)
%!   [label, args] = cases{k, :};
%!   before = cellfun (@(a) typecast (a(:), "uint64"), args, "uniformoutput", false);
%!   out = bandscore (args{:});
%!   assert_same_bits (out, linux_result ("bandscore", args{:}), label);
%!   after = cellfun (@(a) typecast (a(:), "uint64"), args, "uniformoutput", false);
%!   assert (isequal (after, before), [label ": input written"]);
%! endfor
%! bandscore (args{:});  # no output requested: the result still comes back, as ans
%! assert_same_bits (ans, out, "as ans");

## Tops 10..12 and bottoms 20..22 with admissible spans 9..11, against a
## plain loop: the mean of rows top..bottom plus the weighted Gaussian.
%!test
%! rand ("state", 22);
%! img = rand (30, 4);
%! args = band_args (img, 10, 20, 3, 3, [9, 11]);
%! out = bandscore (args{:});
%! assert (size (out), [3, 3, 4]);
%! for c = 1:4
%!   for a = 0:2
%!     for b = 0:2
%!       top = 10 + a;
%!       bottom = 20 + b;
%!       span = bottom - top;
%!       if (span < 9 || span > 11)
%!         expected = -999999;
%!       else
%!         total = 0;
%!         for r = top:bottom
%!           total += img(r + 1, c);
%!         endfor
%!         z = (span - 10) / 3;
%!         expected = exp (z * z * -0.5) * 0.5 + total / (span + 1);
%!       endif
%!       assert_same_bits (out(a + 1, b + 1, c), expected, sprintf ("cell (%d, %d, %d)", a, b, c - 1));
%!     endfor
%!   endfor
%! endfor

## Bad arguments: the identifier, and the message naming the argument.
%!test
%! img = rand (40, 6);
%! ok = band_args (img, 5, 15, 5, 5, [5, 15]);
%! cases = {
%!   {},                               "bandscore:nrhs",          "got 0"
%!   ok(1:9),                          "bandscore:nrhs",          "got 9"
%!   with(ok, 3, single(img)),         "bandscore:argumentClass", "argument 3 \\(image\\).* was single; .* as double\\(out\\)"
%!   with(ok, 3, cat(3, img, -img)),   "bandscore:imageDimensions", "argument 3 \\(image\\) must be a matrix, was 40x6x2"
%!   with(ok, 6, int32(5)),            "bandscore:argumentClass", "argument 6 \\(top_count\\).* was int32"
%!   with(ok, 8, true),                "bandscore:argumentClass", "argument 8 \\(prior_weight\\).* was logical"
%!   with(ok, 4, complex(ok{4})),      "bandscore:argumentClass", "argument 4 \\(span_mean\\).* was complex double"
%!   with(ok, 10, sparse(ok{10})),     "bandscore:argumentClass", "argument 10 \\(span_max\\).* was sparse double"
%!   with(ok, 1, []),                  "bandscore:emptyArgument", "argument 1 \\(top_offset\\)"
%!   with(ok, 7, zeros(0, 1)),         "bandscore:emptyArgument", "argument 7 \\(bottom_count\\)"
%!   with(ok, 8, [0.5 1]),             "bandscore:scalarSize",    "argument 8 \\(prior_weight\\) must be a scalar, was 1x2"
%!   with(ok, 6, NaN),                 "bandscore:count",         "argument 6 \\(top_count\\)"
%!   with(ok, 7, -1),                  "bandscore:count",         "argument 7 \\(bottom_count\\).* was -1"
%!   with(ok, 6, 2^31),                "bandscore:count",         "argument 6 "
%!   with(with(ok, 6, 2^16), 7, 2^16), "bandscore:resultSize",    "65536 x 65536 x 6"
%!   with(ok, 5, ones(1, 5)),          "bandscore:columnCount",   "argument 5 \\(span_sd\\).* 6 columns, has 5"
%!   with(ok, 9, []),                  "bandscore:columnCount",   "argument 9 \\(span_min\\)"
%!   with(ok, 1, 3e9),                 "bandscore:offset",        "arguments 1 and 2"
%!   with(ok, 2, -3e9),                "bandscore:offset",        "arguments 1 and 2"
%!   with(with(ok, 2, 36), 10, 40 * ones(1, 6)), "bandscore:rowRange", "bottom row 40 .* rows 0\\.\\.39"
%!   with(with(ok, 1, -1), 10, 20 * ones(1, 6)), "bandscore:rowRange", "top row -1 "
%! };
%! assert_errors (@bandscore, cases);
%! assert_errors (@bandscore, {ok, "bandscore:nlhs", "returns one output, 2 were requested"}, 2);
