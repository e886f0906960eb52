# The project's front door. Every target installs what it needs from Debian's packages first,
# then configures and builds only what is out of date.

BUILD      ?= build
ASAN_BUILD ?= build-asan
BENCH_BUILD ?= build-bench
WIN_BUILD  ?= build-windows
JOBS       ?= $(shell nproc)
SUDO       := $(if $(filter 0,$(shell id -u)),,sudo)
WERROR     := $(if $(filter true 1 yes,$(CI)),ON,OFF)

PACKAGES := g++ make cmake ninja-build pkg-config git qt6-base-dev libftdi1-dev \
            libusb-1.0-0-dev libcli11-dev nlohmann-json3-dev libssl-dev \
            libgtest-dev libbenchmark-dev xvfb xauth \
            imagemagick python3 python3-xlib tmux bash-completion python3-jsonschema \
            dpkg-dev lintian file umockdev python3-gi gir1.2-umockdev-1.0 \
            g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest wine wine64 \
            nsis osslsigncode openssl appstream desktop-file-utils librsvg2-bin \
            python3-pefile

# Debian's own, which python3-xlib and python3-gi extend.
PYTHON := /usr/bin/python3

# Sanitizer reports end the run; leaks count as reports.
TEST_ENV := QT_QPA_PLATFORM=offscreen \
            ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1 \
            UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
            LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0

# Wine keeps its prefix (about 700 MB) inside the Windows tree, away from the user's own; its
# offers to install Mono and Gecko have no place in a test run, and neither has its menu builder,
# which would copy the installer's Start-menu entries into the user's own desktop menus. Its
# server makes a folder of its own in TMPDIR at every start and never removes it: that too stays
# in the Windows tree, and the tests' temporary files with it.
WINE_ENV := WINEPREFIX=$(abspath $(WIN_BUILD))/wine WINEDEBUG=-all \
            WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe=d TMPDIR=$(abspath $(WIN_BUILD))/tmp

.PHONY: all deps build test test-normal test-asan test-tsan test-windows windows demo demo-cli \
        bench format clean

# Every test run has a home folder of its own, made afresh in its build tree, with the XDG folders
# under it; whatever a test leaves there (a D-Bus session's files, caches, Wine's menu entries)
# fails the run. $(1): the build tree, $(2): the command, run there.
define in-fresh-home
	rm -rf $(1)/home && mkdir -p $(1)/home
	cd $(1) && env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME -u XDG_STATE_HOME \
	  HOME=$(abspath $(1))/home $(2); status=$$?; left=$$(find home -mindepth 1); \
	  if [ -n "$$left" ]; then echo "$(1): the tests wrote into their home folder:"; echo "$$left"; \
	  exit 1; fi; exit $$status
endef

define run-tests
	$(call in-fresh-home,$(1),env $(TEST_ENV) ctest --output-on-failure -j $(JOBS))
endef

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

# The benchmarks are built here too, though only make bench runs them, so that none goes stale.
$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVX_WERROR=$(WERROR) \
	  -DQVX_BUILD_BENCH=ON

$(ASAN_BUILD)/build.ninja: | deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQVX_WERROR=$(WERROR) \
	  -DQVX_SANITIZE=ON

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# clang-tidy stays in make lint: over this tree it takes about ten minutes on two cores, which
# would take make test past twenty. The quick checks run here, after the builds they read.
test: test-normal test-asan test-windows
	$(MAKE) format-check cppcheck fuzz-smoke

test-normal: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)
	$(call run-tests,$(BUILD))

test-asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	$(call run-tests,$(ASAN_BUILD))

# The threads of the station and of --all under ThreadSanitizer, in a tree of its own: the
# command line's station tests over the virtual board, the real program over the drop-in library,
# and the station and flash --all over libftdi1 on the USB testbed. Only what those tests run is
# built; any report ends the run and fails it.
TSAN_BUILD ?= build-tsan
TSAN_TESTS := ^(Cli[.].*(Watch|Interrupt).*|Cli[.]FourBoards.*|cli_under_fire|usb[.](station|command_line).*)$$
TSAN_ENV   := TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

$(TSAN_BUILD)/build.ninja: | deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVX_WERROR=$(WERROR) \
	  -DQVX_TSAN=ON

test-tsan: deps $(TSAN_BUILD)/build.ninja
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target quorvex qvx_dropin qvx-pack cli_tests
	cd $(TSAN_BUILD) && env $(TEST_ENV) $(TSAN_ENV) ctest --output-on-failure -j $(JOBS) \
	  --no-tests=error -R '$(TSAN_TESTS)'

