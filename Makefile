# Thin front door over CMake; everything real lives in CMakeLists.txt.
BUILD   ?= build
TYPE    ?= RelWithDebInfo
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
PREFIX  ?= /usr/local
FUZZ_SECONDS ?= 20

.PHONY: all deps configure build run test clean format install package demo bench fuzz test-sanitize

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(TYPE) -DTARVEX_WERROR=ON $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Only the program: the test programs and tools take minutes on two cores.
run: configure
	@cmake --build $(BUILD) -j $(JOBS) --target tarvex
	@scripts/run.sh $(BUILD)/bin/tarvex

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# Installing and packaging need the icon renderer and the .deb tools first, so
# the configure step finds them.
install:
	@scripts/install-deps.sh package
	@$(MAKE) --no-print-directory build
	@cmake --install $(BUILD) --prefix $(PREFIX)

package:
	@scripts/install-deps.sh package
	@$(MAKE) --no-print-directory build
	@cmake --build $(BUILD) --target package

demo:
	@BUILD=$(BUILD) scripts/demo.sh

# Benchmarks in a build of their own, with the same optimisation as `make`;
# each prints one table (bench/RESULTS.md keeps one run's figures).
bench: deps
	@cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=$(TYPE) -DTARVEX_WERROR=ON \
		-DTARVEX_BUILD_BENCH=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-bench -j $(JOBS) --target benchmarks
	@bench/run.sh build-bench

# libFuzzer needs clang; each target runs FUZZ_SECONDS from the seed corpus.
fuzz:
	@scripts/install-deps.sh fuzz
	@cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
		-DTARVEX_WERROR=ON -DTARVEX_FUZZ=ON -DTARVEX_BUILD_TESTS=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target fuzzers
	@FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run.sh build-fuzz

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer; any
# report fails the test that caused it.
test-sanitize: deps
	@cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=$(TYPE) -DTARVEX_WERROR=ON \
		-DTARVEX_SANITIZE=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@cd build-asan && QT_QPA_PLATFORM=offscreen \
		ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD)
