# Entry points. Each one installs missing Debian packages first, so they work
# on a fresh Debian 12 machine.

BUILD      ?= build
BUILD_SAN  ?= build-sanitize
JOBS       ?= $(shell nproc)
# Extra configure options, e.g. CMAKE_ARGS=-DVRL_WERROR=ON (as CI does).
CMAKE_ARGS ?=
CMAKE_GEN   = cmake -G Ninja -S . -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

.PHONY: all deps build run test test-sanitize bench fuzz lint clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja: | deps
	$(CMAKE_GEN) -B $(BUILD)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run-card.sh $(BUILD)/bin

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize: deps
	$(CMAKE_GEN) -B $(BUILD_SAN) -DVRL_SANITIZE=ON -DVRL_BENCH=OFF
	cmake --build $(BUILD_SAN) -j $(JOBS)
	cd $(BUILD_SAN) && \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp \
	  ctest --output-on-failure -j $(JOBS)

# Benchmarks that draw need a display: without one they run in Xvfb.
XVFB_RUN = $(if $(DISPLAY),,xvfb-run -a -s "-screen 0 1024x768x24")

bench: build
	@for b in $(BUILD)/bin/*_bench; do echo "== $$b"; $(XVFB_RUN) $$b || exit 1; done

# The look (clang-format) and the static checks (clang-tidy over the
# framework's sources, with the compile commands of the configured build).
lint: deps $(BUILD)/build.ninja
	@BUILD=$(BUILD) scripts/lint.sh --tidy

fuzz: deps
	@scripts/fuzz.sh $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(BUILD_SAN)
