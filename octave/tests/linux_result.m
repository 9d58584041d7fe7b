## Y = linux_result (NAME, ARG1, ARG2, ...)
## The result of the 64-bit Linux build of plug-in NAME called with the
## given arguments through our test host: the arguments go to array files,
## the command-line runner (environment variable MEXRUN) calls
## $LINUX_PLUGINS/NAME.mexa64 on them and writes the result to a file that
## is read back. An error raised by the plug-in becomes an error here with
## the runner's report.
function y = linux_result (name, varargin)
  runner = getenv ("MEXRUN");
  plugin = fullfile (getenv ("LINUX_PLUGINS"), [name ".mexa64"]);
  if (isempty (runner) || ! exist (plugin, "file"))
    error ("linux_result: set MEXRUN and LINUX_PLUGINS (no %s)", plugin);
  endif
  folder = tempname ();
  mkdir (folder);
  unwind_protect
    inputs = cell (1, numel (varargin));
    for k = 1:numel (varargin)
      inputs{k} = fullfile (folder, sprintf ("in%d.mxa", k));
      mxa_write (inputs{k}, varargin{k});
    endfor
    output = fullfile (folder, "out.mxa");
    command = sprintf ("'%s' --quiet '%s' '%s'%s 2>&1", runner, plugin, output,
                       sprintf (" '%s'", inputs{:}));
    [status, report] = system (command);
    if (status != 0)
      error ("linux_result: %s failed (%d): %s", name, status, report);
    endif
    y = mxa_read (output);
  unwind_protect_cleanup
    confirm_recursive_rmdir (false, "local");
    rmdir (folder, "s");
  end_unwind_protect
endfunction
