"""Classification of columns, codes, missing markers and decoding."""

import numpy as np
import pandas as pd
import pytest

import norvale.norvale as nv
import tabseam


def encode(frame):
    encoder = tabseam.Encoder()
    table, columns = encoder.encode(frame)
    return encoder, table, columns


def labels_after_switch(first):
    """The label a number read before its column turned into strings gets."""
    encoder, _, _ = encode(pd.DataFrame({"c": [first, "zzz"]}, dtype=object))
    return encoder.decode(np.array([[0.0]]))[0, 0]


@pytest.mark.parametrize(
    "number, label",
    [
        (1.0, "1"),
        (2.5, "2.5"),
        (1e20, "1" + "0" * 20),
        (1e-7, "0.0000001"),
        (-0.0, "-0"),
        (float("inf"), "inf"),
        (float("-inf"), "-inf"),
        (np.int64(3), "3"),
    ],
)
def test_numbers_before_the_switch_use_positional_shortest_digits(number, label):
    assert labels_after_switch(number) == label


def test_numbers_after_the_switch_use_python_str():
    encoder, table, _ = encode(pd.DataFrame({"c": [1.0, "x", 1.0, None]}, dtype=object))
    # "1" (read as a number first) and "1.0" (str() after the switch) differ.
    decoded = encoder.decode(table)["c"].tolist()
    assert decoded == ["1", "x", "1.0", "None"]
    assert table["c"].tolist() == [0.0, 3.0, 1.0, 2.0]


def test_nan_before_the_switch_is_missing():
    _, table, _ = encode(pd.DataFrame({"c": [np.nan, "x"]}, dtype=object))
    assert np.isnan(table["c"][0]) and table["c"][1] == 0.0


def test_codes_follow_byte_order_and_markers_have_none():
    _, table, columns = encode(pd.DataFrame({"c": ["b", "a", "b", "nan", "NaN", "<NA>", "B"]}))
    assert columns == [0]
    assert table["c"].tolist()[:3] == [2.0, 1.0, 2.0]
    assert all(np.isnan(table["c"].tolist()[3:6]))
    assert table["c"].tolist()[6] == 0.0  # "B" sorts before "a"


def test_columns_encode_independently():
    _, table, columns = encode(pd.DataFrame({"p": ["x", "y"], "q": ["y", "z"]}))
    assert columns == [0, 1]
    assert table.to_numpy().tolist() == [[0.0, 0.0], [1.0, 1.0]]


def test_all_none_column_is_one_label_not_missing():
    encoder, table, columns = encode(pd.DataFrame({"c": [None, None]}))
    assert columns == [0] and table["c"].tolist() == [0.0, 0.0]
    assert encoder.decode(table)["c"].tolist() == ["None", "None"]


def test_all_marker_column_fails_the_fit_check():
    frame = pd.DataFrame({"c": ["nan", "<NA>"], "x": [1.0, 2.0]})
    with pytest.raises(ValueError, match=r"only NaNs can \[0\]"):
        nv.SimpleImputerCore(encoding="label").fit(frame)


def test_numeric_frame_gives_an_empty_column_list():
    _, table, columns = encode(pd.DataFrame({"x": [1.0, 2.0]}))
    assert columns == []
    assert table["x"].dtype == np.float64


class TestDecoding:
    @pytest.fixture
    def two_labels(self):
        encoder, _, _ = encode(pd.DataFrame({"c": ["a", "b"]}))
        return encoder

    @pytest.mark.parametrize(
        "code, label",
        [(0.0, "a"), (1.0, "b"), (1.7, "b"), (-3.0, "a"), (5.0, "NaN"), (np.nan, "NaN")],
    )
    def test_array_output(self, two_labels, code, label):
        out = two_labels.decode(np.array([[code]]))
        assert out.dtype == object and out[0, 0] == label

    @pytest.mark.parametrize("code, label", [(1.0, "b"), (5.0, None), (np.nan, None)])
    def test_frame_output(self, two_labels, code, label):
        out = two_labels.decode(pd.DataFrame({"c": [code]}))
        assert out["c"].tolist() == [label]


class TestBadInput:
    def test_failing_str_propagates_the_callers_error(self):
        class Unprintable:
            def __str__(self):
                raise LookupError("no text for this cell")

        table = np.array([["a", Unprintable()]], dtype=object)
        with pytest.raises(LookupError, match="no text for this cell"):
            tabseam.Encoder().encode(table.T)

    def test_failing_values_propagates(self):
        class DataFrame:
            columns = ["a"]
            shape = (1, 1)

            @property
            def values(self):
                raise OSError("values unavailable")

        with pytest.raises(OSError, match="values unavailable"):
            tabseam.Encoder().encode(DataFrame())

    @pytest.mark.parametrize("shape", [(1,), (1, 2, 3), "ab", None])
    def test_shape_not_a_pair_is_a_type_error(self, shape):
        class DataFrame:
            columns = ["a"]

        DataFrame.shape = shape
        with pytest.raises(TypeError, match="shape"):
            tabseam.Encoder().encode(DataFrame())

    def test_failing_item_access_propagates(self):
        class Cells:
            def __getitem__(self, key):
                raise KeyError(key)

        class DataFrame:
            columns = ["a"]
            shape = (1, 1)
            values = Cells()

        with pytest.raises(KeyError):
            tabseam.Encoder().encode(DataFrame())

    def test_decoding_a_narrower_table_names_the_column(self):
        encoder, _, _ = encode(pd.DataFrame({"x": [1.0], "c": ["a"]}))
        with pytest.raises(ValueError, match="string column 1"):
            encoder.decode(np.array([[0.0]]))
