import norvale
from demo import banner, show_rows


def show(table):
    banner("KnnImputerCore(k=5): mean of the 5 nearest rows (nan_euclid)")
    numbers = table.drop(columns=["species"]).to_numpy(dtype=float)
    show_rows("before", numbers)
    show_rows("after", norvale.KnnImputerCore(k=5).fit_transform(numbers))

    banner(
        'KnnImputerCore(k=5, metric="gower", weights="distance", encoding="label"): '
        "species too"
    )
    imputer = norvale.KnnImputerCore(k=5, metric="gower", weights="distance", encoding="label")
    show_rows("before", table)
    show_rows("after", imputer.fit_transform(table))
