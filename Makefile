# Thin wrapper over CMake. `make run` and `make test` are the two set-up commands of the README.
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
CMAKE_FLAGS ?=

.PHONY: all deps configure build run demo-data test test-asan test-tsan fuzz fuzz-smoke bench stress clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Builds only what it runs: the editor and the tool (the tests and benchmarks wait for `make test`).
run: configure
	cmake --build $(BUILD) -j $(JOBS) --target programs
	@bash scripts/run.sh $(BUILD)

# Rebuilds the demo game data beside the editor (run builds it only when it is missing).
demo-data: configure
	cmake --build $(BUILD) -j $(JOBS) --target vellgrim-tool
	$(BUILD)/vellgrim-tool content build --out $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELLGRIM_SANITIZE=ON \
	  -DVELLGRIM_SHELL=OFF -DVELLGRIM_BENCH=OFF

test-asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

$(TSAN_BUILD)/build.ninja:
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELLGRIM_TSAN=ON \
	  -DVELLGRIM_SHELL=OFF -DVELLGRIM_BENCH=OFF

# The input queue and its sampling thread, and the map's normals computed on first read from
# several threads, under the thread sanitizer.
test-tsan: deps $(TSAN_BUILD)/build.ninja
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target test_input test_map
	cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest --output-on-failure -j $(JOBS) -R '^(InputQueue|InputSampler|Observer|Keyboard|MeshNormalsThreads|MeshPrepare)\.'

$(FUZZ_BUILD)/build.ninja:
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLGRIM_FUZZ=ON \
	  -DVELLGRIM_SHELL=OFF -DVELLGRIM_BENCH=OFF

fuzz: deps $(FUZZ_BUILD)/build.ninja
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

# Runs every fuzz target briefly; longer runs are for finding bugs by hand.
FUZZ_SECONDS ?= 20
fuzz-smoke: fuzz
	@bash scripts/fuzz-smoke.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# Many writers and readers of vellgrim-tool against one store, writers killed at random; not part
# of `make test`. STRESS_SECONDS, STRESS_WRITERS and STRESS_READERS tune it.
STRESS_SECONDS ?= 300
STRESS_WRITERS ?= 3
STRESS_READERS ?= 3
stress: build
	python3 scripts/stress.py --tool $(BUILD)/vellgrim-tool --seconds $(STRESS_SECONDS) \
	  --writers $(STRESS_WRITERS) --readers $(STRESS_READERS)

# Only the benchmark programs themselves (not the `bench_*_autogen` folders); fails if one fails.
bench: build
	@set -e; for b in $(BUILD)/bench_*; do if [ -f "$$b" ] && [ -x "$$b" ]; then "$$b"; fi; done

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
