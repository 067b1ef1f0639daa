"""MiceCore against independent references: numpy's least squares (DGELSD as
well), scikit-learn's SVD ridge, a numpy re-implementation of the chained
iterations, and xoshiro256++ written with Python integers."""

import pickle
import struct

import numpy as np
import pandas as pd
import pytest
from sklearn.linear_model import Ridge

from norvale import MiceCore

NOT_FITTED = "This imputer is not fitted. Call fit before transform."


# ---- the persisted record, read and written back field by field ----


class Reader:
    def __init__(self, data: bytes):
        self.data, self.at = data, 0

    def take(self, fmt):
        (value,) = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize(fmt)
        return value

    def option(self, read):
        return read() if self.take("B") else None

    def floats(self):
        count = self.take("Q")
        values = struct.unpack_from(f"<{count}d", self.data, self.at)
        self.at += 8 * count
        return list(values)

    def array1(self):
        assert self.take("B") == 1 and self.take("Q") >= 0
        return self.floats()

    def array2(self):
        assert self.take("B") == 1
        rows, cols = self.take("Q"), self.take("Q")
        return np.array(self.floats()).reshape(rows, cols)

    def solver(self):
        tag = self.take("I")
        if tag == 0:
            return {"tag": 0, "coefficients": self.option(self.array1), "bias": self.take("?")}
        if tag == 1:
            return {"tag": 1, "coefficients": self.option(self.array2),
                    "n_classes": self.take("Q"), "bias": self.take("?")}
        if tag == 2:
            return {"tag": 2, "n_neighbors": self.take("Q"), "pool": self.option(self.array1),
                    "model": self.solver()}
        return {"tag": 3, "alpha": self.take("d"), "coefficients": self.option(self.array1),
                "bias": self.take("?")}


def read_state(data: bytes) -> dict:
    r = Reader(data)
    state = {"max_iter": r.take("Q"), "n_iter": r.take("Q"), "backend": r.solver(),
             "cat_backend": r.solver()}
    state["models"] = [r.solver() for _ in range(r.take("Q"))]
    state["is_fitted"] = r.take("?")
    state["rest"] = data[r.at:]  # init, string_encoding, cat_columns
    return state


def array1(values) -> bytes:
    """An option<array1<f64>>."""
    if values is None:
        return b"\x00"
    return b"\x01" + struct.pack("<BQQ", 1, len(values), len(values)) + struct.pack(
        f"<{len(values)}d", *values)


def solver_bytes(model: dict) -> bytes:
    tag = model["tag"]
    head = struct.pack("<I", tag)
    if tag == 0:
        return head + array1(model["coefficients"]) + struct.pack("?", model["bias"])
    if tag == 2:
        return head + struct.pack("<Q", model["n_neighbors"]) + b"\x00" + solver_bytes(model["model"])
    raise NotImplementedError(tag)


def write_state(state: dict) -> bytes:
    models = b"".join(solver_bytes(m) for m in state["models"])
    return (struct.pack("<QQ", state["max_iter"], state["n_iter"]) + solver_bytes(state["backend"])
            + struct.pack("<IBQ?", 1, 0, 0, True) + struct.pack("<Q", len(state["models"]))
            + models + struct.pack("?", state["is_fitted"]) + state["rest"])


def last_model(imputer) -> dict:
    return read_state(imputer.__getstate__())["models"][-1]


# ---- tables ----


def with_missing(data, fraction, seed=1, columns=None):
    rng = np.random.default_rng(seed)
    out = np.array(data, dtype=float)
    mask = rng.random(out.shape) < fraction
    mask[0] = False  # no column entirely missing
    if columns is not None:
        mask[:, [c for c in range(out.shape[1]) if c not in columns]] = False
    out[mask] = np.nan
    return out


@pytest.fixture
def table():
    rng = np.random.default_rng(0)
    base = rng.normal(size=(40, 2))
    data = np.c_[base, base @ [1.5, -2.0] + rng.normal(scale=0.1, size=40), rng.normal(size=40)]
    return with_missing(data, 0.15)


def target_last(features, y, observed):
    """Complete features, the last column observed only where `observed`."""
    target = np.where(observed, y, np.nan)
    return np.c_[features, target]


