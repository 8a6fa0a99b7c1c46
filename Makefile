# Two commands from a fresh clone: `make demo` and `make test`.
BUILD ?= build
JOBS ?= 2

.PHONY: all deps build demo test bench clean

all: build

deps:
	@tools/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

demo: build
	@tools/demo.sh $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	@bench/run_benchmarks.py --build $(BUILD) $(BENCH_ARGS)

clean:
	rm -rf $(BUILD)
