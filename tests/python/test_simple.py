import numpy as np
import pandas as pd
import pytest
from sklearn.impute import SimpleImputer as SklearnSimpleImputer

import norvale.norvale as nv

NOT_FITTED = "^This imputer is not fitted. Call fit before transform.$"


def test_means_match_scikit_learn():
    rng = np.random.default_rng(3)
    table = rng.normal(size=(50, 4))
    table[rng.random(table.shape) < 0.3] = np.nan
    ours = nv.SimpleImputerCore().fit_transform(table)
    np.testing.assert_allclose(ours, SklearnSimpleImputer().fit_transform(table), rtol=1e-12)


def test_column_is_filled_with_its_mean():
    out = nv.SimpleImputerCore().fit_transform(np.array([[1.0], [np.nan], [3.0]]))
    assert out[:, 0].tolist() == [1.0, 2.0, 3.0]


def test_float64_input_learns_no_modes_even_with_encoding():
    table = np.array([[0.0], [1.0], [1.0], [np.nan]])
    out = nv.SimpleImputerCore(encoding="label").fit_transform(table)
    assert out[3, 0] == pytest.approx(2 / 3)


@pytest.mark.parametrize(
    "cells, fill",
    [
        (["a", "b", "b", "c"], "b"),
        # Missing cells do not vote: the mode is b, not a (code 0).
        (["a", "b", "b", np.nan, np.nan, np.nan], "b"),
        (["y", "x", "x", "y"], "x"),  # a tie takes the smallest code
    ],
    ids=["plain", "missing_cells_ignored", "tie"],
)
def test_string_columns_are_filled_with_their_mode(cells, fill):
    frame = pd.DataFrame({"c": cells + [np.nan], "x": np.arange(len(cells) + 1.0)})
    out = nv.SimpleImputerCore(encoding="label").fit_transform(frame)
    expected = [fill if cell is np.nan else cell for cell in cells] + [fill]
    assert out["c"].tolist() == expected
    assert out["x"].tolist() == frame["x"].tolist()


def test_mode_is_decoded_with_the_transform_tables_labels():
    imputer = nv.SimpleImputerCore(encoding="label").fit(pd.DataFrame({"c": ["a", "b", "b"]}))
    # Fitted mode: code 1. In this table code 1 is "a" because "0" sorts first.
    out = imputer.transform(pd.DataFrame({"c": ["0", "a", np.nan]}))
    assert out["c"].tolist() == ["0", "a", "a"]


class TestErrors:
    def test_transform_before_fit(self):
        with pytest.raises(RuntimeError, match=NOT_FITTED):
            nv.SimpleImputerCore().transform(np.zeros((1, 1)))

    def test_fitted_flag_without_fill_values(self):
        imputer = nv.SimpleImputerCore()
        imputer.__setstate__(b"\x00\x00\x01")
        with pytest.raises(RuntimeError, match=NOT_FITTED):
            imputer.transform(np.zeros((1, 1)))

    def test_feature_count(self):
        imputer = nv.SimpleImputerCore().fit(np.ones((2, 2)))
        with pytest.raises(ValueError, match="fitted on 2 features, but 3 were provided"):
            imputer.transform(np.ones((2, 3)))

    def test_all_nan_column_leaves_the_model_unchanged(self):
        imputer = nv.SimpleImputerCore().fit(np.array([[1.0, 5.0]]))
        with pytest.raises(ValueError, match=r"only NaNs can \[1\]"):
            imputer.fit(np.array([[2.0, np.nan]]))
        assert imputer.transform(np.array([[np.nan, np.nan]])).tolist() == [[1.0, 5.0]]


class TestState:
    def test_default_record_is_three_bytes(self):
        assert nv.SimpleImputerCore().__getstate__() == b"\x00\x00\x00"

    def test_fitted_record_layout(self):
        imputer = nv.SimpleImputerCore(encoding="label").fit(np.array([[1.0, 2.0]]))
        assert imputer.__getstate__() == (
            b"\x01"
            + (2).to_bytes(8, "little")
            + np.array([1.0, 2.0]).tobytes()
            + b"\x01"
            + bytes(4)
            + b"\x01"
        )
