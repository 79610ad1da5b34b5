# Tickora: cross-built for 32-bit Windows, run and tested under Wine.
#   make        build build/win32/tickora.exe
#   make run    build and start the program under Wine
#   make test   build and run every test (unit, window and end-to-end)
#   make bench  timing and resource benchmarks, written to docs/BENCHMARKS.md

BUILD_DIR := build/win32
# The test bed's prefix has a Wine virtual desktop (no window manager there); make run's has
# none, so that the panel is a window of the user's own desktop.
WINE_PREFIX := $(CURDIR)/build/wineprefix
RUN_PREFIX := $(CURDIR)/build/wineprefix-run
# Benchmarks get a prefix of their own: a test run in the same prefix would share its
# wineserver and desktop, put its clicks into the recordings and end the other's Wine.
BENCH_PREFIX := $(CURDIR)/build/wineprefix-bench
EXE := $(BUILD_DIR)/tickora.exe

.PHONY: all deps configure build run test bench clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD_DIR)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	      -DCMAKE_BUILD_TYPE=Release >/dev/null

build: deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j2 -- --no-print-directory

run: build
	@scripts/run-app.sh $(RUN_PREFIX) $(EXE)

test: build
	@scripts/run-tests.sh $(WINE_PREFIX) $(BUILD_DIR)

bench: build
	@scripts/run-bench.sh $(BENCH_PREFIX) $(BUILD_DIR)

clean:
	rm -rf build
