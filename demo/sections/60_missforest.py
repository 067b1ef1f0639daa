import warnings

import norvale
from demo import banner, show_rows


def show(table):
    banner("MissForest(seed=0): experimental, its forests hold no trees yet, so gaps become 0")
    numbers = table.drop(columns=["species"]).to_numpy(dtype=float)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        filled = norvale.MissForest(seed=0).fit_transform(numbers)
    print(f"-- fit warned: {caught[0].message}")
    show_rows("after (observed cells unchanged)", filled)
