"""Times norvale and scikit-learn side by side on the same data.

Every case module in bench/cases/ defines ``cases()``, a list of ``Case``.
Each side of each case runs in a fresh subprocess, so its peak memory is its
own; results are handed back through a temporary .npy file so that a case can
report how far the two sides' outputs are apart.

    python bench/bench.py            all cases
    python bench/bench.py knn        cases whose name contains "knn"
"""

from __future__ import annotations

import dataclasses
import importlib.util
import json
import pathlib
import resource
import subprocess
import sys
import tempfile
import time
from typing import Any, Callable

import numpy as np

HERE = pathlib.Path(__file__).resolve().parent


@dataclasses.dataclass
class Case:
    name: str
    make_data: Callable[[], Any]
    ours: Callable[[Any], np.ndarray]
    theirs: Callable[[Any], np.ndarray]
    repeats: int = 3
    # Summarises how the two outputs differ, e.g. "max |diff| 1e-15".
    compare: Callable[[np.ndarray, np.ndarray], str] | None = None
    # Extra (label, callable) runs of our side, e.g. with one pool thread.
    variants: list[tuple[str, Callable[[Any], np.ndarray]]] = dataclasses.field(
        default_factory=list
    )
    # Called in our side's process after its timed runs; its text is added to
    # the note (e.g. the share of time spent inside LAPACK/BLAS).
    profile: Callable[[], str] | None = None


def masked(rows: int, cols: int, fraction: float = 0.1, seed: int = 0) -> np.ndarray:
    """Random normal data with `fraction` of the cells set to NaN, no empty column."""
    rng = np.random.default_rng(seed)
    data = rng.normal(size=(rows, cols))
    data[rng.random((rows, cols)) < fraction] = np.nan
    data[0] = np.where(np.isnan(data[0]), 0.0, data[0])
    return data


def max_abs_difference(ours: np.ndarray, theirs: np.ndarray) -> str:
    diff = np.abs(np.asarray(ours, dtype=float) - np.asarray(theirs, dtype=float))
    return f"max |diff| {np.nanmax(diff):.3g}"


def load_case_modules():
    modules = []
    for path in sorted((HERE / "cases").glob("*.py")):
        spec = importlib.util.spec_from_file_location(f"bench_cases_{path.stem}", path)
        module = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(module)
        modules.append(module)
    return modules


def all_cases() -> list[Case]:
    return [case for module in load_case_modules() for case in module.cases()]


def run_side(case_index: int, side: str, output: str) -> None:
    """Child process: time one side of one case and report as JSON."""
    case = all_cases()[case_index]
    data = case.make_data()
    if side == "ours":
        function = case.ours
    elif side == "theirs":
        function = case.theirs
    else:
        function = dict(case.variants)[side]
    best = float("inf")
    result = None
    for _ in range(case.repeats):
        start = time.perf_counter()
        result = function(data)
        best = min(best, time.perf_counter() - start)
    np.save(output, np.asarray(result, dtype=object if np.asarray(result).dtype == object else float))
    peak_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    report = {"seconds": best, "peak_mib": peak_kib / 1024}
    if side == "ours" and case.profile:
        report["profile"] = case.profile()
    print(json.dumps(report))


def measure(case_index: int, side: str, workdir: str) -> tuple[dict, np.ndarray]:
    output = str(pathlib.Path(workdir) / f"{case_index}-{side}.npy")
    completed = subprocess.run(
        [sys.executable, __file__, "--run", str(case_index), side, output],
        check=True,
        capture_output=True,
        text=True,
    )
    report = json.loads(completed.stdout.strip().splitlines()[-1])
    return report, np.load(output, allow_pickle=True)


def main(argv: list[str]) -> None:
    if argv[:1] == ["--run"]:
        run_side(int(argv[1]), argv[2], argv[3])
        return
    wanted = argv[0] if argv else ""
    cases = all_cases()
    header = f"{'case':<44} {'norvale s':>10} {'sklearn s':>10} {'ratio':>8} {'norvale MiB':>12} {'sklearn MiB':>12}  note"
    print(header)
    print("-" * len(header))
    with tempfile.TemporaryDirectory() as workdir:
        for index, case in enumerate(cases):
            if wanted not in case.name:
                continue
            ours, ours_out = measure(index, "ours", workdir)
            theirs, theirs_out = measure(index, "theirs", workdir)
            ratio = theirs["seconds"] / ours["seconds"] if ours["seconds"] > 0 else float("inf")
            note = case.compare(ours_out, theirs_out) if case.compare else ""
            if "profile" in ours:
                note = f"{note}; {ours['profile']}" if note else ours["profile"]
            print(
                f"{case.name:<44} {ours['seconds']:>10.4f} {theirs['seconds']:>10.4f} "
                f"{ratio:>7.1f}x {ours['peak_mib']:>12.1f} {theirs['peak_mib']:>12.1f}  {note}",
                flush=True,
            )
            for label, _ in case.variants:
                variant, _ = measure(index, label, workdir)
                print(
                    f"  {case.name + ' ' + label:<42} {variant['seconds']:>10.4f} "
                    f"{'':>10} {ours['seconds'] and variant['seconds'] / ours['seconds']:>7.2f}x "
                    f"{variant['peak_mib']:>12.1f}  (time relative to the default run)",
                    flush=True,
                )


if __name__ == "__main__":
    main(sys.argv[1:])
