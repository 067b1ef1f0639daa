import inspect
import pickle

import numpy as np
import pandas as pd
import pytest

import norvale
import norvale.norvale as nv
import tabseam

REGISTRATION_ORDER = [
    "raise_if_nan_col",
    "KnnImputerCore",
    "SVMImputerCore",
    "MiceCore",
    "SimpleImputerCore",
    "ConstantImputerCore",
    "MissForest",
]

SIGNATURES = {
    "raise_if_nan_col": "(data)",
    "SimpleImputerCore": "(encoding=None)",
    "ConstantImputerCore": "(value=0.0, encoding=None)",
}


def test_objects_are_registered_in_order():
    registered = [name for name in vars(nv) if name in REGISTRATION_ORDER]
    assert registered == REGISTRATION_ORDER


@pytest.mark.parametrize("name, signature", SIGNATURES.items())
def test_docstrings_are_text_signatures_only(name, signature):
    obj = getattr(nv, name)
    assert obj.__text_signature__ == signature
    assert not obj.__doc__


def test_core_classes_report_the_native_module():
    for name in ("SimpleImputerCore", "ConstantImputerCore"):
        assert getattr(nv, name).__module__ == "norvale.norvale"
    assert tabseam.Encoder.__module__ == "tabseam"


def test_modules_share_a_one_sentence_docstring():
    assert nv.__doc__ == tabseam.__doc__
    assert nv.__doc__.count(".") == 1 and nv.__doc__.endswith(".")


def test_package_reexports_the_native_classes():
    assert norvale.ConstantImputerCore is nv.ConstantImputerCore
    assert "raise_if_nan_col" in norvale.__all__


@pytest.mark.parametrize(
    "method, signature",
    [
        (nv.ConstantImputerCore.fit, "($self, _data)"),
        (nv.ConstantImputerCore.transform, "($self, data)"),
        (nv.SimpleImputerCore.fit, "($self, data)"),
        (nv.SimpleImputerCore.__setstate__, "($self, state)"),
        (nv.SimpleImputerCore.__getstate__, "($self)"),
    ],
)
def test_methods_carry_text_signatures(method, signature):
    assert method.__text_signature__ == signature


class TestArguments:
    def test_constant_fit_takes_underscore_data_by_keyword(self, small_table):
        imputer = nv.ConstantImputerCore()
        assert imputer.fit(_data=small_table) is imputer
        with pytest.raises(TypeError, match="unexpected keyword argument 'data'"):
            imputer.fit(data=small_table)

    @pytest.mark.parametrize(
        "call, message",
        [
            (lambda: nv.ConstantImputerCore(value="x"), "argument 'value'"),
            (lambda: nv.ConstantImputerCore(encoding=1), "argument 'encoding'"),
            (lambda: nv.SimpleImputerCore(encoding=b"label"), "argument 'encoding'"),
            (lambda: nv.ConstantImputerCore(1.0, None, 3), "at most 2 arguments"),
            (lambda: nv.ConstantImputerCore(1.0, value=2.0), "multiple values for argument 'value'"),
            (lambda: nv.ConstantImputerCore().fit(), "missing required argument '_data'"),
            (lambda: nv.SimpleImputerCore().fit(np.zeros((1, 1)), 2), "at most 1 argument"),
        ],
    )
    def test_argument_errors_name_the_argument(self, call, message):
        with pytest.raises(TypeError, match=message):
            call()

    @pytest.mark.parametrize("value", [3, np.float32(2.5), np.int64(7), True])
    def test_value_accepts_anything_convertible_to_float(self, value):
        filled = nv.ConstantImputerCore(value=value).fit_transform(np.array([[np.nan], [0.5]]))
        assert filled[0, 0] == float(value)


class TestEncodingOption:
    @pytest.mark.parametrize("text", ["Label", "None", "", "label "])
    def test_simple_imputer_rejects_anything_but_label(self, text):
        with pytest.raises(ValueError) as raised:
            nv.SimpleImputerCore(encoding=text)
        assert str(raised.value) == (
            f'LabelEncoding: [{text}] is not supportedSupported values: ["label", "None"]'
        )

    @pytest.mark.parametrize("text", ["Label", "anything", ""])
    def test_constant_imputer_takes_any_string_as_label(self, text):
        assert nv.ConstantImputerCore(encoding=text).encoding == "label"

    def test_none_means_no_encoding(self):
        assert nv.SimpleImputerCore().encoding is None
        assert nv.SimpleImputerCore(encoding="label").encoding == "label"


class TestBorrowing:
    def test_fit_inside_fit_is_a_panic(self, reentrant_frame):
        imputer = nv.ConstantImputerCore()
        frame = reentrant_frame(lambda: imputer.fit(np.zeros((1, 1))))
        with pytest.raises(BaseException, match="Already borrowed") as raised:
            imputer.fit(frame)
        assert not isinstance(raised.value, Exception)
        assert type(raised.value).__name__ == "PanicException"

    def test_read_inside_fit_is_refused(self, reentrant_frame):
        imputer = nv.SimpleImputerCore()
        frame = reentrant_frame(lambda: imputer.encoding)
        with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
            imputer.fit(frame)

    def test_setstate_inside_transform_is_refused(self, reentrant_frame, small_table):
        imputer = nv.ConstantImputerCore().fit(small_table)
        state = imputer.__getstate__()
        frame = reentrant_frame(lambda: imputer.__setstate__(state))
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            imputer.transform(frame)
        # The borrow is released after the failure.
        imputer.__setstate__(state)


class TestRaiseIfNanCol:
    def test_accepts_a_frame_with_a_string_column(self, labelled_frame):
        assert nv.raise_if_nan_col(labelled_frame) is None

    @pytest.mark.parametrize(
        "table, columns",
        [
            (np.array([[np.nan, 1.0, np.nan], [np.nan, 2.0, np.nan]]), "[0, 2]"),
            (np.zeros((0, 3)), "[0, 1, 2]"),
            (pd.DataFrame({"a": ["nan", "NaN"], "b": [1.0, 2.0]}), "[0]"),
            (np.array([[1, 2]], dtype=np.int64)[:0], "[0, 1]"),
        ],
    )
    def test_lists_the_empty_columns(self, table, columns):
        with pytest.raises(ValueError) as raised:
            nv.raise_if_nan_col(table)
        assert str(raised.value) == f"The following columns contain only NaNs can {columns}"

    def test_propagates_conversion_errors(self):
        with pytest.raises(TypeError, match="Unsupported type: 'list'"):
            nv.raise_if_nan_col([[1.0]])


def test_instances_from_pickling_are_independent(small_table):
    imputer = nv.ConstantImputerCore(value=2.0).fit(small_table)
    copy = pickle.loads(pickle.dumps(imputer))
    assert copy is not imputer
    np.testing.assert_array_equal(copy.transform(small_table), imputer.transform(small_table))


def test_signature_introspection_works():
    assert list(inspect.signature(nv.ConstantImputerCore).parameters) == ["value", "encoding"]
