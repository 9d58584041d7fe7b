## assert_errors (FCN, CASES)
## assert_errors (FCN, CASES, OUTPUTS)
## For each row {ARGS, IDENTIFIER, PATTERN} of the cell array CASES, calls
## FCN (ARGS{:}) asking for OUTPUTS results (default 1) and fails unless it
## raises an error with identifier IDENTIFIER whose message matches the
## regular expression PATTERN. The failure names the row.
function assert_errors (fcn, cases, outputs)
  if (nargin < 3)
    outputs = 1;
  endif
  results = cell (1, outputs);
  for k = 1:rows (cases)
    [args, identifier, pattern] = cases{k, :};
    raised = false;
    try
      [results{:}] = fcn (args{:});
    catch err
      raised = true;
    end_try_catch
    if (! raised)
      error ("case %d: no error, expected %s", k, identifier);
    endif
    if (! strcmp (err.identifier, identifier))
      error ("case %d: identifier '%s', expected %s (%s)", k, err.identifier, identifier,
             err.message);
    endif
    if (isempty (regexp (err.message, pattern, "once")))
      error ("case %d: message '%s' lacks /%s/", k, err.message, pattern);
    endif
  endfor
endfunction
