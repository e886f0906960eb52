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
            imagemagick python3 python3-xlib \
            dpkg-dev lintian file umockdev python3-gi gir1.2-umockdev-1.0 \
            g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest wine wine64 \
            nsis osslsigncode openssl appstream desktop-file-utils librsvg2-bin

# Sanitizer reports end the run; leaks count as reports.
TEST_ENV := QT_QPA_PLATFORM=offscreen \
            ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1 \
            UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
            LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0

# Wine keeps its prefix (about 700 MB) inside the Windows tree, away from the user's own; its
# offers to install Mono and Gecko have no place in a test run, and neither has its menu builder,
# which would copy the installer's Start-menu entries into the user's own desktop menus.
WINE_ENV := WINEPREFIX=$(abspath $(WIN_BUILD))/wine WINEDEBUG=-all \
            WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe=d

.PHONY: all deps build test test-normal test-asan test-windows windows demo demo-cli bench format \
        clean

define run-tests
	cd $(1) && env $(TEST_ENV) ctest --output-on-failure -j $(JOBS)
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

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVX_WERROR=$(WERROR)

$(ASAN_BUILD)/build.ninja: | deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQVX_WERROR=$(WERROR) \
	  -DQVX_SANITIZE=ON

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# Lint builds the normal tree too, so it runs after the tests, never beside them under make -j.
test: test-normal test-asan test-windows
	$(MAKE) lint fuzz-smoke

test-normal: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)
	$(call run-tests,$(BUILD))

test-asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	$(call run-tests,$(ASAN_BUILD))

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
# environment: tools/sign_windows.sh). The run must leave the home folder as it found it: what
# it could leave there, the entries of Wine's menu builder (which name the prefix they come from)
# or a prefix of Wine's own, is listed before and after. Entries that other checkouts' Wine runs
# write meanwhile name other prefixes, so they do not count.
TEST_SIGN := $(abspath $(WIN_BUILD))/test-signing
TEST_SIGN_ENV := QVX_SIGN_CERT=$(TEST_SIGN)/cert.pem QVX_SIGN_KEY=$(TEST_SIGN)/key.pem \
                 QVX_SIGN_PASS=throw-away QVX_SIGN_CA=$(TEST_SIGN)/cert.pem QVX_SIGN_PKCS12= \
                 QVX_SIGN_TIMESTAMP=
HOME_WATCH := $(addprefix $(HOME)/,.config/menus .local/share/applications .local/share/icons \
                .local/share/mime Desktop)
home-listing = { grep -rlsF "$(abspath $(WIN_BUILD))/wine" $(HOME_WATCH); ls -d $(HOME)/.wine; } \
               2>/dev/null | sort

test-windows: deps $(WIN_BUILD)/build.ninja
	rm -rf $(TEST_SIGN) && mkdir -p $(TEST_SIGN)
	openssl req -x509 -newkey rsa:2048 -sha256 -days 30 -subj "/CN=Quorvex Updater test signing" \
	  -addext extendedKeyUsage=codeSigning -addext keyUsage=critical,digitalSignature \
	  -passout pass:throw-away -keyout $(TEST_SIGN)/key.pem -out $(TEST_SIGN)/cert.pem 2>/dev/null
	env $(TEST_SIGN_ENV) $(MAKE) --no-print-directory windows
	$(home-listing) > $(WIN_BUILD)/home-before.txt
	mkdir -p $(WIN_BUILD)/wine
	env -u DISPLAY $(WINE_ENV) wineserver -p </dev/null >/dev/null 2>&1
	env -u DISPLAY $(WINE_ENV) wine wineboot </dev/null >/dev/null 2>&1
	cd $(WIN_BUILD) && env -u DISPLAY -u WAYLAND_DISPLAY $(WINE_ENV) $(TEST_SIGN_ENV) ctest \
	  --output-on-failure -j $(JOBS); status=$$?; env $(WINE_ENV) wineserver -k; exit $$status
	@$(home-listing) | diff $(WIN_BUILD)/home-before.txt - \
	  || { echo "test-windows: the Windows tests changed the home folder (above)"; exit 1; }
	@echo "test-windows: home folder unchanged"

# The program against the drop-in virtual board, at a pace a person can follow.
demo: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "make demo: no display here (neither DISPLAY nor WAYLAND_DISPLAY is set)."; \
	  echo "To run it under a virtual X server:  xvfb-run -a make demo"; \
	  exit 1; \
	fi
	env LD_LIBRARY_PATH=$(abspath $(BUILD))/dropin QVX_BOARD_TIMING=demo $(BUILD)/quorvex-updater

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
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(WIN_BUILD)

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
	lintian --fail-on error,warning $(PACKAGE_BUILD)/*.deb

# --- Hardening: fuzzing, static analysis, coverage, memcheck ---------------------------------

PACKAGES += clang libclang-rt-14-dev clang-tidy cppcheck gcovr valgrind

FUZZ_BUILD     ?= build-fuzz
COVERAGE_BUILD ?= build-coverage
FUZZ_TARGETS   := image link board_protocol
FUZZ_SECONDS   ?= 60
SMOKE_SECONDS  ?= 5

.PHONY: fuzz fuzz-smoke lint coverage memcheck

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
                 src/cli/terminal.cpp src/cli/link_log.cpp src/cli/interrupt.cpp src/cli/main.cpp \
                 src/image/file_io.cpp
LINUX_LINT_FILES = $(filter-out $(shell git ls-files 'src/ui/win32/*.cpp'),$(LINT_FILES))

define clang-tidy
	run-clang-tidy-14 -p $(1) -quiet -j $(JOBS) $(3) $(addprefix $(CURDIR)/,$(2)) \
	  > $(1)/clang-tidy.log 2>&1 || { grep -E 'warning:|error:' -A3 $(1)/clang-tidy.log; exit 1; }
	@echo "clang-tidy ($(1)): $(words $(2)) files, clean"
endef

lint: build $(WIN_BUILD)/build.ninja
	$(call clang-tidy,$(BUILD),$(LINUX_LINT_FILES))
	inc=$$(x86_64-w64-mingw32-g++-posix -print-file-name=include)/c++ && \
	$(call clang-tidy,$(WIN_BUILD),$(WIN_LINT_FILES),-extra-arg=--target=x86_64-w64-mingw32 \
	  -extra-arg=-isystem$$inc -extra-arg=-isystem$$inc/x86_64-w64-mingw32)
	@mkdir -p $(BUILD)/cppcheck
	cppcheck --std=c++20 --language=c++ --library=qt --library=windows -I src $(LINT_FILES) \
	  --enable=warning,performance,portability --inline-suppr --error-exitcode=1 -q -j $(JOBS) \
	  --cppcheck-build-dir=$(BUILD)/cppcheck
	@echo "cppcheck: clean"

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
	cd $(COVERAGE_BUILD) && env $(TEST_ENV) ctest --output-on-failure -j $(JOBS)
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
