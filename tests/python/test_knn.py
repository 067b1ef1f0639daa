"""KnnImputerCore from Python: filling, options, warnings, errors and pickling."""

import math
import pickle
import struct
import warnings

import numpy as np
import pandas as pd
import pytest
from sklearn.impute import KNNImputer

from norvale import KnnImputerCore

NAN = np.nan


def masked(rows, cols, fraction=0.15, seed=0):
    rng = np.random.default_rng(seed)
    data = rng.normal(size=(rows, cols))
    data[rng.random((rows, cols)) < fraction] = NAN
    data[0] = np.where(np.isnan(data[0]), 0.0, data[0])
    return data


# ---- filling ----


@pytest.mark.parametrize("k", [1, 3, 5])
def test_uniform_nan_euclid_agrees_with_scikit_learn(k):
    # Squared and scaled, the distance ranks donors as nan_euclidean does.
    data = masked(300, 6)
    ours = KnnImputerCore(k=k).fit_transform(data)
    theirs = KNNImputer(n_neighbors=k).fit_transform(data)
    np.testing.assert_allclose(ours, theirs, rtol=1e-12, atol=1e-12)


# Fitted tables whose rows are at known nan_euclid distances from the query
# [0, NaN]: one shared column of two, so a difference of v gives 2 v².
FAR_DONORS = np.array([[0.0, NAN], [math.sqrt(0.5), 1.0], [math.sqrt(1.5), 3.0], [9.0, 100.0]])


@pytest.mark.parametrize(
    "k, weights, expected",
    [
        (2, "uniform", 2.0),  # donors 1 and 3
        (2, "distance", (1 * 1 + 3 / 3) / (1 + 1 / 3)),  # distances 1 and 3
        (0, "uniform", 1.0),  # k = 0 acts as k = 1
        (50, "uniform", (1 + 3 + 100) / 3),  # k beyond the table takes every donor
    ],
)
def test_weighted_mean_of_the_nearest_donors(k, weights, expected):
    imputer = KnnImputerCore(k=k, weights=weights).fit(FAR_DONORS)
    out = imputer.transform(np.array([[0.0, NAN]]))
    assert out[0, 1] == pytest.approx(expected, rel=1e-12)


def test_donor_at_distance_zero_dominates_distance_weights():
    donors = np.array([[0.0, 10.0], [1.0, 20.0]])
    out = KnnImputerCore(k=2, weights="distance").fit(donors).transform(np.array([[0.0, NAN]]))
    floor_weight = 4503599627370496.0
    assert out[0, 1] == (10 * floor_weight + 20 * 0.5) / (floor_weight + 0.5)


def test_donors_sharing_no_column():
    # Row 0 lacks column 1, and its only donor shares no column with it.
    table = np.array([[1.0, NAN], [NAN, 5.0]])
    assert KnnImputerCore(weights="uniform").fit_transform(table)[0, 1] == 5.0
    # Distance weights give such donors weight 0: 0 / 0.
    assert np.isnan(KnnImputerCore(weights="distance").fit_transform(table)[0, 1])


def test_complete_input_comes_back_unchanged():
    data = masked(50, 4)
    complete = np.arange(12, dtype=float).reshape(3, 4)
    out = KnnImputerCore().fit(data).transform(complete)
    assert out is not complete
    np.testing.assert_array_equal(out, complete)


def test_input_is_not_modified_and_only_missing_cells_change():
    data = masked(80, 5)
    before = data.copy()
    out = KnnImputerCore().fit_transform(data)
    np.testing.assert_array_equal(data, before)
    present = ~np.isnan(before)
    np.testing.assert_array_equal(out[present], before[present])
    assert not np.isnan(out).any()


@pytest.mark.parametrize("metric", ["nan_euclid", "expected_distance", "gower"])
def test_dataframe_in_dataframe_out(metric):
    frame = pd.DataFrame(masked(40, 3), columns=["a", "b", "c"])
    out = KnnImputerCore(metric=metric, encoding="label").fit_transform(frame)
    assert isinstance(out, pd.DataFrame)
    assert list(out.columns) == ["a", "b", "c"]
    assert not out.isna().any().any()


def test_gower_fills_label_encoded_columns_without_warning():
    frame = pd.DataFrame(
        {
            "size": [1.0, 1.1, 5.0, 5.2, NAN, 1.05],
            "kind": ["small", "small", "large", "large", "large", NAN],
        }
    )
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        out = KnnImputerCore(k=2, metric="gower", encoding="label").fit_transform(frame)
    # Nearest by size: the two small rows; by kind: the two large ones.
    assert out.loc[5, "kind"] == "small"
    assert out.loc[4, "size"] == pytest.approx(5.1)


