"""KnnImputerCore against sklearn.impute.KNNImputer, uniform weights, k = 5.

Both sides fit and transform the same table (float64, 20 columns, 10 % of the
cells missing at random). Fitting only stores the table on either side, so
the time is the transform's. With no ties at the k-th donor the outputs agree
to rounding; the note shows the largest difference.
"""

import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))

from bench import Case, masked, max_abs_difference  # noqa: E402

COLUMNS = 20
# scikit-learn needs minutes for the largest table, so it runs once.
SIZES = [(2_000, 3), (10_000, 1), (40_000, 1)]


def ours(data):
    import norvale

    return norvale.KnnImputerCore(k=5).fit_transform(data)


def theirs(data):
    from sklearn.impute import KNNImputer

    return KNNImputer(n_neighbors=5).fit(data).transform(data)


def table(rows):
    return lambda: masked(rows, COLUMNS, fraction=0.1, seed=rows)


def cases():
    return [
        Case(
            name=f"knn fit+transform {rows}x{COLUMNS}",
            make_data=table(rows),
            ours=ours,
            theirs=theirs,
            repeats=repeats,
            compare=max_abs_difference,
        )
        for rows, repeats in SIZES
    ]
