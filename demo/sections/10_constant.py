import norvale
from demo import banner, show_rows


def show(table):
    banner("ConstantImputerCore(value=-1): every missing number becomes -1")
    numbers = table.drop(columns=["species"]).to_numpy(dtype=float)
    show_rows("before", numbers)
    show_rows("after", norvale.ConstantImputerCore(value=-1).fit_transform(numbers))