# The Windows programs, cross-built with MinGW-w64, and their installer and zip.
$(WIN_BUILD)/build.ninja: | deps
	cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DQVX_WERROR=$(WERROR)

windows: deps $(WIN_BUILD)/build.ninja
	cmake --build $(WIN_BUILD) -j $(JOBS)
	cd $(WIN_BUILD) && cpack

# The Windows tests under Wine, with no display but the one a test starts itself. ctest waits
# for every process that holds a test's output, and Wine's session processes (wineserver and
# its services) inherit it from whatever starts them: so the session starts before the tests and
# ends after them.
#
# The programs, installer and uninstaller are signed with a throw-away certificate made here, and
# the end-to-end test checks each signature against it (a real certificate comes from the
# environment: tools/sign_windows.sh). Wine's session and the tests have a fresh home folder of
# their own, which they must leave empty: no menu entries from Wine's menu builder, no prefix.
TEST_SIGN := $(abspath $(WIN_BUILD))/test-signing
TEST_SIGN_ENV := QVX_SIGN_CERT=$(TEST_SIGN)/cert.pem QVX_SIGN_KEY=$(TEST_SIGN)/key.pem \
                 QVX_SIGN_PASS=throw-away QVX_SIGN_CA=$(TEST_SIGN)/cert.pem QVX_SIGN_PKCS12= \
                 QVX_SIGN_TIMESTAMP=

test-windows: deps $(WIN_BUILD)/build.ninja
	rm -rf $(TEST_SIGN) && mkdir -p $(TEST_SIGN)
	openssl req -x509 -newkey rsa:2048 -sha256 -days 30 -subj "/CN=Quorvex Updater test signing" \
	  -addext extendedKeyUsage=codeSigning -addext keyUsage=critical,digitalSignature \
	  -passout pass:throw-away -keyout $(TEST_SIGN)/key.pem -out $(TEST_SIGN)/cert.pem 2>/dev/null
	env $(TEST_SIGN_ENV) $(MAKE) --no-print-directory windows
	rm -rf $(WIN_BUILD)/tmp && mkdir -p $(WIN_BUILD)/wine $(WIN_BUILD)/tmp
	$(call in-fresh-home,$(WIN_BUILD),env -u DISPLAY -u WAYLAND_DISPLAY $(WINE_ENV) sh -c '\
	  wineserver -p </dev/null >/dev/null 2>&1; wine wineboot </dev/null >/dev/null 2>&1; \
	  env $(TEST_SIGN_ENV) ctest --output-on-failure -j $(JOBS); status=$$?; wineserver -k; \
	  exit $$status')

# The program against the drop-in virtual board, at a pace a person can follow. Without a
# display, the window on a virtual X server worked by the end-to-end test's operator, and a
# screenshot of each state.
DEMO_SHOTS := $(abspath $(BUILD))/demo
demo: build
	@if [ -n "$$DISPLAY" ] || [ -n "$$WAYLAND_DISPLAY" ]; then \
	  env LD_LIBRARY_PATH=$(abspath $(BUILD))/dropin QVX_BOARD_TIMING=demo $(BUILD)/quorvex-updater; \
	else \
	  echo "make demo: no display here; the window runs on a virtual X server, worked by a script:"; \
	  rm -rf $(DEMO_SHOTS) && $(PYTHON) tools/demo_window.py $(BUILD)/quorvex-updater \
	    $(abspath $(BUILD))/dropin $(DEMO_SHOTS); \
	fi

# The command line against four demo boards, whose flash lasts from one command to the next:
# list, flash --all, verify --all. No display needed.
DEMO_BOARDS := $(abspath $(BUILD))/demo-boards
demo-cli: build
	@rm -rf $(DEMO_BOARDS) && mkdir -p $(DEMO_BOARDS)
	@export LD_LIBRARY_PATH=$(abspath $(BUILD))/dropin QVX_BOARDS=4 QVX_BOARD_TIMING=demo \
	  QVX_BOARD_FLASH_IN=$(DEMO_BOARDS)/flash QVX_BOARD_FLASH_OUT=$(DEMO_BOARDS)/flash; \
	for command in list "flash --all" "verify --all"; do \
	  echo "$$ quorvex $$command"; $(BUILD)/quorvex $$command || exit 1; \
	done
	@LD_LIBRARY_PATH=$(abspath $(BUILD))/dropin tools/demo_station.sh $(BUILD)/quorvex $(DEMO_BOARDS)

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
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(BENCH_BUILD) $(WIN_BUILD)

