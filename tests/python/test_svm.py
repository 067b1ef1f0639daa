"""SVMImputerCore: options, the SVR and SVC paths against scikit-learn's
LIBSVM, pickling, and loading of hand-built or corrupted states."""

import math
import pickle
import struct

import numpy as np
import pandas as pd
import pytest
from sklearn.exceptions import NotFittedError
from sklearn.svm import SVC, SVR

import norvale

KERNELS = ["linear", "rbf", "sigmoid", "polynomial"]
SUPPORTED = 'Supported values: ["linear", "rbf", "sigmoid", "polynomial"]'


def masked_table(rows=40, cols=4, fraction=0.15, seed=3):
    rng = np.random.default_rng(seed)
    data = rng.normal(size=(rows, cols))
    data[rng.random((rows, cols)) < fraction] = np.nan
    data[0] = np.where(np.isnan(data[0]), 0.5, data[0])
    return data


def mean_filled(data):
    return np.where(np.isnan(data), np.nanmean(data, axis=0), data)


def sklearn_oracle(data, make_model, targets=None):
    """What the imputer does, column by column, with scikit-learn's LIBSVM."""
    filled = mean_filled(data) if targets is None else targets
    out = data.copy()
    for c in range(data.shape[1]):
        missing = np.isnan(data[:, c])
        if not missing.any():
            continue
        features = np.delete(filled, c, axis=1)
        model = make_model(c).fit(features[~missing], data[~missing, c])
        out[missing, c] = model.predict(features[missing])
    return out


# ---- state bytes, written the way the codec lays them out ----


def seq(items, encode):
    return struct.pack("<Q", len(items)) + b"".join(encode(item) for item in items)


def f64s(values):
    return seq(values, lambda v: struct.pack("<d", v))


def model_record(**fields):
    """A valid epsilon-SVR record on two features; `fields` override it."""
    m = dict(
        svm_type=3, kernel_type=0, degree=3, gamma=0.5, coef0=0.0, nr_class=2,
        SV=[[(1, 1.0)], [(1, -1.0), (2, 0.5)]], sv_coef=[[0.5, -0.5]], rho=[0.1],
        probA=[], probB=[], marks=[], sv_indices=[1, 2], label=[], nSV=[],
    )
    m.update(fields)
    node = lambda n: struct.pack("<id", *n)
    return b"".join([
        struct.pack("<iii", m["svm_type"], m["kernel_type"], m["degree"]),
        struct.pack("<ddddd", m["gamma"], m["coef0"], 100.0, 0.001, 1.0),
        seq([], node),
        struct.pack("<dd??", 0.5, 0.1, True, False),
        struct.pack("<Q", m["nr_class"]),
        seq(m["SV"], lambda row: seq(row, node)),
        seq(m["sv_coef"], f64s),
        f64s(m["rho"]), f64s(m["probA"]), f64s(m["probB"]), f64s(m["marks"]),
        seq(m["sv_indices"], lambda i: struct.pack("<Q", i)),
        seq(m["label"], lambda i: struct.pack("<i", i)),
        seq(m["nSV"], lambda i: struct.pack("<Q", i)),
    ])


def imputer_state(models, kernel=0, means=(0.0, 0.0, 0.0), is_fitted=True):
    u64s = lambda values: seq(values, lambda v: struct.pack("<Q", v))
    return b"".join([
        seq(models, lambda record: record),
        b"\x00",  # no string encoding
        u64s([]), u64s([]),
        b"\x01" + f64s(list(means)) + b"\x00" + b"\x00",  # the starting fill
        struct.pack("<?i", is_fitted, kernel),
    ])


def loaded(state):
    imputer = norvale.SVMImputerCore()
    imputer.__setstate__(state)
    return imputer


# ---- options ----


def test_options_and_their_defaults():
    default = norvale.SVMImputerCore()
    assert (default.kernel, default.encoding, default.is_fitted) == ("linear", None, False)
    assert norvale.SVMImputerCore(kernel="RBF").kernel == "rbf"
    positional = norvale.SVMImputerCore("Polynomial", "label")
    assert (positional.kernel, positional.encoding) == ("polynomial", "label")
    assert norvale.SVMImputerCore.__text_signature__ == '(kernel="linear", encoding=None)'


