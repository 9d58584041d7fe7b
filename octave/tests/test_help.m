## `help TARV_c` and `help bandscore` in GNU Octave: the help files beside
## the .mex files are found and hold the usage line, every argument by
## position, the result, an example that runs, and exactly the error and
## warning identifiers the plug-in's source raises. `test` and `demo` find
## the test and demo blocks below each help text, which `help` does not
## show and MATLAB reads as comments only; `demo` in a terminal writes its
## picture to a file. Also the command-line runner's help and the
## array-file document it points to. Run with run_suite ("test_help").

%!function root = project_root ()
%!  root = fileparts (fileparts (fileparts (which ("run_suite"))));
%!endfunction

%!function [errors, warnings] = raised_identifiers (name, sources)
%!  ## The "NAME:reason" identifiers written in the given source files:
%!  ## those passed to raise_warning are warnings, all others errors.
%!  written = {};
%!  warnings = {};
%!  for k = 1:numel (sources)
%!    text = fileread (fullfile (project_root (), sources{k}));
%!    written = [written, regexp(text, ['"(' name ':\w+)"'], "tokens"){:}];
%!    warnings = [warnings, regexp(text, ['raise_warning\s*\(\s*"(' name ':\w+)"'], "tokens"){:}];
%!  endfor
%!  warnings = unique (warnings);
%!  errors = setdiff (unique (written), warnings);
%!endfunction

%!function ids = listed_identifiers (text, name, heading)
%!  ## The identifiers that begin the lines of the list under HEADING
%!  ## ("Errors", "Warnings"), which ends at the next empty line.
%!  list = regexp (text, [heading ' \(identifier: cause\):\n(.*?)(\n\s*\n|$)'], "tokens", "once");
%!  ids = {};
%!  if (! isempty (list))
%!    ids = unique ([regexp(list{1}, ['^\s+(' name ':\w+)\s'], "tokens", "lineanchors"){:}]);
%!  endif
%!endfunction

%!function example = help_example (text)
%!  ## The lines after "Example:" up to the next empty line.
%!  example = regexp (text, 'Example:\n(.*?)\n\s*\n', "tokens", "once"){1};
%!endfunction

%!function assert_same_set (found, expected, what)
%!  assert (isempty (setxor (found, expected)),
%!          sprintf ("%s: missing %s; not expected %s", what, strjoin (setdiff (expected, found), ", "),
%!                   strjoin (setdiff (found, expected), ", ")));
%!endfunction

%!test
%! ## name, arguments, source files
%! cases = {
%!   "TARV_c",    8,  {"mex/TARV_c.cpp", "mex/progress_bar.cpp"}
%!   "bandscore", 10, {"mex/bandscore.cpp"}
%! };
%! for k = 1:rows (cases)
%!   [name, arguments, sources] = cases{k, :};
%!   [folder, ~, extension] = fileparts (which (name));
%!   assert (extension, ".mex");
%!   assert (exist (fullfile (folder, [name ".m"]), "file") == 2, [name ".m beside the .mex"]);
%!
%!   text = help (name);
%!   assert (regexp (text, ['^\s*' upper(name) ' \S'], "once") == 1, [name ": summary line"]);
%!   assert (! isempty (regexp (text, ['\w+ = ' upper(name) '\(\w+,'], "once")), [name ": usage"]);
%!   for position = 1:arguments
%!     assert (! isempty (regexp (text, ['\n\s+' num2str(position) ' [A-Z][A-Z0-9_]*\s'], "once")),
%!             sprintf ("%s: argument %d", name, position));
%!   endfor
%!   for heading = {"Arguments, by position", "Result:", "Example:", "Errors (identifier: cause):"}
%!     assert (! isempty (strfind (text, heading{1})), [name ": " heading{1}]);
%!   endfor
%!   ## The test and demo blocks below the help text stay out of it.
%!   assert (isempty (regexp (text, '%!|^\s*!', "once", "lineanchors")),
%!           [name ": test or demo blocks in the help text"]);
%!   ## As MATLAB reads the file: every line a comment or empty, its help
%!   ## (the first block of comment lines) without the Octave blocks, which
%!   ## a line introduces after it.
%!   lines = strsplit (fileread (fullfile (folder, [name ".m"])), "\n", "collapsedelimiters", false);
%!   assert (all (cellfun (@(line) isempty (line) || line(1) == "%", lines)),
%!           [name ".m: a line MATLAB does not read as a comment"]);
%!   block_end = find (cellfun (@isempty, lines), 1);
%!   assert (! any (strncmp (lines(1:block_end), "%!", 2)), [name ".m: Octave blocks in MATLAB's help"]);
%!   assert (strncmp (lines{block_end + 1}, "% Tests and demos for GNU Octave", 32),
%!           [name ".m: no line introducing the Octave blocks"]);
%!
%!   ## Each identifier raised is listed under its heading, and the text
%!   ## mentions no other.
%!   [errors, warnings] = raised_identifiers (name, sources);
%!   assert (numel (errors) > 4);
%!   assert_same_set (listed_identifiers (text, name, "Errors"), errors, [name " errors"]);
%!   assert_same_set (listed_identifiers (text, name, "Warnings"), warnings, [name " warnings"]);
%!   stale = setdiff (regexp (text, [name ':\w+'], "match"), [errors, warnings]);
%!   assert (isempty (stale), [name ": mentioned but not raised: " strjoin(stale, ", ")]);
%! endfor

