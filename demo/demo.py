"""A small real table before and after each imputer fills it.

The table is scikit-learn's bundled iris data with 15 % of its cells masked at
random. Each module in demo/sections/ (run in file-name order) defines
``show(table)``, receiving a fresh copy of the masked DataFrame.
"""

from __future__ import annotations

import importlib.util
import pathlib

import numpy as np
import pandas as pd
from sklearn.datasets import load_iris

HERE = pathlib.Path(__file__).resolve().parent
ROWS_SHOWN = 8


def masked_iris(seed: int = 7) -> pd.DataFrame:
    iris = load_iris(as_frame=True)
    table = iris.data.copy()
    table.columns = [name.replace(" (cm)", "").replace(" ", "_") for name in table.columns]
    table["species"] = iris.target_names[iris.target]
    table = table.sample(frac=1.0, random_state=seed).reset_index(drop=True)
    rng = np.random.default_rng(seed)
    for column in table.columns:
        hidden = rng.random(len(table)) < 0.15
        table[column] = table[column].astype(object) if column == "species" else table[column]
        table.loc[hidden, column] = np.nan
    return table


def banner(title: str) -> None:
    print()
    print(f"== {title} ==")


def show_rows(label: str, table) -> None:
    print(f"-- {label}")
    frame = table if isinstance(table, pd.DataFrame) else pd.DataFrame(table)
    with pd.option_context("display.width", 120, "display.max_columns", 20):
        print(frame.head(ROWS_SHOWN).to_string())


def main() -> None:
    table = masked_iris()
    missing = int(table.isna().sum().sum())
    print(f"iris: {table.shape[0]} rows x {table.shape[1]} columns, {missing} cells masked")
    for path in sorted((HERE / "sections").glob("*.py")):
        spec = importlib.util.spec_from_file_location(f"demo_{path.stem}", path)
        module = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(module)
        module.show(table.copy())


if __name__ == "__main__":
    main()
