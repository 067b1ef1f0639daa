"""Imputers for missing values in NumPy arrays and pandas DataFrames.

Every public name of the native module norvale.norvale is re-exported here.
"""

from norvale import norvale as _native

__all__ = [name for name in dir(_native) if not name.startswith("_")]
globals().update({name: getattr(_native, name) for name in __all__})
