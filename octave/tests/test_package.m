## The Octave package (environment variable OCTAVE_PACKAGE names the
## tarball): `pkg install` into a temporary prefix builds it, its
## description names the licence and it carries the project's COPYING,
## `help`, `test` and `demo` find each help file beside its .mex, and both
## functions give the Linux builds' results. Run with
## run_suite ("test_package"), without the build's plug-ins on the path.

%!test
%! tarball = getenv ("OCTAVE_PACKAGE");
%! assert (exist (tarball, "file") == 2, ["no package at '" tarball "'"]);
%! prefix = tempname ();
%! mkdir (prefix);
%! unwind_protect
%!   ## Nothing of the user's or the system's package lists is touched.
%!   pkg ("prefix", prefix, prefix);
%!   pkg ("local_list", fullfile (prefix, "local_packages"));
%!   pkg ("global_list", fullfile (prefix, "global_packages"));
%!   pkg ("install", "-local", tarball);
%!   pkg ("load", "tarvbandscore");
%!
%!   installed = pkg ("list");
%!   installed = installed{cellfun (@(p) strcmp (p.name, "tarvbandscore"), installed)};
%!   assert (installed.license, "BSD-3-Clause");
%!   root = fileparts (fileparts (fileparts (which ("run_suite"))));
%!   assert (fileread (fullfile (installed.dir, "packinfo", "COPYING")),
%!           fileread (fullfile (root, "COPYING")));
%!
%!   for name = {"TARV_c", "bandscore"}
%!     [folder, ~, extension] = fileparts (which (name{1}));
%!     assert (extension, ".mex");
%!     assert (strncmp (folder, prefix, numel (prefix)), [name{1} " from the package"]);
%!     text = help (name{1});
%!     assert (strncmp (strtrim (text), upper (name{1}), numel (name{1})), [name{1} ": help"]);
%!     ## test and demo read the help file they find on the path: the one
%!     ## post_install put beside the .mex.
%!     assert (fileparts (file_in_loadpath ([name{1} ".m"])), folder);
%!     [passed, total] = test (name{1}, "quiet");
%!     assert (total >= 3 && passed == total,
%!             sprintf ("test %s: %d of %d passed", name{1}, passed, total));
%!     [~, demo_starts] = test (name{1}, "grabdemo");
%!     assert (numel (demo_starts) >= 2, ["no demo of " name{1}]);
%!   endfor
%!
%!   rand ("state", 31);
%!   img = single (log (mean (-log (rand (40, 30, 4)), 3)));
%!   args = {img, 8, 0.2, 1, 10, 1, 30, 0};
%!   assert_same_bits (TARV_c (args{:}), linux_result ("TARV_c", args{:}), "TARV_c");
%!   c = ones (1, 30);
%!   args = {2, 12, double(img), 10 * c, 3 * c, 9, 9, 0.5, 5 * c, 15 * c};
%!   assert_same_bits (bandscore (args{:}), linux_result ("bandscore", args{:}), "bandscore");
%! unwind_protect_cleanup
%!   pkg ("unload", "tarvbandscore");
%!   confirm_recursive_rmdir (false, "local");
%!   rmdir (prefix, "s");
%! end_unwind_protect
