import norvale
from demo import banner, show_rows


def show(table):
    banner("MiceCore: chained per-column models, species through the indicator classifier")
    show_rows("before", table)
    for backend in ("linear", "ridge", "pmm"):
        imputer = norvale.MiceCore(max_iter=10, backend=backend, alpha=1.0, encoding="label")
        filled = imputer.fit_transform(table)
        show_rows(f"after, backend={backend!r} ({imputer._n_iter} iterations)", filled)