@pytest.mark.parametrize("kernel, shown", [("precomputed", "precomputed"), ("", ""), ("Sigmoïd", "sigmoïd")])
def test_unsupported_kernels_show_the_lowered_text(kernel, shown):
    with pytest.raises(ValueError) as error:
        norvale.SVMImputerCore(kernel=kernel)
    assert str(error.value) == f"SVM.Kernel: [{shown}] is not supported{SUPPORTED}"


def test_argument_errors_come_first_and_kernel_before_encoding():
    with pytest.raises(TypeError, match="'kernel'"):
        norvale.SVMImputerCore(kernel=None, encoding="bad")
    with pytest.raises(TypeError, match="'encoding'"):
        norvale.SVMImputerCore(kernel="bad", encoding=1)
    with pytest.raises(ValueError, match=r"^SVM\.Kernel: \[bad\]"):
        norvale.SVMImputerCore(kernel="bad", encoding="bad")
    with pytest.raises(ValueError, match=r"^LabelEncoding: \[Label\]"):
        norvale.SVMImputerCore(encoding="Label")


def test_transform_before_fit_raises_sklearns_error():
    with pytest.raises(NotFittedError) as error:
        norvale.SVMImputerCore().transform(masked_table())
    assert str(error.value) == (
        "This estimator is not fitted yet. Call 'fit' before using this estimator."
    )


# ---- the regression and classification paths ----


@pytest.mark.parametrize("kernel", KERNELS)
def test_numeric_columns_are_regressed_like_sklearns_svr(kernel):
    data = masked_table()
    ours = norvale.SVMImputerCore(kernel=kernel).fit_transform(data)
    # All features are non-zero, so gamma is 1 / (number of other columns).
    gamma = 1 / (data.shape[1] - 1)
    theirs = sklearn_oracle(
        data,
        lambda c: SVR(kernel="poly" if kernel == "polynomial" else kernel, gamma=gamma,
                      degree=3, coef0=0.0, C=1.0, epsilon=0.1, tol=1e-3),
    )
    observed = ~np.isnan(data)
    assert np.array_equal(ours[observed], data[observed])  # bit for bit
    np.testing.assert_allclose(ours[~observed], theirs[~observed], rtol=1e-6, atol=1e-6)


def test_a_single_missing_cell_leaves_every_other_cell_untouched():
    data = masked_table(fraction=0.0)
    data[7, 2] = np.nan
    ours = norvale.SVMImputerCore().fit_transform(data)
    assert np.isfinite(ours[7, 2])
    ours[7, 2] = data[7, 2] = 0.0
    assert ours.tobytes() == data.tobytes()


def labelled_frame(rows=45, seed=5):
    rng = np.random.default_rng(seed)
    species = np.array(["setosa", "versicolor", "virginica"])[np.arange(rows) % 3]
    codes = np.arange(rows) % 3
    frame = pd.DataFrame({
        "length": codes * 1.5 + rng.normal(scale=0.3, size=rows),
        "width": 2.0 - codes + rng.normal(scale=0.3, size=rows),
        "species": species.astype(object),
    })
    for column, rows_hidden in [("length", [3, 10]), ("width", [4, 20]), ("species", [1, 8, 30])]:
        frame.loc[rows_hidden, column] = np.nan
    return frame


