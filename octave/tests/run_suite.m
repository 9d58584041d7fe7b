## run_suite (NAME)
## Runs the test blocks of NAME.m headless, prints each failure and a
## summary line, and exits octave-cli with status 0 only if all passed.
function run_suite (name)
  headless_graphics ();
  [passed, total] = test (name, "quiet", stdout);
  printf ("%s: %d of %d tests passed\n", name, passed, total);
  exit (! (total > 0 && passed == total));
endfunction
