"""Tables in and out, observed through imputers that fill nothing."""

import warnings

import numpy as np
import pandas as pd
import pytest

import norvale.norvale as nv
import tabseam


def roundtrip(table, encoding=None):
    """The table after conversion in and out, with no cell changed."""
    imputer = nv.ConstantImputerCore(encoding=encoding)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # the encoding warning is tested elsewhere
        imputer.fit(table)
    return imputer.transform(table)


class TestFloatFastPath:
    def test_returns_a_new_array_and_leaves_the_input_alone(self, small_table):
        before = small_table.copy()
        out = nv.ConstantImputerCore(value=9.0).fit_transform(small_table)
        assert out.dtype == np.float64 and out is not small_table
        np.testing.assert_array_equal(small_table, before)
        np.testing.assert_array_equal(out, np.where(np.isnan(before), 9.0, before))

    @pytest.mark.parametrize(
        "view",
        [
            lambda a: np.asfortranarray(a),
            lambda a: a[::2, ::-1],
            lambda a: a.T,
            lambda a: np.lib.stride_tricks.as_strided(a, shape=(2, 2), strides=(8, 8)),
        ],
        ids=["column_major", "reversed_step", "transposed", "overlapping"],
    )
    def test_any_strides_convert_in_logical_order(self, view):
        base = np.arange(12, dtype=np.float64).reshape(4, 3)
        table = view(base)
        np.testing.assert_array_equal(roundtrip(table), np.ascontiguousarray(table))

    def test_memmap_is_read(self, tmp_path):
        table = np.memmap(tmp_path / "t.bin", dtype=np.float64, mode="w+", shape=(2, 2))
        table[:] = [[1.0, np.nan], [3.0, 4.0]]
        out = nv.ConstantImputerCore(value=0.0).fit_transform(table)
        np.testing.assert_array_equal(out, [[1.0, 0.0], [3.0, 4.0]])
        assert type(out) is np.ndarray

    def test_read_only_input_is_fine(self, small_table):
        small_table.setflags(write=False)
        assert roundtrip(small_table).shape == (3, 2)

    def test_encoding_is_ignored_for_float64_arrays(self, small_table):
        out = roundtrip(small_table, encoding="label")
        assert out.dtype == np.float64


class TestNeedsEncoding:
    @pytest.mark.parametrize(
        "table",
        [
            np.array([[1, 2]], dtype=np.int64),
            np.array([[1.0, 2.0]], dtype=np.float32),
            np.array([1.0, 2.0]),
            pd.DataFrame({"a": [1.0]}),
        ],
        ids=["int64", "float32", "one_dimensional", "frame"],
    )
    def test_without_encoding_is_refused(self, table):
        with pytest.raises(Exception) as raised:
            nv.ConstantImputerCore().fit(table)
        assert type(raised.value) is Exception
        assert str(raised.value) == "Provide a way to encode String!"

    def test_int64_array_comes_back_as_objects(self):
        table = np.array([[1, 2], [3, 4]], dtype=np.int64)
        out = roundtrip(table, encoding="label")
        assert out.dtype == object
        assert out.tolist() == [[1.0, 2.0], [3.0, 4.0]]

    def test_one_dimensional_array_is_a_type_error(self):
        with pytest.raises(TypeError, match="shape"):
            nv.raise_if_nan_col(np.array([1.0, 2.0]))


class TestDataFrames:
    def test_output_has_string_labels_and_a_fresh_index(self):
        frame = pd.DataFrame({"x": [1.0, np.nan], "y": [3.0, 4.0]}, index=[10, 20])
        out = roundtrip(frame, encoding="label")
        assert list(out.columns) == ["x", "y"]
        assert list(out.index) == [0, 1]
        assert out.dtypes.tolist() == [np.float64, np.float64]

    def test_integer_column_labels_become_strings(self):
        frame = pd.DataFrame([[1.0, 2.0]], columns=[0, 1])
        assert list(roundtrip(frame, encoding="label").columns) == ["0", "1"]

    @pytest.mark.parametrize("labels", [["a", 1], [1.5, 2.5]], ids=["mixed", "floats"])
    def test_other_column_labels_are_rejected(self, labels):
        frame = pd.DataFrame([[1.0, 2.0]], columns=labels)
        with pytest.raises(TypeError):
            nv.raise_if_nan_col(frame)


class TestUnsupportedContainers:
    @pytest.mark.parametrize(
        "table, name",
        [(pd.Series([1.0]), "Series"), ([[1.0]], "list"), (None, "NoneType")],
    )
    def test_type_name_is_printed_and_raised(self, table, name, capsys):
        with pytest.raises(TypeError) as raised:
            nv.ConstantImputerCore().fit(table)
        assert str(raised.value) == (
            f"Unsupported type: '{name}'. Supported types are: numpy.ndarray, pandas.DataFrame"
        )
        assert capsys.readouterr().out == f"{name}\n"


class TestChecks:
    def test_feature_count_names_fitted_then_provided(self):
        imputer = nv.ConstantImputerCore().fit(np.zeros((2, 3)))
        with pytest.raises(ValueError) as raised:
            imputer.transform(np.zeros((2, 4)))
        assert str(raised.value) == "The estimator was fitted on 3 features, but 4 were provided!"

    def test_encoder_sees_every_table_kind(self):
        out, columns = tabseam.Encoder().encode(np.array([["a", 1.5]], dtype=object))
        assert columns == [0]
        np.testing.assert_array_equal(out, [[0.0, 1.5]])
