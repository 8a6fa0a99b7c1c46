# Two commands from a fresh clone: `make demo` and `make test`.
BUILD ?= build
JOBS ?= 2

.PHONY: all deps build demo test bench clean check-aarch64

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

# The aarch64 cross build under qemu, byte for byte against this machine's
# results (tools/check-aarch64.sh); a few minutes, not part of `make test`.
check-aarch64:
	@JOBS=$(JOBS) tools/check-aarch64.sh $(BUILD) $(BUILD)-aarch64

clean:
	rm -rf $(BUILD) $(BUILD)-aarch64
