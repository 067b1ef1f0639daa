import pickle

import numpy as np
import pandas as pd
import pytest

import tabseam


@pytest.mark.parametrize("encoding", [None, "label"])
def test_constructor_accepts_none_and_label(encoding, labelled_frame):
    table, columns = tabseam.Encoder(encoding).encode(labelled_frame)
    assert columns == [0]
    assert table["name"].tolist() == [1.0, 0.0, 1.0]


@pytest.mark.parametrize("encoding", ["Label", "", "onehot"])
def test_other_strategies_are_rejected(encoding):
    with pytest.raises(ValueError) as raised:
        tabseam.Encoder(encoding)
    assert str(raised.value) == f"{encoding} is not a supported encoding strategy for strings!"


def test_non_string_strategy_is_a_type_error():
    with pytest.raises(TypeError, match="argument 'encoding'"):
        tabseam.Encoder(encoding=0)


def test_encode_then_decode_restores_labels(labelled_frame):
    encoder = tabseam.Encoder()
    table, _ = encoder.encode(labelled_frame)
    assert table.dtypes.tolist() == [np.float64, np.float64]
    decoded = encoder.decode(table)
    assert decoded["name"].tolist() == ["b", "a", "b"]
    assert decoded["name"].dtype == object
    np.testing.assert_array_equal(decoded["age"], labelled_frame["age"])


def test_float_array_clears_the_stored_maps(labelled_frame):
    encoder = tabseam.Encoder()
    encoder.encode(labelled_frame)
    table = np.array([[1.0, 2.0], [3.0, 4.0]])
    out, columns = encoder.encode(table)
    assert columns is None and out is not table
    np.testing.assert_array_equal(out, table)
    assert encoder.__getstate__() == b"\x00" + bytes(4)
    assert encoder.decode(table).dtype == np.float64


def test_decode_before_encode_returns_the_values():
    out = tabseam.Encoder().decode(pd.DataFrame({"a": [1.0, 2.0]}, index=[4, 5]))
    assert out["a"].tolist() == [1.0, 2.0] and list(out.index) == [0, 1]


def test_failed_encode_keeps_the_maps(labelled_frame):
    encoder = tabseam.Encoder()
    encoder.encode(labelled_frame)
    before = encoder.__getstate__()
    with pytest.raises(TypeError):
        encoder.encode([[1]])
    assert encoder.__getstate__() == before


def test_restored_encoder_decodes_alike(labelled_frame):
    encoder = tabseam.Encoder()
    table, _ = encoder.encode(labelled_frame)
    restored = pickle.loads(pickle.dumps(encoder))
    pd.testing.assert_frame_equal(restored.decode(table), encoder.decode(table))


def test_fresh_state_is_five_bytes():
    assert tabseam.Encoder().__getstate__() == b"\x00\x00\x00\x00\x00"


def test_strategy_index_other_than_label_is_refused():
    with pytest.raises(ValueError) as raised:
        tabseam.Encoder().__setstate__(b"\x00\x01\x00\x00\x00")
    assert str(raised.value) == (
        "failed to unpickle Encoder: invalid value: integer `1`, expected variant index 0 <= i < 1"
    )
