import numpy as np
import pandas as pd
import pytest

NAN = np.nan


@pytest.fixture
def small_table():
    """3 × 2 float64 array with one missing cell."""
    return np.array([[1.0, NAN], [3.0, 4.0], [5.0, 6.0]])


@pytest.fixture
def labelled_frame():
    """A string column (b, a, b) beside a float column with one missing cell."""
    return pd.DataFrame({"name": ["b", "a", "b"], "age": [1.0, NAN, 3.0]})


class DataFrame:
    """Looks like a DataFrame by type name; runs `callback` when its columns are read.

    Lets a test call back into an imputer while the imputer is converting input.
    """

    def __init__(self, callback):
        self.callback = callback

    @property
    def columns(self):
        self.callback()
        return ["a"]


@pytest.fixture
def reentrant_frame():
    return DataFrame
