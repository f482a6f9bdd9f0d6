# Thin wrapper over CMake. `make run` and `make test` are all a fresh Debian 12 machine needs.
BUILD ?= build
ASAN_BUILD ?= build-asan
RELEASE_BUILD ?= build-release
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

SAMPLE := games/sample/Sample.app
SCREENSHOT ?= $(BUILD)/sample.png

.PHONY: all deps configure run test test-asan build-release bench clean format

all: configure
	cmake --build $(BUILD) -j $(JOBS)

deps:
	@scripts/install-deps

configure: deps
	@test -f $(BUILD)/build.ninja || cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

# The player runs the sample game: in a window for RUN_SECONDS when there is a display, else
# headless for 180 frames on the virtual clock (the same picture on every machine). Either way the
# composited screen at the end is written to SCREENSHOT. A display that turns out unusable makes
# the player say so and run headless on the real clock for the same RUN_SECONDS. Only the player
# is built (the sample's files are in the tree); `make test` builds everything. Without a sound
# card the player says so in one line (ALSOFT_LOGLEVEL=3 shows what the sound libraries say).
RUN_SECONDS ?= 10
run: configure
	cmake --build $(BUILD) -j $(JOBS) --target drovik-player
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then ends="--duration $(RUN_SECONDS)"; \
	  else ends="--headless --frames 180"; fi; \
	  set -x; $(BUILD)/apps/drovik-player/drovik-player $$ends --home $(BUILD)/sample-home \
	  --screenshot $(SCREENSHOT) $(SAMPLE)
	@echo "screenshot: $(SCREENSHOT)"

# The layer map is checked before anything runs (the check first shows it still fails on each
# kind of breach); the test-to-code figures come last.
test: all
	@scripts/check-layers --self-test
	@scripts/check-layers --build-dir $(BUILD)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	@scripts/test-ratio

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer, with a short fixed run of
# each fuzz target, once each. LeakSanitizer's own check at exit dies ("Tracer caught signal 11")
# when it meets a thread still exiting, as threads that exit handlers have just joined (Mesa's
# shader disk cache queue, llvmpipe's rasterizers) may be on a loaded machine: the test programs'
# main checks for leaks itself before exit, and sets Mesa to keep none of those threads for the
# programs the tests start (tests/support/TestMain.cpp); the fuzz targets get the same settings.
test-asan: deps
	@test -f $(ASAN_BUILD)/build.ninja || cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDK_SANITIZE=ON -DDK_BUILD_BENCH=OFF -DDK_BUILD_GENERATORS=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# An optimised build of everything: GCC warns about some code only at -O3.
build-release: deps
	@test -f $(RELEASE_BUILD)/build.ninja || cmake -S . -B $(RELEASE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(RELEASE_BUILD) -j $(JOBS)

bench: all
	@for b in $(BUILD)/bench/*/bench_*; do [ -x "$$b" ] && echo "== $$b" && "$$b"; done; true

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(RELEASE_BUILD)
