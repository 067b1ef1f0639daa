import norvale
from demo import banner, show_rows


def show(table):
    banner('SVMImputerCore(kernel="rbf", encoding="label"): one LIBSVM model per column')
    print("numbers by epsilon-SVR, species by C-SVC, each from the other columns")
    show_rows("before", table)
    imputer = norvale.SVMImputerCore(kernel="rbf", encoding="label")
    show_rows("after", imputer.fit_transform(table))