def test_string_columns_are_classified_like_sklearns_svc():
    frame = labelled_frame()
    ours = norvale.SVMImputerCore(encoding="label").fit_transform(frame)

    # Codes follow the byte order of the labels; the mode fills the codes.
    codes = frame["species"].map({"setosa": 0.0, "versicolor": 1.0, "virginica": 2.0})
    data = np.column_stack([frame["length"], frame["width"], codes.astype(float)])
    targets = mean_filled(data)
    targets[np.isnan(data[:, 2]), 2] = 0.0  # three labels tie; the smallest code wins
    make = lambda c: (SVC(kernel="linear", C=1.0, tol=1e-3) if c == 2
                      else SVR(kernel="linear", C=1.0, epsilon=0.1, tol=1e-3))
    theirs = sklearn_oracle(data, make, targets=targets)

    labels = np.array(["setosa", "versicolor", "virginica"], dtype=object)
    assert list(ours["species"]) == list(labels[theirs[:, 2].astype(int)])
    np.testing.assert_allclose(ours[["length", "width"]].to_numpy(float), theirs[:, :2],
                               rtol=1e-6, atol=1e-6)


def test_a_single_column_predicts_one_value_everywhere():
    data = np.array([[1.0], [np.nan], [2.0], [np.nan], [4.0]])
    ours = norvale.SVMImputerCore(kernel="rbf").fit_transform(data)
    assert ours[1, 0] == ours[3, 0]
    assert 1.0 <= ours[1, 0] <= 4.0


def test_a_column_missing_entirely_at_transform_is_predicted_in_full():
    data = masked_table()
    imputer = norvale.SVMImputerCore().fit(data)
    query = data[:5].copy()
    query[:, 1] = np.nan
    out = imputer.transform(query)
    assert np.isfinite(out).all()


def test_transform_needs_the_fitted_column_count():
    imputer = norvale.SVMImputerCore().fit(masked_table(cols=3))
    with pytest.raises(ValueError, match="fitted on 3 features, but 4 were provided!"):
        imputer.transform(masked_table(cols=4))


def test_a_numeric_refit_after_a_labelled_fit_regresses_every_column():
    imputer = norvale.SVMImputerCore(encoding="label")
    imputer.fit(labelled_frame())  # string column 2 of 3
    data = masked_table(cols=2)
    assert np.array_equal(
        imputer.fit_transform(data), norvale.SVMImputerCore().fit_transform(data)
    )


def test_libsvm_prints_nothing(capfd):
    frame = pd.DataFrame({"x": [1.0, 2.0, 3.0, 4.0], "tag": ["a", np.nan, "a", "a"]})
    norvale.SVMImputerCore(encoding="label").fit_transform(frame)  # one class: LIBSVM warns
    assert capfd.readouterr().out == ""


# ---- pickling ----


@pytest.mark.parametrize(
    "make, data",
    [
        (lambda: norvale.SVMImputerCore(kernel="rbf"), masked_table()),
        (lambda: norvale.SVMImputerCore(kernel="sigmoid", encoding="label"), labelled_frame()),
    ],
    ids=["numeric", "labelled"],
)
def test_a_pickled_imputer_transforms_the_same(make, data):
    imputer = make().fit(data)
    copy = pickle.loads(pickle.dumps(imputer))
    assert (copy.kernel, copy.encoding, copy.is_fitted) == (imputer.kernel, imputer.encoding, True)
    pd.testing.assert_frame_equal(pd.DataFrame(copy.transform(data)),
                                  pd.DataFrame(imputer.transform(data)))
    assert copy.__getstate__() == imputer.__getstate__()


def test_an_unfitted_imputer_pickles():
    copy = pickle.loads(pickle.dumps(norvale.SVMImputerCore(kernel="polynomial")))
    assert (copy.kernel, copy.is_fitted) == ("polynomial", False)


def test_a_single_label_column_survives_pickling():
    frame = pd.DataFrame({"x": [1.0, 2.0, np.nan, 4.0, 5.0], "tag": ["a", np.nan, "a", "a", np.nan]})
    imputer = norvale.SVMImputerCore(encoding="label").fit(frame)
    out = imputer.transform(frame)
    assert list(out["tag"]) == ["a"] * 5
    copy = pickle.loads(pickle.dumps(imputer))
    pd.testing.assert_frame_equal(copy.transform(frame), out)