def problem(kind):
    rng = np.random.default_rng(5)
    if kind == "random":
        x = rng.normal(size=(30, 4))
        observed = rng.random(30) < 0.8
    elif kind == "rank-deficient":
        x = rng.normal(size=(30, 2))
        x = np.c_[x, x[:, 0], np.full(30, 3.0)]  # a repeated and a constant column
        observed = rng.random(30) < 0.8
    else:  # under-determined: three observed rows for six features
        x = rng.normal(size=(8, 6))
        observed = np.array([True, True, True, False, False, False, False, False])
    observed[0] = True
    return x, rng.normal(size=len(x)), observed


# ---- each solver against its reference ----


@pytest.mark.parametrize("kind", ["random", "rank-deficient", "under-determined"])
def test_linear_coefficients_equal_lstsq(kind):
    x, y, observed = problem(kind)
    imputer = MiceCore(max_iter=1).fit(target_last(x, y, observed))
    design = np.c_[np.ones(observed.sum()), x[observed]]
    expected = np.linalg.lstsq(design, y[observed], rcond=-1)[0]
    np.testing.assert_allclose(last_model(imputer)["coefficients"], expected, rtol=1e-9, atol=1e-12)


@pytest.mark.parametrize("alpha", [0.1, 1.0, 25.0])
@pytest.mark.parametrize("kind", ["random", "rank-deficient", "under-determined"])
def test_ridge_coefficients_equal_sklearn_svd(kind, alpha):
    x, y, observed = problem(kind)
    imputer = MiceCore(max_iter=1, backend="ridge", alpha=alpha).fit(target_last(x, y, observed))
    model = last_model(imputer)
    reference = Ridge(alpha=alpha, solver="svd").fit(x[observed], y[observed])
    assert model["tag"] == 3 and model["alpha"] == alpha
    np.testing.assert_allclose(model["coefficients"][0], reference.intercept_, rtol=1e-9, atol=1e-12)
    np.testing.assert_allclose(model["coefficients"][1:], reference.coef_, rtol=1e-9, atol=1e-12)


def test_classifier_fits_one_least_squares_per_label():
    rng = np.random.default_rng(3)
    x = rng.normal(size=(25, 2))
    labels = np.array(["a", "b", "c"], dtype=object)[rng.integers(0, 3, size=25)]
    labels[[4, 9]] = np.nan
    frame = pd.DataFrame({"x0": x[:, 0], "x1": x[:, 1], "label": labels})
    model = last_model(MiceCore(max_iter=1, encoding="label").fit(frame))
    assert model["tag"] == 1 and model["n_classes"] == 3
    observed = pd.notna(labels)
    design = np.c_[np.ones(observed.sum()), x[observed]]
    codes = np.searchsorted(["a", "b", "c"], labels[observed].astype(str))
    for c in range(3):
        expected = np.linalg.lstsq(design, (codes == c).astype(float), rcond=-1)[0]
        np.testing.assert_allclose(model["coefficients"][c], expected, rtol=1e-9, atol=1e-12)


# ---- predictive mean matching draws ----

MASK = (1 << 64) - 1


def rotl(value, shift):
    return ((value << shift) | (value >> (64 - shift))) & MASK


def xoshiro_outputs():
    s = [0xBDD732262FEB6E95, 0x28EFE333B266F103, 0x47526757130F9F52, 0x581CE1FF0E4AE394]
    while True:
        out = (rotl((s[0] + s[3]) & MASK, 23) + s[0]) & MASK
        t = (s[1] << 17) & MASK
        s[2] ^= s[0]
        s[3] ^= s[1]
        s[1] ^= s[2]
        s[0] ^= s[3]
        s[2] ^= t
        s[3] = rotl(s[3], 45)
        yield out


def canon_indices(n):
    outputs = xoshiro_outputs()
    while True:
        product = (next(outputs) >> 32) * n
        high, low = product >> 32, product & 0xFFFFFFFF
        if low > (1 << 32) - n and low + (((next(outputs) >> 32) * n) >> 32) >= 1 << 32:
            high += 1
        yield high


