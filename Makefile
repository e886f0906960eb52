# The project's front door. Every target installs what it needs from Debian's packages first,
# then configures and builds only what is out of date.

BUILD      ?= build
ASAN_BUILD ?= build-asan
BENCH_BUILD ?= build-bench
JOBS       ?= $(shell nproc)
SUDO       := $(if $(filter 0,$(shell id -u)),,sudo)
WERROR     := $(if $(filter true 1 yes,$(CI)),ON,OFF)

PACKAGES := g++ make cmake ninja-build pkg-config git qt6-base-dev libftdi1-dev \
            libusb-1.0-0-dev libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth \
            xdotool imagemagick python3 \
            dpkg-dev lintian file umockdev libumockdev-dev

# Sanitizer reports end the run; leaks count as reports.
TEST_ENV := QT_QPA_PLATFORM=offscreen \
            ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1 \
            UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
            LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0

.PHONY: all deps build test test-normal test-asan demo bench format clean

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVX_WERROR=$(WERROR)

$(ASAN_BUILD)/build.ninja: | deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQVX_WERROR=$(WERROR) \
	  -DQVX_SANITIZE=ON

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: test-normal test-asan

test-normal: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && env $(TEST_ENV) ctest --output-on-failure -j $(JOBS)

test-asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && env $(TEST_ENV) ctest --output-on-failure -j $(JOBS)

# The program against the drop-in virtual board, at a pace a person can follow.
demo: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "make demo: no display here (neither DISPLAY nor WAYLAND_DISPLAY is set)."; \
	  echo "To run it under a virtual X server:  xvfb-run -a make demo"; \
	  exit 1; \
	fi
	env LD_LIBRARY_PATH=$(abspath $(BUILD))/dropin QVX_BOARD_TIMING=demo $(BUILD)/quorvex-updater

# A Release build with the benchmarks on; every benchmark executable lands in $(BENCH_BUILD)/bench.
$(BENCH_BUILD)/build.ninja: | deps
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVX_BUILD_BENCH=ON \
	  -DQVX_BUILD_TESTS=OFF

bench: deps $(BENCH_BUILD)/build.ninja
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	@for b in $(BENCH_BUILD)/bench/*; do echo "== $$b"; "$$b" || exit 1; done

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD)

# `make install` honours DESTDIR; PREFIX=/usr puts the udev rule where udev reads it.
PREFIX        ?= /usr/local
PACKAGE_BUILD ?= build-package

.PHONY: install package

install: build
	cmake --install $(BUILD) --prefix $(PREFIX) --strip

# Debian's hardening flags; CMake reads no CPPFLAGS, so they ride along in the compiler flags.
$(PACKAGE_BUILD)/build.ninja: | deps
	eval "$$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)" && \
	CFLAGS="$$CPPFLAGS $$CFLAGS" CXXFLAGS="$$CPPFLAGS $$CXXFLAGS" \
	cmake -S . -B $(PACKAGE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVX_WERROR=$(WERROR) \
	  -DQVX_BUILD_TESTS=OFF

package: deps $(PACKAGE_BUILD)/build.ninja
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	rm -f $(PACKAGE_BUILD)/*.deb
	cd $(PACKAGE_BUILD) && cpack
	lintian --fail-on error $(PACKAGE_BUILD)/*.deb
