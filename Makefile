# Every step runs inside the project's own Debian forky root (dev/env), which
# is created on first use.
.PHONY: demo test bench install env

demo:
	dev/env run dev/tasks demo

test:
	dev/env run dev/tasks test

bench:
	dev/env run dev/tasks bench

install:
	dev/env run dev/tasks install

env:
	dev/env ensure