def test_pmm_draws_follow_xoshiro_and_restart_when_restored():
    # Three observed values and k = 5: every missing cell draws from all of
    # them, so the values drawn are the pool at the generator's indices.
    n, missing_rows = 14, list(range(3, 14))
    data = np.c_[np.arange(n, dtype=float), np.full(n, np.nan)]
    data[:3, 1] = [10.0, 20.0, 30.0]
    m = len(missing_rows)
    imputer = MiceCore(max_iter=2, backend="pmm")
    out = imputer.fit_transform(data)

    indices = canon_indices(3)
    draws = [next(indices) for _ in range(4 * m)]  # fit: 2 passes, transform: 2 passes
    pool = np.array([10.0, 20.0, 30.0])
    np.testing.assert_array_equal(out[missing_rows, 1], pool[draws[3 * m:]])
    np.testing.assert_array_equal(out[:, 0], data[:, 0])

    restored = pickle.loads(pickle.dumps(imputer))
    np.testing.assert_array_equal(restored.transform(data)[missing_rows, 1], pool[draws[m:2 * m]])


# ---- the chained iterations ----


def reference_mice(raw, max_iter):
    """Every column against the same snapshot, then written back; transform
    repeats the passes with the final models from the mean fill."""
    missing = np.isnan(raw)
    start = np.where(missing, np.nanmean(raw, axis=0), raw)

    def design(block):
        return np.c_[np.ones(len(block)), block]

    def passes(fit):
        imputed = start.copy()
        for _ in range(max_iter):
            snapshot = imputed.copy()
            for c in range(raw.shape[1]):
                others = np.delete(snapshot, c, axis=1)
                if fit:
                    observed = ~missing[:, c]
                    weights[c] = np.linalg.lstsq(design(others[observed]), raw[observed, c],
                                                 rcond=-1)[0]
                imputed[missing[:, c], c] = design(others[missing[:, c]]) @ weights[c]
        return imputed

    weights = {}
    passes(fit=True)
    return passes(fit=False)


@pytest.mark.parametrize("max_iter", [1, 3])
def test_linear_iterations_match_reference(table, max_iter):
    out = MiceCore(max_iter=max_iter).fit_transform(table)
    np.testing.assert_allclose(out, reference_mice(table, max_iter), rtol=1e-9, atol=1e-12)


@pytest.mark.parametrize("backend", ["linear", "ridge", "pmm"])
def test_fit_transform_is_fit_then_transform(table, backend):
    together = MiceCore(backend=backend)
    out = together.fit_transform(table)
    apart = MiceCore(backend=backend)
    assert apart.fit(table) is apart
    np.testing.assert_array_equal(apart.transform(table), out)
    observed = ~np.isnan(table)
    np.testing.assert_array_equal(out[observed], table[observed])
    assert not np.isnan(out).any()
    assert together._n_iter == 10


def test_pmm_fills_only_observed_values(table):
    out = MiceCore(backend="pmm", pmm_backend="Ridge", alpha=0.5).fit_transform(table)
    for c in range(table.shape[1]):
        assert set(out[:, c]) <= set(table[~np.isnan(table[:, c]), c])


def test_zero_iterations_give_the_mean_fill(table):
    imputer = MiceCore(max_iter=0).fit(table)
    assert imputer._n_iter == 0
    expected = np.where(np.isnan(table), np.nanmean(table, axis=0), table)
    np.testing.assert_array_equal(imputer.transform(table), expected)


def test_transform_fills_a_column_missing_everywhere(table):
    imputer = MiceCore().fit(table)
    blank = table.copy()
    blank[:, 3] = np.nan
    assert not np.isnan(imputer.transform(blank)).any()


def test_one_column_gets_its_mean():
    data = np.array([[1.0], [np.nan], [5.0]])
    np.testing.assert_allclose(MiceCore().fit_transform(data), [[1.0], [3.0], [5.0]])


def test_string_column_takes_existing_labels():
    rng = np.random.default_rng(2)
    x = rng.normal(size=30)
    labels = np.where(x > 0, "up", "down").astype(object)
    labels[[3, 8, 15]] = np.nan
    numbers = x * 3 + rng.normal(scale=0.1, size=30)
    numbers[[5, 9]] = np.nan
    frame = pd.DataFrame({"x": x, "label": labels, "y": numbers})
    out = MiceCore(encoding="label").fit_transform(frame)
    assert isinstance(out, pd.DataFrame) and list(out.columns) == ["x", "label", "y"]
    assert set(out["label"]) == {"up", "down"}
    kept = pd.notna(labels)
    assert list(out["label"][kept]) == list(labels[kept])
    with pytest.raises(Exception, match="Provide a way to encode String!"):
        MiceCore().fit(frame)


