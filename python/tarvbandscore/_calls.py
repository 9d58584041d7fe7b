"""One call into the library as Python sees it: Ctrl-C, the progress display
and how the call ended.

The library asks its callbacks on the calling thread, with none of its own
threads at work, every few milliseconds (the interrupt question) and after
every step (the progress). Python runs a signal's handler only on the main
thread and only between bytecodes, so during a call on the main thread
whose SIGINT handler is Python's default, a handler of ours that only
notes the signal stands in; the interrupt question, being Python code,
gives it the chance to run and returns what it noted. Elsewhere (another
thread, a handler of the program's own) the call runs to its end and the
signal is handled after it, as for any long call into a C library."""
from __future__ import annotations

import ctypes
import signal
import sys
import threading
import time
from typing import Any, Optional

from . import _library


class CoreCall:
    """A context for one library call: `callbacks` to pass it, `end(status)`
    after it, which raises KeyboardInterrupt, MemoryError or an exception a
    progress display raised, in that order."""

    def __init__(self, function: str, progress: bool = False) -> None:
        self._function = function
        self._interrupted = False
        self._error: Optional[BaseException] = None
        self._previous_handler: Any = None
        self._handler_installed = False
        self._display: Optional[_ProgressDisplay] = None
        if progress:
            self._display = _ProgressDisplay(function)
        self._pending = _library.InterruptPending(self._interrupt_pending)
        self._begin = _library.ProgressBegin(self._progress_begin)
        self._advance = _library.ProgressAdvance(self._progress_advance)
        self._callbacks = _library.Callbacks()

    def __enter__(self) -> CoreCall:
        if (threading.current_thread() is threading.main_thread()
                and signal.getsignal(signal.SIGINT) is signal.default_int_handler):
            self._previous_handler = signal.signal(signal.SIGINT, self._note_interrupt)
            self._handler_installed = True
            self._callbacks.interrupt_pending = self._pending
        if self._display is not None:
            self._callbacks.progress_begin = self._begin
            self._callbacks.progress_advance = self._advance
        return self

    def __exit__(self, *exception: object) -> None:
        if self._display is not None:
            self._display.close()
        if self._handler_installed:
            signal.signal(signal.SIGINT, self._previous_handler)
            self._handler_installed = False
        # The callbacks hold this object's methods: let it go without a
        # collection of cycles.
        self._callbacks = self._pending = self._begin = self._advance = None

    @property
    def callbacks(self) -> Any:
        return ctypes.byref(self._callbacks)

    def end(self, status: int) -> None:
        """Raises for every end of the call but a completed one, and for a
        Ctrl-C noted while it ran even where it completed."""
        if self._interrupted:
            raise KeyboardInterrupt
        if self._error is not None:
            raise self._error
        if status == _library.OUT_OF_MEMORY:
            raise MemoryError(f"{self._function}: out of memory for its scratch planes")
        if status != _library.COMPLETED:
            raise RuntimeError(f"{self._function}: the library refused the call (status "
                               f"{status}) after the package's own checks passed")

    def _note_interrupt(self, signum: int, frame: object) -> None:
        self._interrupted = True

    def _interrupt_pending(self, context: object) -> int:
        return 1 if self._interrupted else 0

    # A progress display that fails stops the call; its exception is raised
    # after it, since an exception cannot cross the library.
    def _progress_begin(self, context: object) -> int:
        return self._progress(lambda display: display.begin())

    def _progress_advance(self, context: object, step: int, steps: int) -> int:
        return self._progress(lambda display: display.advance(step, steps))

    def _progress(self, action: Any) -> int:
        if self._interrupted or self._error is not None:
            return 0
        try:
            action(self._display)
        except BaseException as error:
            self._error = error
            return 0
        return 0 if self._interrupted else 1


class _ProgressDisplay:
    """A tqdm bar where tqdm is installed, else a line on standard error
    written afresh at every whole percent."""

    def __init__(self, function: str) -> None:
        self._function = function
        self._bar: Any = None
        self._shown = -1
        self._line = False
        self._start = time.monotonic()

    def begin(self) -> None:
        self._start = time.monotonic()

    def advance(self, step: int, steps: int) -> None:
        if self._bar is None and not self._line:
            try:
                from tqdm import tqdm
            except ImportError:
                self._line = True
            else:
                self._bar = tqdm(total=steps, desc=self._function, unit="step")
        if self._bar is not None:
            self._bar.update(step + 1 - self._bar.n)
            return
        percent = (step + 1) * 100 // steps
        if percent != self._shown:
            self._shown = percent
            seconds = time.monotonic() - self._start
            sys.stderr.write(f"\r{self._function}: {percent:3d} % ({step + 1} of {steps} "
                             f"steps, {seconds:.1f} s)")
            sys.stderr.flush()

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
        elif self._shown >= 0:
            sys.stderr.write("\n")
            sys.stderr.flush()