## The examples run as written and give results of the documented size.
%!test
%! rand ("state", 2);
%! eval (help_example (help ("TARV_c")));
%! assert (class (out), "single");
%! assert (size (out), size (img));
%! assert (all (isfinite (out(:))));
%! close all;
%!test
%! rand ("state", 3);
%! eval (help_example (help ("bandscore")));
%! assert (size (S), [40, 40, C]);
%! ## The bright rows 40:70 are rows 39..69 counted from 0.
%! assert (all (abs (top - 39) <= 5) && all (abs (bottom - 69) <= 5));

## `test NAME` runs the test blocks of the help file and they pass.
%!test
%! for name = {"TARV_c", "bandscore"}
%!   [passed, total] = test (name{1}, "quiet");
%!   assert (total >= 3 && passed == total,
%!           sprintf ("test %s: %d of %d passed", name{1}, passed, total));
%! endfor

## `demo NAME` as a user runs it in a terminal without a display, in an
## octave-cli set up for nothing: each demo writes its picture to a file in
## the temporary folder and prints the file's name, with no text-mode plot
## and no warning; all else it prints is its code and its results.
%!test
%! folder = fileparts (which ("TARV_c"));
%! temporary = tempname ();
%! mkdir (temporary);
%! unwind_protect
%!   [status, output] = system (sprintf (["TMPDIR='%s' '%s' --norc --no-history --quiet " ...
%!                                        "--no-window-system --path '%s' " ...
%!                                        "--eval 'demo TARV_c; demo bandscore' 2>&1"],
%!                                       temporary, fullfile (OCTAVE_HOME (), "bin", "octave-cli"),
%!                                       folder));
%!   assert (status == 0, "demo failed:\n%s", output);
%!   code = [strsplit(test ("TARV_c", "grabdemo"), "\n"), strsplit(test ("bandscore", "grabdemo"), "\n")];
%!   lines = strsplit (output, "\n");
%!   printed = lines(! ismember (lines, code) & ! cellfun (@isempty, lines));
%!   assert (numel (printed) <= 6 && ! any (strncmp (printed, "warning", 7)),
%!           "demo printed more than its code and results:\n%s", output);
%!   for name = {"TARV_c", "bandscore"}
%!     png = fullfile (temporary, [name{1} "_demo.png"]);
%!     assert (any (strcmp (printed, ["picture: " png])), ["demo " name{1} " names no picture"]);
%!     fid = fopen (png, "r");
%!     assert (fid >= 0, ["demo " name{1} " wrote no " png]);
%!     signature = fread (fid, 8, "uint8=>uint8")';
%!     fclose (fid);
%!     assert (signature, uint8 ([137, 80, 78, 71, 13, 10, 26, 10]));
%!   endfor
%! unwind_protect_cleanup
%!   confirm_recursive_rmdir (false, "local");
%!   rmdir (temporary, "s");
%! end_unwind_protect

## The command-line runner's help exits with 0, summarises the array-file
## layout and names the document that describes it, which exists; a bad
## call shows the same on standard error and exits with 2.
%!test
%! runner = getenv ("MEXRUN");
%! assert (exist (fullfile (project_root (), "docs", "array-files.md"), "file") == 2);
%! ## arguments, exit status
%! cases = {"--help", 0; "--bad-option", 2; "just-one-argument", 2};
%! for k = 1:rows (cases)
%!   [status, output] = system (sprintf ("'%s' %s 2>&1", runner, cases{k, 1}));
%!   assert (status == cases{k, 2}, sprintf ("mexrun %s: exit status %d", cases{k, 1}, status));
%!   for expected = {"usage: mexrun", "\"MXA1\"", "uint32 class code", "uint64 dimensions", ...
%!                   "docs/array-files.md"}
%!     assert (! isempty (strfind (output, expected{1})),
%!             sprintf ("mexrun %s: no '%s' in %s", cases{k, 1}, expected{1}, output));
%!   endfor
%! endfor

## The example of docs/array-files.md is the file mxa_write writes for it,
## byte for byte.
%!test
%! text = fileread (fullfile (project_root (), "docs", "array-files.md"));
%! dump = regexp (text, '^[0-9a-f]{8}: ((?:[0-9a-f]{4} ?)+)', "tokens", "lineanchors");
%! assert (numel (dump) >= 1, "no hex dump in docs/array-files.md");
%! hex = regexprep (strjoin ([dump{:}], ""), '\s', '');
%! documented = uint8 (hex2dec (reshape (hex, 2, [])'))';
%! file = [tempname() ".mxa"];
%! unwind_protect
%!   mxa_write (file, single ([1 2 3; 4 5 6]));
%!   fid = fopen (file, "r");
%!   written = fread (fid, Inf, "uint8=>uint8")';
%!   fclose (fid);
%! unwind_protect_cleanup
%!   delete (file);
%! end_unwind_protect
%! assert (written, documented);