# ---- options and errors ----


@pytest.mark.parametrize(
    "options, error, message",
    [
        ({"backend": "lasso"}, ValueError, "Solver lasso not supported!"),
        ({"backend": "LASSO", "encoding": "bad"}, ValueError, "Solver lasso not supported!"),
        ({"backend": "pmm", "pmm_backend": "Lasso"}, ValueError,
         'PMM.Backend: [lasso] is not supportedSupported values: ["linear", "ridge"]'),
        ({"encoding": "Label"}, ValueError,
         'LabelEncoding: [Label] is not supportedSupported values: ["label", "None"]'),
        ({"max_iter": -1}, TypeError, "max_iter"),
        ({"max_iter": 2.5}, TypeError, "max_iter"),
        ({"backend": None}, TypeError, "backend"),
        ({"alpha": "x"}, TypeError, "alpha"),
    ],
)
def test_rejected_options(options, error, message):
    with pytest.raises(error) as raised:
        MiceCore(**options)
    assert message in str(raised.value)


@pytest.mark.parametrize("options", [{"backend": "Linear"}, {"backend": "PMM"},
                                     {"backend": "linear", "pmm_backend": "lasso"}])
def test_accepted_options(options):
    assert MiceCore(**options).encoding is None


def test_not_fitted_and_shape_errors(table):
    with pytest.raises(RuntimeError, match=NOT_FITTED):
        MiceCore().transform(table)
    fitted = MiceCore().fit(table)
    with pytest.raises(ValueError, match="fitted on 4 features, but 3 were provided"):
        fitted.transform(table[:, :3])
    blank = table.copy()
    blank[:, 1] = np.nan
    with pytest.raises(ValueError, match="only NaNs"):
        MiceCore().fit(blank)
    assert MiceCore()._n_iter == 0


# ---- pickling ----


@pytest.mark.parametrize("backend", ["linear", "ridge"])
def test_round_trip_transforms_identically(table, backend):
    imputer = MiceCore(max_iter=4, backend=backend, alpha=2.0, encoding="label").fit(table)
    restored = pickle.loads(pickle.dumps(imputer))
    assert restored.__getstate__() == imputer.__getstate__()
    assert restored._n_iter == 4 and restored.encoding == "label"
    np.testing.assert_array_equal(restored.transform(table), imputer.transform(table))


def test_unfitted_round_trip_stays_unfitted():
    restored = pickle.loads(pickle.dumps(MiceCore(backend="pmm")))
    assert read_state(restored.__getstate__())["backend"]["tag"] == 2
    with pytest.raises(RuntimeError, match=NOT_FITTED):
        restored.transform(np.ones((2, 2)))


def test_truncated_states_are_rejected(table):
    state = MiceCore(backend="pmm").fit(table).__getstate__()
    for end in range(0, len(state), 7):
        with pytest.raises(ValueError, match="failed to unpickle Mice"):
            MiceCore().__setstate__(state[:end])
    with pytest.raises(TypeError):
        MiceCore().__setstate__(bytearray(state))


def hostile(table, change):
    state = read_state(MiceCore(max_iter=1).fit(table[:, :2]).__getstate__())
    change(state)
    return write_state(state)


def test_hostile_states_raise_instead_of_crashing(table):
    def wider(state):
        state["models"][0]["coefficients"] = [1.0] * 7

    imputer = MiceCore()
    imputer.__setstate__(hostile(table, wider))
    with pytest.raises(ValueError, match="Shape Mismatch"):
        imputer.transform(table[:, :2])

    def extra_model(state):
        state["models"].append(state["models"][0])

    with pytest.raises(ValueError, match="failed to unpickle Mice: .*starting fill"):
        MiceCore().__setstate__(hostile(table, extra_model))

    def deep(state):
        model = {"tag": 0, "coefficients": [0.0, 1.0], "bias": True}
        for _ in range(40):
            model = {"tag": 2, "n_neighbors": 5, "model": model}
        state["models"][0] = model

    with pytest.raises(ValueError, match="failed to unpickle Mice: nesting deeper"):
        MiceCore().__setstate__(hostile(table, deep))
