"""MissForest: the experimental forest imputer.

Its forests hold no trees, so every prediction is 0 (NaN with n_trees=0);
predictions go only into cells that were missing, observed cells come back
unchanged.
"""

import copy
import pickle
import subprocess
import sys
import threading
import warnings

import numpy as np
import pandas as pd
import pytest

from norvale import MissForest

EXPERIMENTAL = "MissForest is currently experimental and may produce unexpected results."
ENCODING = "Encoding Parameter is passed, but categorical handling is incomplete"
NAN = np.nan


@pytest.fixture
def table():
    return np.array([[1.0, NAN, 10.0], [3.0, 4.0, NAN], [NAN, 8.0, 30.0]])


def quiet_fit(imputer, data):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return imputer.fit(data)


def quiet_fit_transform(imputer, data):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return imputer.fit_transform(data)


class TestSurface:
    def test_class_has_no_module_qualifier(self):
        assert repr(MissForest) == "<class 'MissForest'>"
        assert "__module__" not in vars(MissForest)

    def test_signatures_and_members(self):
        assert MissForest.__text_signature__ == (
            "(n_trees=15, max_depth=15, min_samples_leaf=5, seed=None, encoding=None)"
        )
        for name in ("fit", "transform", "fit_transform"):
            assert getattr(MissForest, name).__text_signature__ == "($self, data)"
        own = {name for name in vars(MissForest) if not name.startswith("__")}
        assert own == {"fit", "transform", "fit_transform"}
        assert "__getstate__" not in vars(MissForest)
        assert "__setstate__" not in vars(MissForest)

    def test_import_survives_warnings_as_errors(self):
        # Creating a class without a module qualifier makes the interpreter
        # warn; that must not break `python -W error`.
        code = "import warnings, norvale; print(norvale.MissForest, len(warnings.filters))"
        plain = subprocess.run(
            [sys.executable, "-W", "error", "-c", code], capture_output=True, text=True
        )
        assert plain.returncode == 0, plain.stderr
        assert plain.stdout.startswith("<class 'MissForest'>")
        # The filters are as the caller set them: nothing is left behind.
        baseline = subprocess.run(
            [sys.executable, "-W", "error", "-c", "import warnings; print(len(warnings.filters))"],
            capture_output=True,
            text=True,
        )
        assert plain.stdout.split()[-1] == baseline.stdout.strip()


class TestConstruction:
    @pytest.mark.parametrize(
        "args, kwargs",
        [
            ((), {}),
            ((0, 0, 0, 0, "label"), {}),
            ((), {"seed": 2**64 - 1}),
            ((), {"n_trees": np.uint64(3), "seed": np.int64(5)}),
            ((), {"max_depth": 2**64 - 1, "min_samples_leaf": True, "encoding": None}),
        ],
    )
    def test_accepted(self, args, kwargs, table):
        imputer = MissForest(*args, **kwargs)
        assert quiet_fit(imputer, table) is imputer

    @pytest.mark.parametrize(
        "kwargs, error, match",
        [
            ({"seed": -1}, TypeError, r"argument 'seed' must be an int from 0 to 18446744073709551615"),
            ({"seed": 2**64}, TypeError, r"argument 'seed' must be an int from 0 to"),
            ({"seed": 1.0}, TypeError, r"argument 'seed' must be int, not float"),
            ({"n_trees": -1}, TypeError, r"argument 'n_trees' must be an int from 0"),
            ({"n_trees": None}, TypeError, r"argument 'n_trees' must be int, not NoneType"),
            ({"max_depth": "15"}, TypeError, r"argument 'max_depth' must be int, not str"),
            ({"min_samples_leaf": 2.5}, TypeError, r"argument 'min_samples_leaf' must be int"),
            ({"encoding": 1}, TypeError, r"argument 'encoding' must be str or None, not int"),
            ({"trees": 3}, TypeError, r"unexpected keyword argument 'trees'"),
        ],
    )
    def test_argument_errors_name_the_argument(self, kwargs, error, match):
        with pytest.raises(error, match=match):
            MissForest(**kwargs)

    @pytest.mark.parametrize("encoding", ["LABEL", "Label", "None", ""])
    def test_encoding_text_must_be_exactly_label(self, encoding):
        with pytest.raises(ValueError) as raised:
            MissForest(encoding=encoding)
        assert str(raised.value) == (
            f'LabelEncoding: [{encoding}] is not supportedSupported values: ["label", "None"]'
        )

    def test_too_many_positional_arguments(self):
        with pytest.raises(TypeError, match="at most 5 arguments"):
            MissForest(1, 2, 3, 4, None, 6)


