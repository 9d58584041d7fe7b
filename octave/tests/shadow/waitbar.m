## waitbar (...) as TARV_c sees it in the progress tests: records the
## arguments of every call in the global waitbar_shadow.calls and passes the
## call on to Octave's own waitbar, held in waitbar_shadow.real. With
## waitbar_shadow.close_at = k > 0 it first deletes the bar's figure at the
## k-th update, as a user closing the window would; Octave's waitbar then
## fails on the deleted handle.
function varargout = waitbar (varargin)
  global waitbar_shadow
  ## A handle taken while this folder was on the path would be this file.
  if (strcmp (functions (waitbar_shadow.real).file, [mfilename("fullpath") ".m"]))
    error ("waitbar_shadow.real must be taken before the shadow is on the path");
  endif
  waitbar_shadow.calls{end+1} = varargin;
  updates = numel (waitbar_shadow.calls) - 1;  # the first call opens the bar
  if (nargout == 0 && updates == waitbar_shadow.close_at)
    delete (varargin{2});
  endif
  [varargout{1:nargout}] = waitbar_shadow.real (varargin{:});
endfunction
