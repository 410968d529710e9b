# Convenience wrapper around CMake. `make demo` sets everything up and converts
# the sample book; `make test` builds and runs the whole test suite.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
DEMO_OUTPUT = $(BUILD_DIR)/demo/psalms.rtf

.PHONY: all deps configure build demo test clean

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

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR)
