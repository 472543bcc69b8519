# Tracer Interface: set-up and build entry points.
#   make run    installs what is missing, builds in Release, starts the program
#   make demo   the program with a simulated tracer sending jobs, in a folder of its own
#   make test   installs what is missing, builds, runs the whole test suite
#               (then all of it again, fuzz replays included, under ASan + UBSan)
#   make check  one build and the whole suite once: the edit-test loop
#   make bench  builds and runs the benchmarks
#   make fuzz   builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS
#   make test-windows  cross-builds for Windows (MinGW-w64) and runs the Windows tests under wine
#   make windows       the Windows program as a zip and an installer (NSIS)

BUILD      ?= build
RELEASE_BUILD ?= build-release
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 60
# ON: compiler warnings fail every build (CI sets it).
WERROR     ?= OFF

# ccache, where present, keeps rebuilds of the several build folders cheap; paths under this
# folder are hashed relative to it, so a second clone shares the cache (also for builds with
# debug information, whose working folder ccache would otherwise hash).
CCACHE := $(shell command -v ccache 2>/dev/null)
ifneq ($(CCACHE),)
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1
LAUNCHER := -DCMAKE_CXX_COMPILER_LAUNCHER=$(CCACHE)
endif

.PHONY: all deps build release check test test-asan run demo screenshots bench fuzz clean

all: build

deps:
	@./scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $$(./scripts/generator.sh $(BUILD)) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRACER_WERROR=$(WERROR) $(LAUNCHER)
	cmake --build $(BUILD) -j $(JOBS)

check: build format-check
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 300

test: check
	$(MAKE) test-asan

# Everything but the benchmarks, the serial port's event thread and the application included.
# A leak inside an uninstrumented system library (Qt, fontconfig) may be suppressed in
# scripts/lsan.supp; the program's own never are.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $$(./scripts/generator.sh $(ASAN_BUILD)) \
		-DCMAKE_BUILD_TYPE=Debug -DTRACER_WERROR=$(WERROR) -DTRACER_SANITIZE=ON -DTRACER_CORE_ONLY=OFF -DTRACER_BENCH=OFF $(LAUNCHER)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen \
		ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS) --timeout 300

# The program runs from a Release build of its own; settings.txt and traces/ live beside it.
release: deps
	cmake -S . -B $(RELEASE_BUILD) $$(./scripts/generator.sh $(RELEASE_BUILD)) -DCMAKE_BUILD_TYPE=Release -DTRACER_BENCH=OFF $(LAUNCHER)
	cmake --build $(RELEASE_BUILD) -j $(JOBS) --target tracer-interface tracer-sim

run: release
	$(RELEASE_BUILD)/bin/tracer-interface

# A simulated tracer on a pseudo-terminal sends a job every few seconds, in all four encodings.
demo: release
	./scripts/demo.sh $(RELEASE_BUILD)

# Screenshots of the main window, the settings dialog and the log window under Xvfb, and a page of
# the job sheet, for the README.
screenshots: release
	@./scripts/install-deps.sh xvfb imagemagick xdotool x11-utils
	cmake --build $(RELEASE_BUILD) -j $(JOBS) --target job_sheet_image
	./scripts/screenshots.sh $(RELEASE_BUILD) doc

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b" || exit 1; done
	@echo "== reply latency, protocol handler in-process (400-point format-1 jobs over a pty)"
	@$(BUILD)/bench/reply_latency --jobs 2000
	@echo "== reply latency, omatool listen on a pty"
	@bench/latency_listen.sh $(BUILD) 2000
	@echo "== reply latency, the operator program (offscreen) and the floor in turns, jobs 50 ms apart"
	@$(BUILD)/bench/reply_latency --program $(BUILD)/bin/tracer-interface --jobs 300 --gap 50
	@echo "== the operator program as a process (start, job latency, memory, idle CPU)"
	@$(BUILD)/bench/app_figures $(BUILD)/bin/tracer-interface
	@$(BUILD)/bench/form_latency

FUZZ_TARGETS ?= oma_parse trace_decoders trace_calc oma_tracer trace_file settings_file job_intake shape_edit job_file_roundtrip

