# The two commands: `make run` and `make test`.
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Seconds each fuzz target runs in `make fuzz` (`make test` runs each briefly).
FUZZ_SECONDS ?= 60
# Polls of `make soak`.
SOAK_POLLS ?= 10000

.PHONY: all deps build run test test-asan test-fuzz fuzz-build fuzz soak bench package clean

all: build

deps:
	./scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./scripts/run-demo $(BUILD)

# Every test, then every test again built with AddressSanitizer and
# UndefinedBehaviorSanitizer, then each fuzz target for a few seconds.
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	$(MAKE) --no-print-directory test-asan
	$(MAKE) --no-print-directory test-fuzz

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_FLAGS) -DPALISOR_SANITIZE=ON -DPALISOR_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

fuzz-build: deps
	cmake -S . -B $(FUZZ_BUILD) $(CMAKE_FLAGS) -DCMAKE_CXX_COMPILER=clang++ -DPALISOR_FUZZ=ON -DPALISOR_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets

test-fuzz: fuzz-build
	env -u FUZZ_SECONDS ctest --test-dir $(FUZZ_BUILD) -L fuzz --output-on-failure -j $(JOBS)

# Each fuzz target for FUZZ_SECONDS, one after the other; what they find
# is kept in $(FUZZ_BUILD)/fuzz-work/<target>/.
fuzz: fuzz-build
	FUZZ_SECONDS=$(FUZZ_SECONDS) ctest --test-dir $(FUZZ_BUILD) -L fuzz --verbose --timeout $$(( $(FUZZ_SECONDS) + 300 ))

# The monitor against the simulator for SOAK_POLLS polls; fails when memory
# grows or file descriptors leak.
soak: build
	$(BUILD)/bench/soak/palisor-soak $(SOAK_POLLS)

# The speed benchmarks, each failing when it misses a target: the rule checks
# and recording against large lists, a 100,000-line ban-list import beside
# isql-fb inserting the same rows, the History window's chart over a month of
# polls, palisor-monitor's memory beside the window's over the same 1,000
# polls, how late the window's own timer fires while the monitor works, and
# the running program with empty and with large lists.
# Every benchmark runs even when an earlier one misses; the target fails at
# the end and names the ones that missed.
bench: build
	@missed=""; \
	for run in "$(BUILD)/bench/store/bench_store" \
	           "$(BUILD)/bench/import/bench_import" \
	           "env QT_QPA_PLATFORM=offscreen $(BUILD)/bench/history/bench_history" \
	           "./bench/soak/memory.sh $(BUILD) 1000" \
	           "$(BUILD)/bench/latency/bench_latency" \
	           "$(BUILD)/bench/lists/bench_lists"; do \
	  echo "== $$run"; \
	  $$run || missed="$$missed$${missed:+, }$${run##*/}"; \
	done; \
	if [ -n "$$missed" ]; then echo "make bench: targets missed by $$missed"; exit 1; fi; \
	echo "make bench: every target met"

# The Debian package, left in this folder: palisor_VERSION-1_ARCH.deb.
package: build
	rm -f palisor_*.deb $(BUILD)/palisor_*.deb
	cd $(BUILD) && cpack -G DEB
	cp $(BUILD)/palisor_*.deb .

clean:
	rm -f palisor_*.deb
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
