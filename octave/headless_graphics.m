## headless_graphics ()
## Prepares octave-cli without a display for figures: new figures stay
## invisible, so a waitbar draws nothing and prints no text-mode bar, and
## the note that gnuplot, the only toolkit without a display, is
## discouraged is switched off. Figures can still be printed to files.
function headless_graphics ()
  warning ("off", "Octave:gnuplot-graphics");
  set (0, "defaultfigurevisible", "off");
endfunction
