"""Edge-preserving anisotropic diffusion of log-intensity images
(tarv_filter) and scores of candidate boundary pairs per column
(band_score), for OCT and ultrasound images: the numeric cores of the
MATLAB/GNU Octave plug-ins TARV_c and bandscore, with the same result bits.

Both functions take NumPy arrays and release the GIL while they compute.
Each call runs on a team of threads: threads=None uses as many as the
process may use, threads=n n at most; never more than the processors of
the process's affinity mask and CPU quota, nor more than the environment
variable OMP_NUM_THREADS where it is set to a positive integer (dask's
worker processes set it to 1). The result bits never depend on it.

    python3 -m tarvbandscore.demo    # a synthetic B-scan filtered and its band found
"""
from __future__ import annotations

from . import _library
from ._filter import LambdaWarning, NonFiniteWarning, tarv_filter
from ._scorer import band_score

__version__ = "0.1.0"
__all__ = ["tarv_filter", "band_score", "threads_started", "LambdaWarning", "NonFiniteWarning"]


def threads_started() -> int:
    """The threads the calls of this process have started so far, beside
    their calling threads: 0 as long as every call ran on its calling thread
    alone (threads=1, or OMP_NUM_THREADS=1)."""
    return int(_library.lib.tarvbandscore_threads_started())
