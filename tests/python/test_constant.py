import warnings

import numpy as np
import pandas as pd
import pytest

import norvale.norvale as nv


def test_fills_missing_cells_with_the_value(small_table):
    out = nv.ConstantImputerCore(value=-1).fit_transform(small_table)
    np.testing.assert_array_equal(out, [[1.0, -1.0], [3.0, 4.0], [5.0, 6.0]])


def test_nan_value_leaves_cells_missing(small_table):
    out = nv.ConstantImputerCore(value=float("nan")).fit_transform(small_table)
    assert np.isnan(out[0, 1])


def test_fit_returns_the_instance():
    imputer = nv.ConstantImputerCore()
    assert imputer.fit(np.ones((1, 1))) is imputer


def test_transform_before_fit_is_a_type_error(small_table):
    with pytest.raises(TypeError, match="^Imputer not fitted, please call fit first$"):
        nv.ConstantImputerCore().transform(small_table)


def test_failed_refit_keeps_fitted_flag_but_records_the_new_width():
    imputer = nv.ConstantImputerCore().fit(np.ones((2, 3)))
    with pytest.raises(ValueError, match="only NaNs"):
        imputer.fit(np.array([[1.0, np.nan, 1.0, 1.0]]))
    imputer.transform(np.ones((1, 4)))  # still fitted, now four columns wide
    with pytest.raises(ValueError, match="fitted on 4 features, but 3"):
        imputer.transform(np.ones((1, 3)))


class TestEncodingWarning:
    def test_fit_with_encoding_warns_once(self, small_table):
        imputer = nv.ConstantImputerCore(encoding="anything")
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            imputer.fit(small_table)
        assert [(w.category, str(w.message)) for w in caught] == [
            (
                UserWarning,
                '"Encoding Parameter is passed, but categorical handling is incomplete" '
                "[ConstantImputer]",
            )
        ]

    def test_warning_as_error_leaves_the_imputer_unfitted(self, small_table):
        imputer = nv.ConstantImputerCore(encoding="label")
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            with pytest.raises(UserWarning):
                imputer.fit(small_table)
        with pytest.raises(TypeError, match="not fitted"):
            imputer.transform(small_table)

    def test_without_encoding_there_is_no_warning(self, small_table):
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            nv.ConstantImputerCore().fit(small_table)


def test_fill_value_decodes_as_a_code_in_string_columns():
    frame = pd.DataFrame({"c": ["b", np.nan, "a"], "x": [1.0, 2.0, np.nan]})
    imputer = nv.ConstantImputerCore(value=0.0, encoding="label")
    with pytest.warns(UserWarning):
        out = imputer.fit_transform(frame)
    # Code 0 is the first label in byte order.
    assert out["c"].tolist() == ["b", "a", "a"]
    assert out["x"].tolist() == [1.0, 2.0, 0.0]


class TestState:
    def test_sizes_of_the_record(self):
        assert len(nv.ConstantImputerCore().__getstate__()) == 18
        assert len(nv.ConstantImputerCore(encoding="label").__getstate__()) == 22

    def test_zero_equals_the_default_instance(self):
        zero = nv.ConstantImputerCore.zero()
        assert type(zero) is nv.ConstantImputerCore
        assert zero.__getstate__() == nv.ConstantImputerCore().__getstate__()

    def test_record_layout(self):
        imputer = nv.ConstantImputerCore(value=2.5, encoding="label")
        with pytest.warns(UserWarning):
            imputer.fit(np.ones((1, 3)))
        assert imputer.__getstate__() == (
            np.float64(2.5).tobytes()
            + (3).to_bytes(8, "little")
            + b"\x01"
            + b"\x01"
            + (0).to_bytes(4, "little")
        )

    @pytest.mark.parametrize("encoding, expected", [(None, (None,)), ("x", ("label",))])
    def test_rgs(self, encoding, expected):
        assert nv.ConstantImputerCore(encoding=encoding)._rgs__() == expected
