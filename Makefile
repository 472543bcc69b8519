# Tracer Interface: set-up and build entry points.
#   make run    installs what is missing, builds, starts the program
#   make test   installs what is missing, builds, runs the whole test suite
#               (then the core's tests and fuzz replays again under ASan + UBSan)
#   make bench  builds and runs the benchmarks
#   make fuzz   builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS

BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 60

.PHONY: all deps build test test-asan run bench fuzz clean

all: build

deps:
	@./scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $$(./scripts/generator.sh $(BUILD)) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 300
	$(MAKE) test-asan

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $$(./scripts/generator.sh $(ASAN_BUILD)) \
		-DCMAKE_BUILD_TYPE=Debug -DTRACER_SANITIZE=ON -DTRACER_CORE_ONLY=ON -DTRACER_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS) --timeout 300

run: build
	@echo "The operator program arrives with the main window; until then try:"
	@echo "  $(BUILD)/tools/omatool/omatool --help"

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b" || exit 1; done
	@echo "== reply latency, protocol handler in-process (400-point format-1 jobs over a pty)"
	@$(BUILD)/bench/reply_latency --jobs 2000
	@echo "== reply latency, omatool listen on a pty"
	@bench/latency_listen.sh $(BUILD) 2000

FUZZ_TARGETS ?= oma_parse trace_decoders trace_calc oma_tracer

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

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
