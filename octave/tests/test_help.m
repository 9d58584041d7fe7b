## `help TARV_c` and `help bandscore` in GNU Octave: the help files beside
## the .mex files are found and hold the usage line, every argument by
## position, the result, an example that runs, and exactly the error and
## warning identifiers the plug-in's source raises. `test` and `demo` find
## the test and demo blocks below each help text, which `help` does not
## show. Also the command-line runner's help and the array-file document it
## points to. Run with run_suite ("test_help").

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
%! assert (abs ((20 + a - 1) - 39) <= 5);
%! assert (abs ((50 + b - 1) - 69) <= 5);

## `test NAME` runs the test blocks of the help file and they pass; `demo
## NAME` runs its demos without a display, each drawing into an invisible
## figure, which is closed afterwards.
%!test
%! for name = {"TARV_c", "bandscore"}
%!   [passed, total] = test (name{1}, "quiet");
%!   assert (total >= 3 && passed == total,
%!           sprintf ("test %s: %d of %d passed", name{1}, passed, total));
%!   [~, demo_starts] = test (name{1}, "grabdemo");
%!   assert (numel (demo_starts) >= 2, ["no demo of " name{1}]);
%!   close all;
%!   unwind_protect
%!     output = evalc (sprintf ('demo ("%s")', name{1}));
%!     assert (isempty (regexp (output, 'example \d+: failed', "once")),
%!             sprintf ("demo %s: %s", name{1}, output));
%!     figures = findall (0, "type", "figure");
%!     assert (numel (figures) >= 1, ["demo " name{1} " drew nothing"]);
%!     assert (all (strcmp (get (figures, "visible"), "off")), ["demo " name{1} ": a visible figure"]);
%!   unwind_protect_cleanup
%!     close all;
%!   end_unwind_protect
%! endfor

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
