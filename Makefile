# The two commands a newcomer needs:
#   make demo    a sale on the built-in printer emulator
#   make check   install what is missing, build, and run every test suite
# Everything else is plain CMake underneath (see README.md).

BUILD ?= build
ASAN_BUILD ?= build-asan
WIN32_BUILD ?= build-win32
WIN64_BUILD ?= build-win64
FUZZ_BUILD ?= build-fuzz
TIDY_BUILD ?= build-tidy
TSAN_BUILD ?= build-tsan
FUZZ_SECONDS ?= 20
JOBS ?= 2
CMAKE_FLAGS ?=
BENCH_BUILD ?= build-bench
DEMO_BUILD ?= build-demo
SOAK_BUILD ?= build-soak-load
SOAK_RUNS ?= 20
# make check (and so CI) runs the plain suite until a test fails, at most
# three times: a test that fails one time in three shows at once.
TEST_REPEAT ?=
VERSION := $(shell sed -n 's/^project.tarvo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

.PHONY: all build test asan tsan soak check deps demo format clean package package-windows windows fuzz lint bench mutants

all: build

deps:
	@scripts/install-deps.sh

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --no-tests=error --output-on-failure -j $(JOBS) $(if $(TEST_REPEAT),--repeat $(TEST_REPEAT))

# The plain suite $(SOAK_RUNS) times at -j4 while another build loads both
# cores (scripts/soak.sh); it stops at the first run that fails.
soak: build
	scripts/soak.sh $(BUILD) $(SOAK_RUNS) $(SOAK_BUILD)

# The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTARVO_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) --no-tests=error --output-on-failure -j $(JOBS)

# The tests of several threads at once (the simulated line, a
# pseudo-terminal, a network port, the trace), built with ThreadSanitizer,
# tracing on at levels 1 and 2; the stress run lasts $(STRESS_SECONDS) s
# here (2 s in the plain suite).
STRESS_SECONDS ?= 30
tsan:
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTARVO_BENCH=OFF \
	  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread $(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target command_tests overlap_pty_tests \
	  thread_tests thread_pty_tests trace_thread_tests
	TARVO_STRESS_SECONDS=$(STRESS_SECONDS) TSAN_OPTIONS=halt_on_error=1 \
	  ctest --test-dir $(TSAN_BUILD) --no-tests=error --output-on-failure -j $(JOBS) \
	  -R '^(Overlap(Pty)?\.|TraceLevel/Threads|TraceThreads\.)'

check: deps
	$(MAKE) test TEST_REPEAT=until-fail:3
	$(MAKE) asan
	$(MAKE) windows
	$(MAKE) lint
	$(MAKE) fuzz

# The Windows DLLs: both checked without running them; the 64-bit build's
# tests under wine64 and, where this machine runs 32-bit programs, the
# 32-bit build's under 32-bit Wine (see docs/windows.md).
windows:
	scripts/windows-check.sh $(WIN32_BUILD) $(WIN64_BUILD) $(JOBS) $(BUILD)/tools/tarvo-emu

# Every fuzz target (fuzz/) replays its corpus, then fuzzes for
# $(FUZZ_SECONDS) seconds (clang, libFuzzer; see docs/robustness.md).
fuzz:
	scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(JOBS)

# Plants the small bugs listed in tests/mutants.list one at a time in a
# scratch copy (build-mutants/) and checks that a test catches each; fails
# below 90 % caught or on a stale entry (docs/robustness.md). Not part of
# make check.
mutants:
	scripts/mutants.py --jobs $(JOBS)

# clang-tidy (.clang-tidy) and cppcheck on src/ and tools/; any finding fails.
lint:
	scripts/lint.sh $(TIDY_BUILD) $(JOBS)

# Only what the sale needs, in a build directory of its own: the library,
# the emulator and the command-line host, without the tests and unoptimised
# (it compiles in half the time; a sale on the emulator needs no speed).
demo:
	cmake -S . -B $(DEMO_BUILD) -DCMAKE_BUILD_TYPE=None -DTARVO_TESTS=OFF -DTARVO_BENCH=OFF $(CMAKE_FLAGS) >/dev/null
	cmake --build $(DEMO_BUILD) -j $(JOBS) --target tarvo tarvo-emu tarvo-cli
	@scripts/demo.sh $(DEMO_BUILD)

# Benchmarks in a Release build: micro-benchmarks, system calls per
# exchange, and the driver against the emulator beside the floor, as
# tables (docs/performance.md). The figures depend on the machine's load.
bench:
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target tarvo_micro_bench tarvo_e2e_bench tarvo_net_bench \
	  tarvo_lock_bench
	bench/run.sh $(BENCH_BUILD)

# The Debian package: $(BUILD)/tarvo_<version>-1_amd64.deb, with the debug
# symbols in tarvo-dbgsym_<version>-1_amd64.ddeb; lintian must find no error
# and no warning (overrides: packaging/debian/lintian-overrides).
package: build
	cd $(BUILD) && cpack -G DEB
	arch=$$(dpkg --print-architecture) && lintian --fail-on error,warning --tag-display-limit 0 \
	  $(BUILD)/tarvo_$(VERSION)-1_$$arch.deb $(BUILD)/tarvo-dbgsym_$(VERSION)-1_$$arch.ddeb

# The Windows release: $(WIN32_BUILD)/tarvo-<version>-win32.zip, with the
# 32-bit DLL and, in x64/, the 64-bit one.
package-windows:
	scripts/package-windows.sh $(WIN32_BUILD) $(JOBS) $(WIN64_BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf $(BUILD) $(DEMO_BUILD) $(ASAN_BUILD) $(WIN32_BUILD) $(WIN64_BUILD) $(FUZZ_BUILD) $(TIDY_BUILD) $(TSAN_BUILD) $(SOAK_BUILD)
