"""The pickling envelope, common to every picklable class."""

import pickle
import subprocess
import sys
import warnings

import numpy as np
import pandas as pd
import pytest

import norvale.norvale as nv
import tabseam


def fitted_constant():
    return nv.ConstantImputerCore(value=-2.0).fit(np.array([[1.0, np.nan], [2.0, 3.0]]))


def fitted_simple():
    frame = pd.DataFrame({"c": ["a", "b", "b", None], "x": [1.0, np.nan, 3.0, 4.0]})
    return nv.SimpleImputerCore(encoding="label").fit(frame)


def fitted_encoder():
    encoder = tabseam.Encoder()
    encoder.encode(pd.DataFrame({"c": ["z", "y", "nan"], "d": ["1", "2", "1"]}))
    return encoder


# (factory of a fitted instance, class word in the unpickle message, how to use it)
PICKLABLE = {
    "ConstantImputerCore": (fitted_constant, "ConstantImputer", lambda o, t: o.transform(t)),
    "SimpleImputerCore": (fitted_simple, "SimpleImputer", lambda o, t: o.transform(t)),
    "Encoder": (fitted_encoder, "Encoder", lambda o, t: o.decode(t)),
}

PROBE = pd.DataFrame({"c": ["a", None, "b", "b"], "x": [np.nan, 2.0, 3.0, 4.0]})
PROBE_ARRAY = np.array([[0.0, 1.0], [np.nan, 0.0], [1.0, np.nan]])


def probe_for(name):
    return PROBE_ARRAY if name == "ConstantImputerCore" else PROBE


def same_output(left, right):
    if isinstance(left, pd.DataFrame):
        pd.testing.assert_frame_equal(left, right)
    else:
        np.testing.assert_array_equal(left, right)


@pytest.fixture(params=list(PICKLABLE))
def picklable(request):
    factory, word, use = PICKLABLE[request.param]
    return request.param, factory, word, use


def test_round_trip_behaves_the_same(picklable):
    name, factory, _, use = picklable
    original = factory()
    restored = pickle.loads(pickle.dumps(original))
    same_output(use(restored, probe_for(name)), use(original, probe_for(name)))


def test_empty_state_fails_and_leaves_the_object_alone(picklable):
    _, factory, word, _ = picklable
    original = factory()
    before = original.__getstate__()
    with pytest.raises(ValueError) as raised:
        original.__setstate__(b"")
    assert str(raised.value) == f"failed to unpickle {word}: io error: unexpected end of file"
    assert original.__getstate__() == before


def test_trailing_bytes_are_ignored(picklable):
    name, factory, _, use = picklable
    original = factory()
    copy = type(original)()
    copy.__setstate__(original.__getstate__() + b"\x07\x00trailing")
    same_output(use(copy, probe_for(name)), use(original, probe_for(name)))


@pytest.mark.parametrize("state", [None, "text", bytearray(b"\x00"), memoryview(b"\x00")])
def test_state_must_be_bytes(picklable, state):
    _, factory, _, _ = picklable
    with pytest.raises(TypeError, match="argument 'state'"):
        factory().__setstate__(state)


def test_bytes_subclasses_are_accepted(picklable):
    _, factory, _, _ = picklable

    class Blob(bytes):
        pass

    original = factory()
    copy = type(original)()
    copy.__setstate__(Blob(original.__getstate__()))


def test_unfitted_state_restores_unfitted():
    fresh = nv.SimpleImputerCore()
    restored = pickle.loads(pickle.dumps(fresh))
    with pytest.raises(RuntimeError, match="not fitted"):
        restored.transform(PROBE_ARRAY)


def test_hostile_states_never_crash(picklable):
    """Every prefix and many single-byte corruptions either load or raise ValueError."""
    _, factory, _, _ = picklable
    state = factory().__getstate__()
    target = type(factory())()
    candidates = [state[:n] for n in range(len(state))]
    for at in range(len(state)):
        for value in (0x00, 0x01, 0x02, 0x80, 0xFF):
            candidates.append(state[:at] + bytes([value]) + state[at + 1 :])
    for candidate in candidates:
        try:
            target.__setstate__(candidate)
        except ValueError as error:
            assert str(error).startswith("failed to unpickle ")


@pytest.mark.parametrize(
    "state, reason",
    [
        # ConstantImputer: value, ncols, then is_fitted = 2
        (bytes(16) + b"\x02\x00", "invalid u8 while decoding bool, expected 0 or 1, found 2"),
        (bytes(16) + b"\x00\x07", "tag for enum is not valid, found 7"),
        (bytes(16) + b"\x00\x01" + (1).to_bytes(4, "little"),
         "invalid value: integer `1`, expected variant index 0 <= i < 1"),
        (bytes(12), "io error: unexpected end of file"),
    ],
)
def test_decode_failures_carry_the_reason(state, reason):
    imputer = nv.ConstantImputerCore(value=5.0)
    with pytest.raises(ValueError) as raised:
        imputer.__setstate__(state)
    assert str(raised.value) == f"failed to unpickle ConstantImputer: {reason}"
    assert imputer.__getstate__()[:8] == np.float64(5.0).tobytes()


def test_huge_sequence_count_fails_without_allocating():
    # SimpleImputer: present sample_means whose count claims 2^63 values.
    state = b"\x01" + (1 << 63).to_bytes(8, "little") + bytes(16)
    with pytest.raises(ValueError, match="unexpected end of file"):
        nv.SimpleImputerCore().__setstate__(state)


def test_float_bits_survive_a_round_trip():
    special = [np.nan, -0.0, np.inf, -np.inf]
    for value in special:
        imputer = nv.ConstantImputerCore(value=value)
        restored = pickle.loads(pickle.dumps(imputer))
        assert restored.__getstate__()[:8] == np.float64(value).tobytes()


def test_pickle_loads_in_a_fresh_process():
    encoder = fitted_encoder()
    expected = encoder.decode(PROBE)
    script = (
        "import pickle, sys; e = pickle.loads(sys.stdin.buffer.read());"
        "import pandas as pd, numpy as np;"
        "t = pd.DataFrame({'c': ['a', None, 'b', 'b'], 'x': [np.nan, 2.0, 3.0, 4.0]});"
        "sys.stdout.buffer.write(pickle.dumps((e.decode(t), e.__getstate__())))"
    )
    done = subprocess.run(
        [sys.executable, "-c", script], input=pickle.dumps(encoder), capture_output=True, check=True
    )
    decoded, state_there = pickle.loads(done.stdout)
    pd.testing.assert_frame_equal(decoded, expected)
    # Maps may be written in another order there; the content is the same.
    assert len(state_there) == len(encoder.__getstate__())
