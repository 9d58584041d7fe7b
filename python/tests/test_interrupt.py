"""Ctrl-C during a long call: the test sends SIGINT to its own process, as a
terminal does, while a call that would run for minutes computes. The call
ends in KeyboardInterrupt and leaves no thread and no memory behind; the
GIL is free while a call computes. The time from the signal to the
exception is printed, not asserted."""
from __future__ import annotations

import ctypes
import os
import signal
import threading
import time
import unittest

import numpy as np

import support
from tarvbandscore import band_score, tarv_filter

BSCAN = support.log_speckle((496, 1024), seed=1)
VOLUME = support.log_speckle((64, 64, 40), seed=2)
# Every top sums some 45000 rows before its first bottom: a tenth of a
# second or more per column, and there are 64 of them.
TALL = support.log_speckle((50000, 64), seed=3).astype(np.float64)
FOREVER = 10**7  # iterations

LONG_CALLS = [
    ("filter", lambda: tarv_filter(BSCAN, FOREVER, 0.2, (0, 40, 0, 1024))),
    ("filter on one thread", lambda: tarv_filter(BSCAN, FOREVER, 0.2, (0, 40, 0, 1024),
                                                 threads=1)),
    ("filter with its progress shown", lambda: tarv_filter(BSCAN, FOREVER, 0.2,
                                                           (0, 40, 0, 1024), progress=True)),
    ("filter of a volume", lambda: tarv_filter(VOLUME, FOREVER, 0.2, (0, 10, 0, 64))),
    ("scorer", lambda: band_score(0, 45000, TALL, np.full(64, 45000.0), np.full(64, 100.0),
                                  4000, 2, 1.0, np.zeros(64), np.full(64, np.inf))),
]


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks",
                 "uordblks", "fordblks", "keepcost")]


_libc = ctypes.CDLL(None)
_libc.mallinfo2.restype = _MallInfo2


def bytes_in_use() -> int:
    """What the C library's heap has handed out and not had back."""
    info = _libc.mallinfo2()
    return info.uordblks + info.hblkhd


def native_threads_beyond_pythons() -> int:
    """The process's threads that are not Python's own threads: a thread
    a call left behind is counted here; a Python thread (tqdm's monitor)
    is not."""
    return len(os.listdir("/proc/self/task")) - threading.active_count()


def interrupted(call) -> float:
    """Runs `call` with SIGINT sent to this process 0.3 s into it; the
    seconds from the signal to KeyboardInterrupt, or an AssertionError
    where the call ended otherwise."""
    sent = []
    timer = threading.Timer(0.3, lambda: (sent.append(time.monotonic()),
                                          os.kill(os.getpid(), signal.SIGINT)))
    timer.start()
    try:
        call()
    except KeyboardInterrupt:
        raised = time.monotonic()
    else:
        raise AssertionError("the call ended without KeyboardInterrupt")
    finally:
        timer.join()
    return raised - sent[0]


class CtrlC(unittest.TestCase):
    def test_raises_keyboard_interrupt_and_leaves_nothing_behind(self):
        # The progress display's first call imports tqdm, which holds on to
        # memory of its own.
        tarv_filter(BSCAN[:8, :8], 2, 0.2, (0, 8, 0, 8), progress=True)
        for what, call in LONG_CALLS:
            with self.subTest(what):
                threads = native_threads_beyond_pythons()
                memory = bytes_in_use()
                seconds = interrupted(call)
                print(f"{what}: KeyboardInterrupt {seconds:.3f} s after SIGINT")
                self.assertEqual(native_threads_beyond_pythons(), threads)
                self.assertIs(signal.getsignal(signal.SIGINT), signal.default_int_handler)
                # The scratch planes are the first to be missed; the result
                # (2 MB for the B-scan) is NumPy's and freed with it.
                self.assertLess(bytes_in_use() - memory, 64 * 1024)

    def test_a_programs_own_handler_runs_after_the_call(self):
        signals = []
        signal.signal(signal.SIGINT, lambda number, frame: signals.append(number))
        try:
            timer = threading.Timer(0.1, os.kill, (os.getpid(), signal.SIGINT))
            timer.start()
            result = tarv_filter(BSCAN, 300, 0.2, (0, 40, 0, 1024), threads=1)
            timer.join()
            time.sleep(0.01)  # bytecode to run the handler at, had it not run yet
        finally:
            signal.signal(signal.SIGINT, signal.default_int_handler)
        self.assertEqual(result.shape, BSCAN.shape)
        self.assertEqual(signals, [signal.SIGINT])


class Gil(unittest.TestCase):
    def test_is_released_while_a_call_computes(self):
        """A call on another thread, which asks nothing of Python while it
        runs: this thread runs all along."""
        started, done = threading.Event(), threading.Event()

        def filter_on_a_thread():
            started.set()
            tarv_filter(BSCAN, 1000, 0.2, (0, 40, 0, 1024), threads=1)
            done.set()

        worker = threading.Thread(target=filter_on_a_thread)
        worker.start()
        started.wait()
        ticks = 0
        while not done.is_set():
            ticks += 1
            time.sleep(0.002)
        worker.join()
        print(f"{ticks} ticks of this thread during the call")
        self.assertGreater(ticks, 10)


if __name__ == "__main__":
    unittest.main()
