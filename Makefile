# make demo: install what is missing, build, open the window on the demo server and devices.
# make test: install what is missing, build, run every test.
# make check: formatting, the layering of the includes and clang-tidy (CI runs them all).
BUILD      ?= build
BUILD_ASAN ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps configure build test test-unprivileged demo package test-sanitize test-tsan fuzz fuzz-run bench clean \
	check check-format check-layers tidy

all: build

deps:
	@tools/install-deps.sh

deps-%:
	@tools/install-deps.sh $*

# The builds here carry line tables only (-g1): enough for backtraces, the sanitizers' reports
# and a profiler, and about a quarter less compile time than full debug information. A build
# for a debugger: cmake -S . -B build-debug -DCMAKE_BUILD_TYPE=Debug (full -g).
LINE_TABLES := -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_DEBUG="-g1"

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LINE_TABLES) $(CMAKE_ARGS)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# As root (CI), the tests that skip a path for root run again as the user nobody.
test-unprivileged: build
	tools/test-unprivileged $(BUILD)

demo: build
	@if [ -x $(BUILD)/bin/morvelip-osc ]; then \
		$(BUILD)/bin/morvelip-osc --demo; \
	else \
		echo "The window program is not there yet: make demo opens it once it has been built."; \
	fi

# The Debian package of the built tree: $(BUILD)/morvelip-osc_VERSION_ARCH.deb
package: build
	cmake --build $(BUILD) --target package

# The tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	cmake -S . -B $(BUILD_ASAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug $(LINE_TABLES) -DMO_SANITIZE=ON $(CMAKE_ARGS)
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	cd $(BUILD_ASAN) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# The tests of the threaded parts (endpoints, simulated devices) under ThreadSanitizer.
BUILD_TSAN ?= build-tsan
TSAN_TESTS := $(patsubst tests/%.cpp,%,$(subst /test_,_,$(wildcard tests/net/test_*.cpp tests/netsim/test_*.cpp tests/sim/test_*.cpp)))
test-tsan: deps
	cmake -S . -B $(BUILD_TSAN) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LINE_TABLES) -DMO_TSAN=ON \
		-DMO_WITH_UI=OFF $(CMAKE_ARGS)
	cmake --build $(BUILD_TSAN) -j $(JOBS) --target $(TSAN_TESTS)
	cd $(BUILD_TSAN) && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
		ctest --output-on-failure -j $(JOBS) -R '^(net|netsim|sim)_'

# libFuzzer targets (clang): build-fuzz/fuzz/fuzz_*. make fuzz-run runs each for FUZZ_SECONDS
# on its seed corpus (new inputs go to build-fuzz/corpus/NAME), with inputs up to 256 KiB and a
# per-input timeout, so that a slow path is a finding as a crash is (build-fuzz/findings/).
FUZZ_SECONDS ?= 60
FUZZ_OPTS ?= -max_len=262144 -timeout=10
fuzz: deps-fuzz
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DMO_FUZZ=ON -DMO_WITH_UI=OFF
	cmake --build build-fuzz -j $(JOBS)

fuzz-run: fuzz
	@mkdir -p build-fuzz/findings
	@for t in build-fuzz/fuzz/fuzz_*; do \
		case $$t in *_replay) continue;; esac; \
		n=$${t##*/fuzz_}; mkdir -p build-fuzz/corpus/$$n; echo "== $$n"; \
		$$t $(FUZZ_OPTS) -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=build-fuzz/findings/$$n- \
			build-fuzz/corpus/$$n fuzz/corpus/$$n || exit 1; \
	done

# The Google Benchmark programs, in a build of their own (make test does not build them).
BUILD_BENCH ?= build-bench
bench: deps-bench
	cmake -S . -B $(BUILD_BENCH) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMO_BENCH=ON $(CMAKE_ARGS)
	cmake --build $(BUILD_BENCH) -j $(JOBS)
	@for b in $(BUILD_BENCH)/bench/bench_*; do echo "== $$b"; $$b; done

# Every tracked C++ file as .clang-format says (tools/check-format --fix rewrites them).
check-format: deps-check
	tools/check-format

# No include points up the layers; core/ and sim/ stay free of Qt and platform headers.
check-layers:
	tools/check-layers

# clang-tidy with the checks of .clang-tidy over every layer (needs the build's
# compile_commands.json and the window's generated sources: run after make build).
TIDY_DIRS := core|codepage|net|netsim|sim|server|tmconn|cfshare|ui|app
tidy: deps-check configure
	run-clang-tidy -quiet -p $(BUILD) -j $(JOBS) '^$(CURDIR)/($(TIDY_DIRS))/' > $(BUILD)/tidy.log 2>&1 \
		|| { grep -E 'warning:|error:' -A3 $(BUILD)/tidy.log; exit 1; }

check: check-format check-layers tidy

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_TSAN) $(BUILD_BENCH) build-fuzz
