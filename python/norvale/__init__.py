"""Imputers for missing values in NumPy arrays and pandas DataFrames."""

from norvale.norvale import ConstantImputerCore, raise_if_nan_col

__all__ = ["ConstantImputerCore", "raise_if_nan_col"]