def test_a_hand_built_state_predicts_with_its_models():
    imputer = loaded(imputer_state([model_record()] * 3, kernel=2))
    assert (imputer.kernel, imputer.is_fitted) == ("rbf", True)
    out = imputer.transform(np.array([[np.nan, 2.0, 0.0]]))
    # Linear model on the feature vector {1: 2, 2: 0 (left out)}:
    # 0.5 * (1 * 2) - 0.5 * (-1 * 2) - 0.1.
    assert out[0, 0] == pytest.approx(1.9)


def test_precomputed_models_load_but_never_predict_or_train():
    precomputed = model_record(kernel_type=4, SV=[[(0, 1.0)], [(0, 2.0), (1, 3.0)]])
    imputer = loaded(imputer_state([precomputed] * 3, kernel=4))
    assert imputer.kernel == "precomputed"
    with pytest.raises(ValueError, match=r"^SVM\.Kernel: \[precomputed\] is not supported"):
        imputer.transform(np.array([[np.nan, 1.0, 2.0]]))
    with pytest.raises(RuntimeError) as error:
        imputer.fit(masked_table(cols=3))
    assert str(error.value) == (
        "Failed to train SVM at column: 0 because a precomputed kernel cannot train on feature vectors"
    )
    assert imputer.is_fitted  # kept from the loaded state


CORRUPT_STATES = [
    ("svm type", imputer_state([model_record(svm_type=5, kernel_type=9)]),
     "unknown SvmType code 5"),
    ("negative svm type", imputer_state([model_record(svm_type=-1)]), "unknown SvmType code -1"),
    ("kernel type", imputer_state([model_record(svm_type=0, kernel_type=7)]),
     "unknown KernelType code 7"),
    ("imputer kernel", imputer_state([model_record()], kernel=9), "unknown KernelType code 9"),
    ("one class regression", imputer_state([model_record(nr_class=1, sv_coef=[])]),
     "model format error: nr_class must be >= 2, got 1"),
    ("second model", imputer_state([model_record(), model_record(rho=[1.0, 2.0])]),
     "model format error: rho has 2 entries, expected 1 for svm_type epsilon_svr"),
    ("label on regression", imputer_state([model_record(label=[1])]),
     "model format error: label is only valid for classification, got 1 entries on svm_type epsilon_svr"),
    ("gamma", imputer_state([model_record(kernel_type=2, gamma=-0.5)]),
     "model format error: gamma must be >= 0, got -0.5"),
    ("huge gamma", imputer_state([model_record(gamma=math.inf)]),
     "model format error: gamma must be finite, got inf"),
    ("degree", imputer_state([model_record(degree=-2)]),
     "model format error: degree must be >= 0, got -2"),
    ("classifier pairs", imputer_state([model_record(svm_type=0, nr_class=50000)]),
     "model format error: nr_class must be <= 46341 for svm_type c_svc, got 50000"),
    ("truncated", imputer_state([model_record()])[:-3], "io error: unexpected end of file"),
]


@pytest.mark.parametrize("state, reason", [case[1:] for case in CORRUPT_STATES],
                         ids=[case[0] for case in CORRUPT_STATES])
def test_corrupt_states_are_refused_and_change_nothing(state, reason):
    imputer = norvale.SVMImputerCore(kernel="rbf").fit(masked_table(cols=3))
    before = imputer.__getstate__()
    with pytest.raises(ValueError) as error:
        imputer.__setstate__(state)
    assert str(error.value) == f"failed to unpickle SVMImputer: {reason}"
    assert imputer.__getstate__() == before


def test_floats_in_reasons_print_positionally():
    state = imputer_state([model_record(gamma=1e21, coef0=math.nan)])
    with pytest.raises(ValueError, match="coef0 must be finite, got NaN$"):
        loaded(state)
    state = imputer_state([model_record(sv_coef=[[1e21, math.nan]])])
    with pytest.raises(ValueError, match="sv_coef must be finite, got NaN$"):
        loaded(state)
    state = imputer_state([model_record(kernel_type=1, gamma=-1e21)])
    with pytest.raises(ValueError, match="got -1000000000000000000000$"):
        loaded(state)
