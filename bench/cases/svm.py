"""SVMImputerCore against scikit-learn doing the same work column by column:
one SVR per column, trained on the mean-filled table where the column is
observed, predicting where it is missing. Both sides train with LIBSVM; ours
trains the columns in parallel."""

import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from bench import Case, masked, max_abs_difference  # noqa: E402


def ours(data):
    import norvale

    return norvale.SVMImputerCore(kernel="linear").fit_transform(data)


def ours_one_thread(data):
    # Each side runs in a fresh process and the pool starts at its first
    # loop, so pinning the process to one core here gives a one-thread pool
    # (oneTBB sizes it from the affinity mask).
    os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
    return ours(data)


def theirs(data):
    from sklearn.svm import SVR

    filled = np.where(np.isnan(data), np.nanmean(data, axis=0), data)
    out = data.copy()
    for c in range(data.shape[1]):
        missing = np.isnan(data[:, c])
        features = np.delete(filled, c, axis=1)
        model = SVR(kernel="linear", C=1.0, epsilon=0.1, tol=1e-3)
        model.fit(features[~missing], data[~missing, c])
        if missing.any():
            out[missing, c] = model.predict(features[missing])
    return out


def cases():
    return [
        Case(
            name="svm linear 5000x10 10% missing",
            make_data=lambda: masked(5000, 10, 0.1),
            ours=ours,
            theirs=theirs,
            repeats=1,
            compare=max_abs_difference,
            variants=[("one thread", ours_one_thread)],
        )
    ]