# `make install` honours DESTDIR; PREFIX=/usr puts the udev rule where udev reads it.
PREFIX        ?= /usr/local
PACKAGE_BUILD ?= build-package

.PHONY: install package reproducible

install: build
	cmake --install $(BUILD) --prefix $(PREFIX) --strip

# The packages' dates are the last commit's, so that one commit always builds the same bytes:
# CPack gives every file that time.
package reproducible: export SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct)

# Debian's hardening flags; CMake reads no CPPFLAGS, so they ride along in the compiler flags.
# Warnings are errors here: a distribution's build log should show none.
$(PACKAGE_BUILD)/build.ninja: | deps
	eval "$$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)" && \
	CFLAGS="$$CPPFLAGS $$CFLAGS" CXXFLAGS="$$CPPFLAGS $$CXXFLAGS" \
	cmake -S . -B $(PACKAGE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQVX_WERROR=ON \
	  -DQVX_BUILD_TESTS=OFF

package: deps $(PACKAGE_BUILD)/build.ninja
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	rm -f $(PACKAGE_BUILD)/*.deb
	cd $(PACKAGE_BUILD) && cpack
	# lintian leaves temporary files behind; they stay in the build tree, not in /tmp.
	mkdir -p $(PACKAGE_BUILD)/lintian-tmp
	TMPDIR=$(abspath $(PACKAGE_BUILD))/lintian-tmp lintian --fail-on error,warning $(PACKAGE_BUILD)/*.deb

# The packages built twice from scratch, in the same place, a build apart; both sets of checksums
# must agree. Not part of make test: it takes two whole builds.
REPRO_BUILD ?= build-reproducible
reproducible: deps
	rm -rf $(REPRO_BUILD)
	for n in 1 2; do \
	  rm -rf $(REPRO_BUILD)/tree && \
	  $(MAKE) --no-print-directory package PACKAGE_BUILD=$(REPRO_BUILD)/tree && \
	  mkdir -p $(REPRO_BUILD)/$$n && mv $(REPRO_BUILD)/tree/*.deb $(REPRO_BUILD)/$$n/ || exit 1; \
	done
	cd $(REPRO_BUILD) && for n in 1 2; do (cd $$n && sha256sum *.deb) > $$n.sha256; done && \
	cat 1.sha256 && diff 1.sha256 2.sha256 >/dev/null \
	  || { echo "reproducible: the two builds differ:"; diff 1.sha256 2.sha256; exit 1; }
	@echo "reproducible: both builds gave the same packages (SOURCE_DATE_EPOCH=$$SOURCE_DATE_EPOCH)"

# --- Hardening: fuzzing, static analysis, coverage, memcheck ---------------------------------

PACKAGES += clang libclang-rt-14-dev clang-tidy cppcheck gcovr valgrind

FUZZ_BUILD     ?= build-fuzz
COVERAGE_BUILD ?= build-coverage
FUZZ_TARGETS   := image link board_protocol
FUZZ_SECONDS   ?= 60
SMOKE_SECONDS  ?= 5

.PHONY: fuzz fuzz-smoke lint cppcheck format-check coverage memcheck

# Core libraries and fuzz targets only, with clang; neither Qt nor GoogleTest is needed here.
$(FUZZ_BUILD)/build.ninja: | deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQVX_BUILD_FUZZ=ON -DQVX_WERROR=$(WERROR)

# Each target starts from its committed seeds; what it finds is kept in the build tree, so the
# seeds stay as committed. A finding stops the run and leaves its input in $(FUZZ_BUILD)/artifacts.
define run-fuzzers
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@mkdir -p $(FUZZ_BUILD)/artifacts
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t; \
	  $(FUZZ_BUILD)/tests/fuzz/$${t}_fuzz -max_total_time=$(1) -print_final_stats=1 \
	    -artifact_prefix=$(CURDIR)/$(FUZZ_BUILD)/artifacts/$$t- \
	    $(FUZZ_BUILD)/corpus/$$t tests/fuzz/corpus/$$t > $(FUZZ_BUILD)/$$t.log 2>&1 \
	    || { tail -n 40 $(FUZZ_BUILD)/$$t.log; echo "fuzz $$t: FINDING, see $(FUZZ_BUILD)/artifacts"; exit 1; }; \
	  echo "fuzz $$t: $$(sed -n 's/^stat::number_of_executed_units: *//p' $(FUZZ_BUILD)/$$t.log) executions in $(1) s, no findings"; \
	done
endef

fuzz: deps $(FUZZ_BUILD)/build.ninja
	$(call run-fuzzers,$(FUZZ_SECONDS))

fuzz-smoke: deps $(FUZZ_BUILD)/build.ninja
	$(call run-fuzzers,$(SMOKE_SECONDS))

# clang-tidy over src/ and tools/ with the normal build's compile_commands.json (and the files
# that build generates); the Windows window, and the Windows sides of the library loader and of
# the command line's terminal and log, with the Windows tree's, as clang for MinGW-w64 (told
# where the posix-thread compiler keeps its C++ headers, which clang does not look for). cppcheck
# over all of them on their own, with Qt's and Windows' macros known.
LINT_FILES = $(shell git ls-files 'src/*.cpp' 'tools/*.cpp')
WIN_LINT_FILES = $(shell git ls-files 'src/ui/win32/*.cpp') src/link/dynamic_library.cpp \
                 src/cli/platform/terminal.cpp src/cli/platform/interrupt.cpp \
                 src/cli/platform/hook.cpp src/cli/output/link_log.cpp src/cli/main.cpp \
                 src/board/demo_rack.cpp src/image/file_io.cpp
LINUX_LINT_FILES = $(filter-out $(shell git ls-files 'src/ui/win32/*.cpp'),$(LINT_FILES))

define clang-tidy
	run-clang-tidy-14 -p $(1) -quiet -j $(JOBS) $(3) $(addprefix $(CURDIR)/,$(2)) \
	  > $(1)/clang-tidy.log 2>&1 || { grep -E 'warning:|error:' -A3 $(1)/clang-tidy.log; exit 1; }
	@echo "clang-tidy ($(1)): $(words $(2)) files, clean"
endef

lint: build $(WIN_BUILD)/build.ninja format-check cppcheck
	$(call clang-tidy,$(BUILD),$(LINUX_LINT_FILES))
	inc=$$(x86_64-w64-mingw32-g++-posix -print-file-name=include)/c++ && \
	$(call clang-tidy,$(WIN_BUILD),$(WIN_LINT_FILES),-extra-arg=--target=x86_64-w64-mingw32 \
	  -extra-arg=-isystem$$inc -extra-arg=-isystem$$inc/x86_64-w64-mingw32)

cppcheck: deps
	@mkdir -p $(BUILD)/cppcheck
	cppcheck --std=c++20 --language=c++ --library=qt --library=windows -I src $(LINT_FILES) \
	  --enable=warning,performance,portability --inline-suppr --error-exitcode=1 -q -j $(JOBS) \
	  --cppcheck-build-dir=$(BUILD)/cppcheck
	@echo "cppcheck: clean"

# Every C++ file as clang-format would leave it.
format-check: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
	@echo "clang-format: clean"

# Line and branch coverage of src/ by the whole test suite; HTML in $(COVERAGE_BUILD)/coverage/.
# The compiler checks CMake compiled with --coverage leave data of their own; they are skipped.
GCOVR = gcovr -r . --object-directory $(COVERAGE_BUILD) -j $(JOBS) --filter src/ \
        --exclude-directories '$(COVERAGE_BUILD)/CMakeFiles/[0-9.]+' \
        --exclude-unreachable-branches --exclude-throw-branches

coverage: deps
	cmake -S . -B $(COVERAGE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_C_FLAGS=--coverage -DCMAKE_CXX_FLAGS=--coverage \
	  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage
	cmake --build $(COVERAGE_BUILD) -j $(JOBS)
	find $(COVERAGE_BUILD) -name '*.gcda' -delete
	$(call run-tests,$(COVERAGE_BUILD))
	mkdir -p $(COVERAGE_BUILD)/coverage
	$(GCOVR) --html-details $(COVERAGE_BUILD)/coverage/index.html \
	  --txt $(COVERAGE_BUILD)/coverage/src.txt --print-summary
	@echo "--- without the Qt window code (src/ui):"
	$(GCOVR) --exclude src/ui/ --txt $(COVERAGE_BUILD)/coverage/core.txt --print-summary

# The tests of the link, the image, the engine and the form's logic under valgrind's memcheck.
MEMCHECK_TESTS := tests/link/link_tests tests/image/image_tests tests/update/update_tests \
                  tests/app/app_tests tests/cli/cli_tests

# The campaign's thousand updates take an hour under valgrind and add no path the rest lacks.
MEMCHECK_FILTER := -FaultCampaign.*

memcheck: build
	@for t in $(MEMCHECK_TESTS); do \
	  echo "memcheck $$t"; \
	  GTEST_FILTER=$(MEMCHECK_FILTER) valgrind -q --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
	    $(BUILD)/$$t --gtest_brief=1 || exit 1; \
	done
	@echo "memcheck: clean"
