## pkg install puts a package's .m files in its own folder and its .mex
## files in an architecture folder below it, which comes first on the path.
## Octave looks for the help of NAME.mex only in NAME.m beside it, so left
## where pkg put them the help files would never be read ("not
## documented"). Each one moves next to its plug-in.
function post_install (desc)
  arch = [__octave_config_info__("canonical_host_type"), "-", ...
          __octave_config_info__("api_version")];
  archdir = fullfile (desc.archprefix, arch);
  for name = {"TARV_c", "bandscore"}
    help_file = fullfile (desc.dir, [name{1} ".m"]);
    if (! exist (fullfile (archdir, [name{1} ".mex"]), "file"))
      error ("post_install: %s.mex is not in %s", name{1}, archdir);
    endif
    [ok, msg] = movefile (help_file, archdir);
    if (! ok)
      error ("post_install: cannot move %s to %s: %s", help_file, archdir, msg);
    endif
  endfor
endfunction
