# Entry points. Each one installs missing Debian packages first, so they work
# on a fresh Debian 12 machine.

BUILD      ?= build
BUILD_SAN  ?= build-sanitize
JOBS       ?= $(shell nproc)
# Extra configure options, e.g. CMAKE_ARGS=-DVRL_WERROR=ON (as CI does).
CMAKE_ARGS ?=
CMAKE_GEN   = cmake -G Ninja -S . -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

# Where make install puts the framework and the card.
PREFIX     ?= /usr/local
BUILD_PKG  ?= build-package

.PHONY: all deps build run test test-sanitize bench fuzz lint docs install uninstall package clean

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

# The API reference from the headers' interface comments ($(BUILD)/docs/html).
docs: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) --target docs

# The libraries, headers, CMake and pkg-config files, and the card with its
# menu entry, icon and manual page. make uninstall removes what the last
# install from this build wrote.
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

uninstall:
	@scripts/uninstall.sh $(BUILD)/install_manifest.txt

# A Debian package of a release build installed under /usr (out/*.deb).
package: deps
	$(CMAKE_GEN) -B $(BUILD_PKG) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
	  -DBUILD_TESTING=OFF -DVRL_BENCH=OFF -DVRL_BUILD_TOOLS=OFF -DVRL_BUILD_EXAMPLES=OFF
	cmake --build $(BUILD_PKG) -j $(JOBS)
	cd $(BUILD_PKG) && cpack -G DEB
	@mkdir -p out && cp $(BUILD_PKG)/*.deb out/ && ls out/*.deb

fuzz: deps
	@scripts/fuzz.sh $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(BUILD_SAN) $(BUILD_PKG)
