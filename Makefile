# Convenience wrapper around CMake. `make demo` sets everything up and converts
# the sample book; `make test` builds and runs the whole test suite;
# `make windows` cross-builds the Windows programs.
BUILD_DIR ?= build
WINDOWS_BUILD_DIR ?= build-windows
RUN_UNDER_WINE = tests/windows/run-under-wine.sh
JOBS ?= $(shell nproc)
DEMO_OUTPUT = $(BUILD_DIR)/demo/psalms.rtf

.PHONY: all deps configure build demo windows test clean

all: build

deps:
	scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

demo: build
	mkdir -p $(BUILD_DIR)/demo
	$(BUILD_DIR)/cli/quillon-cli $(BUILD_DIR)/samples/psalms $(DEMO_OUTPUT)
	@echo "Converted the sample book into $(abspath $(DEMO_OUTPUT))"

# SWORD for Windows is built once per machine and cached outside the tree;
# the script prints the folder holding it.
windows: deps
	sword_root=$$(scripts/build-sword-windows.sh | tail -n 1) && \
	cmake -S . -B $(WINDOWS_BUILD_DIR) -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DQUILLON_SWORD_ROOT="$$sword_root" \
	    -DQUILLON_LINUX_CLI=$(abspath $(BUILD_DIR))/cli/quillon-cli
	cmake --build $(WINDOWS_BUILD_DIR) -j $(JOBS)

# The Windows tests run under Wine, in a throwaway prefix for the whole run.
test: build windows
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)
	$(RUN_UNDER_WINE) --session ctest --test-dir $(WINDOWS_BUILD_DIR) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR) $(WINDOWS_BUILD_DIR)
