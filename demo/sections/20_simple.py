import norvale
from demo import banner, show_rows


def show(table):
    banner("SimpleImputerCore(encoding='label'): column means, and the most frequent species")
    show_rows("before", table)
    show_rows("after", norvale.SimpleImputerCore(encoding="label").fit_transform(table))
