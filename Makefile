# Thin wrapper over CMake. `make run` builds the program alone and runs it on
# the sample that ships here; `make test` builds and runs every test; `make
# sanitize` runs them again under AddressSanitizer and UBSan (an exhausted
# heap must reach the program's own message, hence allocator_may_return_null);
# `make bench` builds and runs the benchmarks (never part of the tests).
# The MPI library is not built for the sanitizers, so the sanitised tests
# leave tovran-mpi out (`make test` runs it).
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
BENCH_BUILD ?= build-bench
JOBS ?= $(shell nproc)
TOVRAN_WERROR ?= OFF

.PHONY: all configure build run test sanitize bench clean

all: build

configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DTOVRAN_WERROR=$(TOVRAN_WERROR)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Only the program and what it links; the tests are built by `make test`.
run: configure
	cmake --build $(BUILD) -j $(JOBS) --target tovran
	./$(BUILD)/tovran data/sample.txt

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

sanitize:
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTOVRAN_SANITIZE=ON -DTOVRAN_WERROR=ON \
	  -DTOVRAN_MPI=OFF
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	ASAN_OPTIONS=allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j $(JOBS)

bench:
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DTOVRAN_BENCH=ON -DTOVRAN_TESTS=OFF
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	./$(BENCH_BUILD)/bench/tovran_bench
	bench/run_e2e.py --program $(BENCH_BUILD)/tovran

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(BENCH_BUILD)
