# SPDX-License-Identifier: GPL-2.0-or-later
# Convenience wrapper around CMake. `make demo` sets everything up and converts
# the sample book; `make test` builds and runs the whole test suite: as built
# for release, under the sanitizers, and the Windows programs under Wine;
# `make windows` cross-builds the Windows programs; `make bench` measures.
# `make package` and `make windows-release` make what users install, and
# `make check-release` tries both out.
BUILD_DIR ?= build
ASAN_BUILD_DIR ?= build-asan
WINDOWS_BUILD_DIR ?= build-windows
RUN_UNDER_WINE = scripts/run-under-wine.sh
JOBS ?= $(shell nproc)
DEMO_OUTPUT = $(BUILD_DIR)/demo/psalms.rtf

# Every sanitizer report ends the program with a status no test expects
# (a refused book exits with 1, so a report must not).
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:exitcode=86:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1 \
                UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:abort_on_error=1

FUZZ_SECONDS ?= 3600
FUZZ_DIR = $(ASAN_BUILD_DIR)/fuzz

.PHONY: all deps deps-all deps-release configure build build-asan demo windows test fuzz bench clean \
        package windows-release check-release

all: build

deps:
	scripts/install-deps.sh

deps-all:
	scripts/install-deps.sh --all

deps-release:
	scripts/install-deps.sh --release

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

build-asan: deps-all
	CC=clang CXX=clang++ cmake -S . -B $(ASAN_BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_SANITIZE=ON
	cmake --build $(ASAN_BUILD_DIR) -j $(JOBS)

demo: build
	mkdir -p $(BUILD_DIR)/demo
	$(BUILD_DIR)/cli/quillon-cli $(BUILD_DIR)/samples/psalms $(DEMO_OUTPUT)
	@echo "Converted the sample book into $(abspath $(DEMO_OUTPUT))"

# SWORD for Windows is built once per machine and cached outside the tree;
# the script prints the folder holding it.
windows: deps-all
	sword_root=$$(scripts/build-sword-windows.sh | tail -n 1) && \
	cmake -S . -B $(WINDOWS_BUILD_DIR) -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DQUILLON_SWORD_ROOT="$$sword_root" \
	    -DQUILLON_LINUX_CLI=$(abspath $(BUILD_DIR))/cli/quillon-cli
	cmake --build $(WINDOWS_BUILD_DIR) -j $(JOBS)

# The Windows tests run under Wine, in a throwaway prefix for the whole run.
# The tests labelled "release" try out the packages: make check-release.
test: deps-all build build-asan windows
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) -LE release
	$(SANITIZER_ENV) ctest --test-dir $(ASAN_BUILD_DIR) --output-on-failure -j $(JOBS)
	$(RUN_UNDER_WINE) --session ctest --test-dir $(WINDOWS_BUILD_DIR) --output-on-failure -j $(JOBS) -LE release

# The Debian package of quillon-cli, checked by lintian; info tags are shown
# but only errors and warnings fail.
package: deps-release build
	rm -f $(BUILD_DIR)/quillon-cli_*.deb
	cd $(BUILD_DIR) && cpack -G DEB
	lintian --display-info --fail-on error,warning $(BUILD_DIR)/quillon-cli_*.deb

windows-release: windows
	rm -f $(WINDOWS_BUILD_DIR)/quillon-*-win32.zip
	cd $(WINDOWS_BUILD_DIR) && cpack -G ZIP

check-release: package windows-release
	ctest --test-dir $(BUILD_DIR) --output-on-failure -L release
	ctest --test-dir $(WINDOWS_BUILD_DIR) --output-on-failure -L release

bench: build
	$(BUILD_DIR)/bench/quillon-bench

# A longer fuzzing run than the minute `make test` gives it, on one core.
fuzz: build-asan
	$(SANITIZER_ENV) $(FUZZ_DIR)/quillon-fuzz-conversion -max_total_time=$(FUZZ_SECONDS) \
		-rss_limit_mb=1024 -timeout=10 -max_len=8192 -print_final_stats=1 -artifact_prefix=$(FUZZ_DIR)/ \
		$(FUZZ_DIR)/corpus $(FUZZ_DIR)/seeds

clean:
	rm -rf $(BUILD_DIR) $(ASAN_BUILD_DIR) $(WINDOWS_BUILD_DIR)
