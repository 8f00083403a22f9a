# The two commands of the README are `make run` and `make test`; the rest serve developers.
.PHONY: all deps build test test-plain test-asan test-tsan tsan asan fuzz fuzz-short bench soak run clean package package-test

FUZZ_SECONDS ?= 60
SOAK_SECONDS ?= 60
# CI runs each fuzzer briefly.
FUZZ_SHORT_SECONDS ?= 15

all: build

deps:
	@bash scripts/install-deps

build/build.ninja: CMakeLists.txt CMakePresets.json | deps
	cmake --preset default

build: deps build/build.ninja
	cmake --build --preset default

build-asan/build.ninja: CMakeLists.txt CMakePresets.json | deps
	cmake --preset asan

asan: deps build-asan/build.ninja
	cmake --build --preset asan

build-tsan/build.ninja: CMakeLists.txt CMakePresets.json | deps
	cmake --preset tsan

tsan-build: deps build-tsan/build.ninja
	cmake --build --preset tsan

test-plain: build
	ctest --preset default

test-asan: asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp \
	ctest --preset asan

test-tsan: tsan-build
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --preset tsan

tsan: test-tsan

# Everything CI checks: the plain build and all its tests, the ASan+UBSan build and
# its tests, the TSan build and the threaded tests (core, link, runtime; the Qt
# console is left out, its library is not instrumented), short fuzz runs; then,
# after all of them, the Debian packages built and tested as installed.
test: test-plain test-asan test-tsan fuzz-short
	$(MAKE) package-test

# The Debian packages, built from a copy of the tree into build/package/.
package: deps
	@bash scripts/build-package build

# The packages' autopkgtest on this machine; removes what it installed.
package-test: package
	@bash scripts/package-test build

fuzz: asan
	@bash scripts/run-fuzzers build-asan $(FUZZ_SECONDS)

fuzz-short: asan
	@bash scripts/run-fuzzers build-asan $(FUZZ_SHORT_SECONDS)

bench: build
	@bash scripts/run-bench build

soak: build
	cmake --preset default -DXELOR_SOAK_SECONDS=$(SOAK_SECONDS) >/dev/null
	ctest --test-dir build -L soak --output-on-failure

run: build
	@bash scripts/run build

clean:
	rm -rf build build-asan build-tsan