# ---- options ----


@pytest.mark.parametrize(
    "metric, weights, shown",
    [
        ("Gower", "Distance", ("gower", "distance")),
        ("NAN_EUCLID", "UNIFORM", ("nan_euclid", "uniform")),
        ("expected_distance", "uniform", ("expected_distance", "uniform")),
    ],
)
def test_option_texts_ignore_case(metric, weights, shown):
    imputer = KnnImputerCore(metric=metric, weights=weights)
    assert (imputer.metric, imputer.weights) == shown


def test_defaults_and_signature():
    imputer = KnnImputerCore()
    assert (imputer.k, imputer.metric, imputer.weights, imputer.encoding) == (
        5,
        "nan_euclid",
        "uniform",
        None,
    )
    assert KnnImputerCore.__module__ == "norvale.norvale"
    assert KnnImputerCore.__text_signature__ == (
        '(k=5, metric="nan_euclid", weights="uniform", encoding=None)'
    )
    assert KnnImputerCore(3, "gower", "distance", "label").encoding == "label"


@pytest.mark.parametrize(
    "kwargs, error, text",
    [
        (
            {"metric": "manhattan"},
            ValueError,
            'Knn.Metric: [manhattan] is not supportedSupported values: '
            '["nan_euclid", "expected_distance", "gower"]',
        ),
        (
            {"weights": "Linear"},
            ValueError,
            'Knn.Weights: [linear] is not supportedSupported values: ["uniform", "distance"]',
        ),
        (
            {"encoding": "Label"},
            ValueError,
            'LabelEncoding: [Label] is not supportedSupported values: ["label", "None"]',
        ),
        ({"k": -1}, TypeError, "'k'"),
        ({"k": 2.0}, TypeError, "'k'"),
        ({"metric": None}, TypeError, "'metric'"),
        ({"weights": 1}, TypeError, "'weights'"),
        ({"neighbours": 3}, TypeError, "neighbours"),
    ],
)
def test_rejected_options(kwargs, error, text):
    with pytest.raises(error) as raised:
        KnnImputerCore(**kwargs)
    assert text in str(raised.value)


def test_k_is_written_and_read_back_and_used_by_the_next_transform():
    imputer = KnnImputerCore(k=1).fit(FAR_DONORS)
    query = np.array([[0.0, NAN]])
    assert imputer.transform(query)[0, 1] == 1.0
    imputer.k = 2
    assert imputer.k == 2
    assert imputer.transform(query)[0, 1] == 2.0
    imputer.k = np.int64(2**40)
    assert imputer.k == 2**40


@pytest.mark.parametrize("value, error", [(-1, TypeError), (2**64, TypeError),
                                          ("3", TypeError), (1.5, TypeError)])
def test_k_rejects_what_is_not_a_non_negative_integer(value, error):
    imputer = KnnImputerCore(k=4)
    with pytest.raises(error):
        imputer.k = value
    assert imputer.k == 4


def test_k_cannot_be_deleted():
    imputer = KnnImputerCore()
    with pytest.raises(AttributeError):
        del imputer.k


# ---- warnings ----

ENCODING_WARNING = (
    "Passed Label encoding but didn't select a metric that supports categoricals! "
    "Please pass one of the metrics that support categoricals [gower]"
)


def test_label_encoding_without_gower_warns_at_every_fit():
    imputer = KnnImputerCore(encoding="label")
    for _ in range(2):
        with pytest.warns(UserWarning) as record:
            imputer.fit(masked(10, 2))
        assert [str(w.message) for w in record] == [ENCODING_WARNING]


def test_warning_turned_into_error_fails_fit_and_keeps_state():
    imputer = KnnImputerCore(encoding="label")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(UserWarning, match="supports categoricals"):
            imputer.fit(masked(10, 2))
    with pytest.raises(RuntimeError, match="not fitted"):
        imputer.transform(masked(10, 2))


# ---- errors ----


def test_transform_before_fit():
    with pytest.raises(RuntimeError) as raised:
        KnnImputerCore().transform(masked(5, 2))
    assert str(raised.value) == "This imputer is not fitted. Call fit before transform."


def test_feature_count_must_match():
    imputer = KnnImputerCore().fit(masked(10, 3))
    with pytest.raises(ValueError) as raised:
        imputer.transform(masked(10, 4))
    assert str(raised.value) == "The estimator was fitted on 3 features, but 4 were provided!"


