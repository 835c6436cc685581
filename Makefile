# Thin front door over CMake; everything real lives in CMakeLists.txt.
BUILD   ?= build
TYPE    ?= RelWithDebInfo
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
PREFIX  ?= /usr/local

.PHONY: all deps configure build run test clean format install package demo

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(TYPE) -DTARVEX_WERROR=ON $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
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

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD)