fuzz:
	@./scripts/install-deps.sh clang libclang-rt-14-dev
	cmake -S . -B $(FUZZ_BUILD) $$(./scripts/generator.sh $(FUZZ_BUILD)) \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DTRACER_FUZZ=ON -DTRACER_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	@for name in $(FUZZ_TARGETS); do \
		mkdir -p fuzz-out/$$name; \
		echo "== $$name ($(FUZZ_SECONDS) s)"; \
		$(FUZZ_BUILD)/fuzz/fuzz_$$name -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=4096 \
			-print_final_stats=1 fuzz-out/$$name fuzz/corpus/$$name > fuzz-out/$$name.log 2>&1; \
		status=$$?; \
		grep -E 'stat::number_of_executed_units|ERROR|SUMMARY' fuzz-out/$$name.log; \
		[ $$status -eq 0 ] || { echo "fuzz_$$name failed: see fuzz-out/$$name.log"; exit 1; }; \
	done

# Every build folder made here (the package and Windows ones are named further down).
clean:
	rm -rf $(BUILD) $(RELEASE_BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(PACKAGE_BUILD) $(WINDOWS_BUILD)

# The Debian package (build-package/tracer-interface_*.deb), and its install-and-run check (root).
PACKAGE_BUILD ?= build-package
# The version to package (make package VERSION=x.y.z); given every time, so that a version an
# earlier build was given does not stay behind in the build folder's cache.
VERSION ?= $(shell sed -n "s/^set.TRACER_VERSION \\([^ ]*\\) CACHE.*/\\1/p" CMakeLists.txt)
.PHONY: package package-check
# File times and the release's date come from the commit built: two builds give the same bytes.
package: export SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct)
package:
	@./scripts/install-deps.sh dpkg-dev file lintian desktop-file-utils appstream
	cmake -S . -B $(PACKAGE_BUILD) $$(./scripts/generator.sh $(PACKAGE_BUILD)) -DCMAKE_BUILD_TYPE=Release \
		-DCMAKE_INSTALL_PREFIX=/usr -DTRACER_BENCH=OFF -DTRACER_VERSION=$(VERSION)
	cmake --build $(PACKAGE_BUILD) -j $(JOBS) --target tracer-interface omatool tracer-sim desktop_files debian_changelog
	cd $(PACKAGE_BUILD) && rm -f tracer-interface_*.deb && cpack

package-check:
	@./scripts/install-deps.sh dpkg-dev file lintian desktop-file-utils appstream devscripts fontconfig
	./scripts/package-check.sh $(PACKAGE_BUILD)

# Windows, cross-built with MinGW-w64 against the prebuilt Qt for MinGW (scripts/windows-build.sh
# says where it comes from). One Release build serves the tests under wine and the packages.
WINDOWS_BUILD ?= build-windows
WINE_ENV = WINEPREFIX=$(CURDIR)/$(WINDOWS_BUILD)/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= \
	WINEPATH="$(CURDIR)/$(WINDOWS_BUILD)/qt6-mingw64/bin"
.PHONY: windows-build test-windows windows windows-proof
windows-build:
	./scripts/windows-build.sh $(WINDOWS_BUILD) Release -DTRACER_WERROR=$(WERROR)

# A throwaway wine prefix per run; the serial tests map a pseudo-terminal as COM1 in it. The
# prefix settles (wine's own start-up processes end) before the tests, whose programs must not
# wait on its first-time work: the single-instance tests give a later start 5 s to be answered.
test-windows: windows-build
	rm -rf $(WINDOWS_BUILD)/wineprefix
	$(WINE_ENV) wineboot -i >/dev/null 2>&1 || true
	$(WINE_ENV) wineserver -w >/dev/null 2>&1 || true
	cd $(WINDOWS_BUILD) && $(WINE_ENV) ctest --output-on-failure -j $(JOBS) --timeout 300

windows: windows-build
	./scripts/windows-package.sh $(WINDOWS_BUILD)

# The installer under wine in Xvfb: install, jobs from tracer-sim over COM1, files compared with
# the Linux build's, a screenshot, uninstall.
windows-proof: windows build
	./scripts/wine-proof.sh $(WINDOWS_BUILD) $(BUILD)

# Lists the sources that differ from .clang-format, changing nothing.
.PHONY: format-check
format-check:
	./scripts/format-check.sh