class TestWarnings:
    def test_every_fit_warns(self, table):
        imputer = MissForest()
        for call in (imputer.fit, imputer.fit, imputer.fit_transform):
            with pytest.warns(UserWarning) as caught:
                call(table)
            assert [str(w.message) for w in caught] == [EXPERIMENTAL]

    def test_encoding_adds_a_second_warning_after_the_first(self, table):
        with pytest.warns(UserWarning) as caught:
            MissForest(encoding="label").fit(table)
        assert [str(w.message) for w in caught] == [EXPERIMENTAL, ENCODING]
        # Stack level 1: attributed to the line that called fit.
        assert all(w.category is UserWarning and w.filename == __file__ for w in caught)

    @pytest.mark.parametrize(
        "message, encoding, data, error",
        [
            (EXPERIMENTAL, None, np.zeros((2, 3)), UserWarning),
            (ENCODING, "label", np.zeros((2, 3)), UserWarning),
            ("", None, [[1.0, 2.0, 3.0]], TypeError),
            ("", None, np.zeros((2, 3), dtype=np.int64), Exception),
        ],
        ids=["experimental-warning", "encoding-warning", "unsupported-type", "no-encoding"],
    )
    def test_failed_fit_changes_nothing(self, message, encoding, data, error, capsys):
        """A fit that fails keeps the previous fit: unfitted stays unfitted, a
        fitted imputer keeps its fitted width."""
        fresh = MissForest(encoding=encoding)
        fitted = MissForest(encoding=encoding)
        quiet_fit(fitted, np.zeros((2, 2)))
        for imputer in (fresh, fitted):
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                if message:
                    warnings.filterwarnings("error", message=message)
                with pytest.raises(error):
                    imputer.fit(data)
        capsys.readouterr()
        with pytest.raises(TypeError, match="Imputer not fitted, please call fit first"):
            fresh.transform(np.zeros((2, 3)))
        assert fitted.transform(np.array([[NAN, 1.0]])).tolist() == [[0.0, 1.0]]


class TestTransform:
    def test_before_fit(self, table):
        with pytest.raises(TypeError) as raised:
            MissForest().transform(table)
        assert str(raised.value) == "Imputer not fitted, please call fit first"

    @pytest.mark.parametrize("n_trees, fill", [(15, 0.0), (1, 0.0), (0, NAN)])
    def test_only_missing_cells_take_the_prediction(self, table, n_trees, fill):
        original = table.copy()
        result = quiet_fit_transform(MissForest(n_trees=n_trees), table)
        expected = np.where(np.isnan(original), fill, original)
        np.testing.assert_array_equal(result, expected)
        assert result.dtype == np.float64
        np.testing.assert_array_equal(table, original)

    def test_dataframe_with_a_string_column(self):
        frame = pd.DataFrame(
            {"size": [1.5, NAN, 2.5, 4.0], "kind": ["c", NAN, "a", "c"]}, index=[7, 8, 9, 10]
        )
        result = quiet_fit_transform(MissForest(encoding="label"), frame)
        assert isinstance(result, pd.DataFrame)
        assert list(result.columns) == ["size", "kind"]
        assert list(result.index) == [0, 1, 2, 3]
        assert result["size"].tolist() == [1.5, 0.0, 2.5, 4.0]
        # The missing label takes code 0, the first label in byte order, not the
        # most frequent one.
        assert result["kind"].tolist() == ["c", "a", "a", "c"]

    def test_columns_missing_everywhere_are_accepted(self):
        data = np.array([[1.0, NAN], [2.0, NAN]])
        result = quiet_fit_transform(MissForest(), data)
        np.testing.assert_array_equal(result, [[1.0, 0.0], [2.0, 0.0]])

    def test_zero_rows(self):
        imputer = quiet_fit(MissForest(), np.zeros((0, 3)))
        assert imputer.transform(np.zeros((0, 3))).shape == (0, 3)

    @pytest.mark.parametrize("width", [2, 4])
    def test_column_count_must_match_the_fit(self, table, width):
        imputer = quiet_fit(MissForest(), table)
        with pytest.raises(ValueError) as raised:
            imputer.transform(np.zeros((2, width)))
        assert str(raised.value) == (
            f"The estimator was fitted on 3 features, but {width} were provided!"
        )

    @pytest.mark.parametrize("seeds", [(5, 5), (None, None), (0, 2**64 - 1)])
    def test_results_do_not_depend_on_the_seed(self, table, seeds):
        first, second = (quiet_fit_transform(MissForest(seed=s), table) for s in seeds)
        np.testing.assert_array_equal(first, second)


class TestPickling:
    def interpreter_refusal(self):
        """What the interpreter says for another native object without state
        support, with that object's type name swapped for MissForest."""
        lock = threading.Lock()
        with pytest.raises(TypeError) as raised:
            pickle.dumps(lock)
        lock_type = type(lock)
        return str(raised.value).replace(
            f"{lock_type.__module__}.{lock_type.__qualname__}", "MissForest"
        )

    @pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
    @pytest.mark.parametrize("fitted", [False, True])
    def test_refused_with_the_interpreters_error(self, table, protocol, fitted):
        imputer = MissForest()
        if fitted:
            quiet_fit(imputer, table)
        with pytest.raises(TypeError) as raised:
            pickle.dumps(imputer, protocol=protocol)
        assert isinstance(raised.value, Exception)
        assert str(raised.value) == "cannot pickle 'MissForest' object"
        assert str(raised.value) == self.interpreter_refusal()

    @pytest.mark.parametrize("duplicate", [copy.copy, copy.deepcopy])
    def test_copies_are_refused_too(self, duplicate):
        with pytest.raises(TypeError, match="cannot pickle 'MissForest' object"):
            duplicate(MissForest())
