"""MiceCore with least squares against scikit-learn's IterativeImputer.

Both sides spend most of their time in the same LAPACK solves (DGELSD), so
the note reports which share of our time is spent inside LAPACK/BLAS: the
extension counts the time of every such call (reached through ctypes), and
the share is that time over the wall time of every pool thread. The variant
lets OpenBLAS run its own threads inside the pool's column tasks, which then
compete with the pool for the same cores.
"""

from __future__ import annotations

import ctypes
import os
import pathlib
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))

from bench import Case, masked, max_abs_difference  # noqa: E402

ROWS, COLS, MAX_ITER = 20_000, 20, 10
last_run = {}


def extension():
    import norvale

    lib = ctypes.CDLL(norvale.norvale.__file__)
    lib.norvale_linalg_nanoseconds.restype = ctypes.c_uint64
    return lib


def ours(data, task_blas_threads=1):
    import norvale

    lib = extension()
    lib.norvale_set_task_blas_threads(task_blas_threads)
    linalg_before, start = lib.norvale_linalg_nanoseconds(), time.perf_counter()
    out = norvale.MiceCore(max_iter=MAX_ITER, backend="linear").fit_transform(data)
    last_run["wall"] = time.perf_counter() - start
    last_run["linalg"] = (lib.norvale_linalg_nanoseconds() - linalg_before) / 1e9
    return out


def theirs(data):
    from sklearn.experimental import enable_iterative_imputer  # noqa: F401
    from sklearn.impute import IterativeImputer
    from sklearn.linear_model import LinearRegression

    imputer = IterativeImputer(
        estimator=LinearRegression(), max_iter=MAX_ITER, tol=0, initial_strategy="mean"
    )
    return imputer.fit_transform(data)


def linalg_share() -> str:
    from threadpoolctl import threadpool_info

    threads = len(os.sched_getaffinity(0))
    share = last_run["linalg"] / (last_run["wall"] * threads)
    kernels = {info.get("architecture") for info in threadpool_info() if info.get("internal_api") == "openblas"}
    return f"LAPACK/BLAS {share:.0%} of {threads} threads (OpenBLAS {', '.join(map(str, kernels))})"


def cases():
    return [
        Case(
            name=f"mice linear {ROWS}x{COLS} fit_transform",
            make_data=lambda: masked(ROWS, COLS, 0.1),
            ours=ours,
            theirs=theirs,
            compare=max_abs_difference,
            profile=linalg_share,
            variants=[("openblas threads in tasks", lambda data: ours(data, task_blas_threads=0))],
        )
    ]
