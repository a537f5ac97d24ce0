# Front door for building, running and testing kwt. Each target installs
# the Debian packages it needs first.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local
EXAMPLES = examples/kwt.err examples/yy.lrt examples/yytab.h
DEMO = $(BUILD)/demo

.PHONY: all build demo demo-own test test-sanitize fuzz windows windows-test install package clean \
	format check-format lint

all: build

build:
	@scripts/install-deps.sh build test
	cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

# A real bison run: the example grammar built with tracing on, run on an
# input with a syntax error, and kwt opened on its trace, listing and header.
demo: build
	mkdir -p $(DEMO)
	cp examples/calc.y $(DEMO)/
	cd $(DEMO) && bison -t -v -d calc.y && cc -o calc calc.tab.c
	-cd $(DEMO) && ./calc < $(CURDIR)/examples/error-pops.calc > output 2> trace
	$(BUILD)/kwt $(DEMO)/trace $(DEMO)/calc.output $(DEMO)/calc.tab.h

# The hand-written example files of kwt's own format.
demo-own: build
	$(BUILD)/kwt $(EXAMPLES)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-sanitize:
	@scripts/install-deps.sh build test
	cmake -S . -B $(SANITIZE_BUILD) -DKWT_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j $(JOBS)

# The readers under libFuzzer, FUZZ_SECONDS each (default 60).
fuzz:
	@scripts/install-deps.sh fuzz
	scripts/fuzz.sh $(FUZZ_SECONDS)

# dist/kwt.exe: the 32-bit Windows build, cross-compiled with mingw-w64.
windows:
	scripts/windows-build.sh

# The Windows builds under Wine: unit tests, start-up checks, the console.
windows-test: build windows
	scripts/windows-test.sh

# One format for all C++: `make format` rewrites the tree, `make check-format` fails on any
# file it would change.
FORMATTED = $(shell git ls-files -- src tests fuzz bench | grep -E '\.(cpp|h)$$' | grep -v '^fuzz/corpus/')

format:
	@scripts/install-deps.sh lint
	clang-format -i $(FORMATTED)

check-format:
	@scripts/install-deps.sh lint
	clang-format --dry-run -Werror $(FORMATTED)

# clang-tidy over the program's sources with the checks in .clang-tidy. The Windows console layer
# needs windows.h, which only the cross-compiler has: it is linted by the -Wall -Wextra build.
LINTED = $(filter-out src/platform/console_win32.cpp src/platform/textfile_memory.cpp,\
	$(wildcard src/*.cpp src/platform/*.cpp))

lint: build
	@scripts/install-deps.sh lint
	printf '%s\n' $(LINTED) | xargs -P $(JOBS) -n 2 clang-tidy -p $(BUILD) --quiet 2>/dev/null

install: build
	cmake --install $(BUILD)

# The Debian package $(BUILD)/kwt_VERSION_ARCH.deb: the program in /usr/bin, its manual page and
# the README.
package: build
	@scripts/install-deps.sh package
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) build-fuzz build-win32 build-win64 dist