def test_failed_fit_keeps_the_previous_table():
    imputer = KnnImputerCore(k=1).fit(FAR_DONORS)
    empty_column = np.array([[1.0, NAN, 2.0], [3.0, NAN, 4.0]])
    with pytest.raises(ValueError, match=r"contain only NaNs can \[1\]"):
        imputer.fit(empty_column)
    assert imputer.transform(np.array([[0.0, NAN]]))[0, 1] == 1.0


def test_unsupported_container():
    with pytest.raises(TypeError, match="Unsupported type"):
        KnnImputerCore().fit([[1.0, 2.0]])


# ---- pickling ----


@pytest.mark.parametrize("metric", ["nan_euclid", "expected_distance", "gower"])
@pytest.mark.parametrize("weights", ["uniform", "distance"])
def test_pickled_imputer_transforms_identically(metric, weights):
    data = masked(60, 4, seed=1)
    imputer = KnnImputerCore(k=3, metric=metric, weights=weights).fit(data)
    restored = pickle.loads(pickle.dumps(imputer))
    query = masked(20, 4, seed=2)
    np.testing.assert_array_equal(restored.transform(query), imputer.transform(query))
    assert (restored.k, restored.metric, restored.weights) == (3, metric, weights)


def test_unfitted_state_layout_and_round_trip():
    state = KnnImputerCore(k=7, metric="expected_distance", weights="distance").__getstate__()
    # k, four absent options, is_fitted, metric index, weights index.
    assert state == struct.pack("<Q4B?II", 7, 0, 0, 0, 0, False, 1, 1)
    restored = KnnImputerCore()
    restored.__setstate__(state)
    assert (restored.k, restored.metric, restored.weights) == (7, "expected_distance", "distance")
    with pytest.raises(RuntimeError, match="not fitted"):
        restored.transform(masked(3, 2))


def gower_state(spans, cat_cols, num_cols):
    """A fitted 2 x 2 Gower state with the given spans and column lists."""
    table = struct.pack("<BQQQ4d", 1, 2, 2, 4, 1.0, 2.0, 3.0, 4.0)
    seq_u64 = lambda values: struct.pack(f"<Q{len(values)}Q", len(values), *values)
    seq_f64 = lambda values: struct.pack(f"<Q{len(values)}d", len(values), *values)
    return (
        struct.pack("<Q", 5)
        + b"\x01" + table
        + b"\x00"
        + b"\x01" + seq_u64(cat_cols)
        + b"\x01" + seq_u64(num_cols)
        + b"\x01"
        + struct.pack("<I", 2) + b"\x01" + seq_f64(spans)
        + struct.pack("<I", 0)
    )


@pytest.mark.parametrize(
    "state, reason",
    [
        (b"", "io error: unexpected end of file"),
        (struct.pack("<Q4B?II", 5, 0, 0, 0, 0, False, 3, 0),
         "invalid value: integer `3`, expected variant index 0 <= i < 3"),
        (struct.pack("<Q4B?II", 5, 0, 0, 0, 0, False, 0, 2),
         "invalid value: integer `2`, expected variant index 0 <= i < 2"),
        (gower_state([1.0], [], [0, 1]), "1 gower spans for 2 columns"),
        (gower_state([1.0, 1.0], [7], [0]), "column index 7 out of range for 2 columns"),
    ],
)
def test_bad_state_is_rejected_and_leaves_the_imputer_as_it_was(state, reason):
    imputer = KnnImputerCore(k=1).fit(FAR_DONORS)
    with pytest.raises(ValueError) as raised:
        imputer.__setstate__(state)
    assert str(raised.value) == f"failed to unpickle KnnImputerCore: {reason}"
    assert imputer.k == 1
    assert imputer.transform(np.array([[0.0, NAN]]))[0, 1] == 1.0


def test_well_formed_gower_state_is_accepted():
    imputer = KnnImputerCore()
    imputer.__setstate__(gower_state([3.0, 2.0], [], [0, 1]) + b"trailing bytes")
    out = imputer.transform(np.array([[1.0, NAN]]))
    assert imputer.metric == "gower" and out[0, 1] == pytest.approx(3.0)


@pytest.mark.parametrize("state", [None, "bytes", bytearray(b"")])
def test_setstate_wants_bytes(state):
    with pytest.raises(TypeError, match="state"):
        KnnImputerCore().__setstate__(state)
