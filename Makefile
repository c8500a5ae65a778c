# The two commands: `make run` and `make test`.
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)
# The tests mostly wait on servers that answer late or not at all, so twice
# as many run at once as there are cores.
TEST_JOBS ?= $(shell echo $$(( 2 * $(JOBS) )))
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Seconds each fuzz target runs in `make fuzz` (`make test` runs each briefly).
FUZZ_SECONDS ?= 60
# Polls of `make soak`.
SOAK_POLLS ?= 10000

.PHONY: all deps build run test test-asan test-fuzz fuzz-build fuzz soak bench package clean

all: build

deps:
	./scripts/install-deps $(BUILD)

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./scripts/run-demo $(BUILD)

# The sanitizer build: clang with AddressSanitizer, UndefinedBehaviorSanitizer
# and libFuzzer's coverage hooks. It runs every test again and holds the fuzz
# targets, so one build serves both.
# Its tests start the Firebird server unpacked into the main build folder.
# It does without precompiled headers: clang's embed the clone's folder, so
# ccache could never reuse what another clone compiled, while without them
# a fresh clone compiles the sanitizer build from the cache in a minute.
ASAN_FLAGS = $(CMAKE_FLAGS) -DCMAKE_CXX_COMPILER=clang++ -DPALISOR_FUZZ=ON -DPALISOR_BENCH=OFF -DPALISOR_PCH=OFF \
  -DPALISOR_FIREBIRD_SERVER=$(abspath $(BUILD))/firebird-server/usr/sbin/firebird

# Every test, then every test again in the sanitizer build and each fuzz
# target for a few seconds. The tests mostly wait on servers and programs,
# so the release tests run while the sanitizer build compiles (at a lower
# priority, so the tests' timing is theirs) and the sanitizer tests start
# as soon as it is built, beside them; the release tests' output follows
# the sanitizer tests'.
test: build
	cmake -S . -B $(ASAN_BUILD) $(ASAN_FLAGS)
	@echo "ctest --test-dir $(BUILD) (output in $(BUILD)/make-test.log) while $(ASAN_BUILD) is built and tested"
	@ctest --test-dir $(BUILD) --output-on-failure -j $(TEST_JOBS) >$(BUILD)/make-test.log 2>&1 & tests=$$!; \
	nice -n 10 cmake --build $(ASAN_BUILD) -j $(JOBS) && \
	env -u FUZZ_SECONDS ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(TEST_JOBS); checked=$$?; \
	wait $$tests; tested=$$?; \
	cat $(BUILD)/make-test.log; \
	[ $$tested -eq 0 ] && [ $$checked -eq 0 ]

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $(ASAN_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	env -u FUZZ_SECONDS ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(TEST_JOBS)

fuzz-build: deps
	cmake -S . -B $(ASAN_BUILD) $(ASAN_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target fuzz_targets

test-fuzz: fuzz-build
	env -u FUZZ_SECONDS ctest --test-dir $(ASAN_BUILD) -L fuzz --output-on-failure -j $(JOBS)

# Each fuzz target for FUZZ_SECONDS, one after the other; what they find
# is kept in $(ASAN_BUILD)/fuzz-work/<target>/.
fuzz: fuzz-build
	FUZZ_SECONDS=$(FUZZ_SECONDS) ctest --test-dir $(ASAN_BUILD) -L fuzz --verbose --timeout $$(( $(FUZZ_SECONDS) + 300 ))

# The monitor against the simulator for SOAK_POLLS polls; fails when memory
# grows or file descriptors leak.
soak: build
	cmake --build $(BUILD) -j $(JOBS) --target palisor-soak
	$(BUILD)/bench/soak/palisor-soak $(SOAK_POLLS)

# The speed benchmarks, each failing when it misses a target: the rule checks
# and recording against large lists, a 100,000-line ban-list import beside
# isql-fb inserting the same rows, the History window's chart over a month of
# polls, palisor-monitor's memory beside the window's over the same 1,000
# polls, how late the window's own timer fires while the monitor works, and
# the running program with empty and with large lists; palisorctl and a
# window-like program beside a running palisor-monitor; one palisor-monitor on
# eight servers against the same on one; a database on a Firebird server
# against the embedded file, and a commit elsewhere reaching a list window;
# a palisor-monitor's memory through a minute's outage of its database
# server.
# Every benchmark runs even when an earlier one misses; the target fails at
# the end and names the ones that missed.
bench: build
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	@missed=""; \
	for run in "$(BUILD)/bench/store/bench_store" \
	           "$(BUILD)/bench/import/bench_import" \
	           "env QT_QPA_PLATFORM=offscreen $(BUILD)/bench/history/bench_history" \
	           "./bench/soak/memory.sh $(BUILD) 1000" \
	           "$(BUILD)/bench/latency/bench_latency" \
	           "$(BUILD)/bench/lists/bench_lists" \
	           "$(BUILD)/bench/shared/bench_shared" \
	           "$(BUILD)/bench/servers/bench_servers" \
	           "env QT_QPA_PLATFORM=offscreen $(BUILD)/bench/remote/bench_remote" \
	           "$(BUILD)/bench/outage/bench_outage"; do \
	  echo "== $$run"; \
	  $$run || missed="$$missed$${missed:+, }$${run##*/}"; \
	done; \
	if [ -n "$$missed" ]; then echo "make bench: targets missed by $$missed"; exit 1; fi; \
	echo "make bench: every target met"

# The Debian packages, left in this folder: palisor_VERSION-1_ARCH.deb (the
# window) and palisor-monitor_VERSION-1_ARCH.deb (the headless programs).
package: build
	rm -f palisor_*.deb palisor-*_*.deb $(BUILD)/palisor_*.deb $(BUILD)/palisor-*_*.deb
	cd $(BUILD) && cpack -G DEB
	cp $(BUILD)/palisor_*.deb $(BUILD)/palisor-monitor_*.deb .

clean:
	rm -f palisor_*.deb palisor-*_*.deb
	rm -rf $(BUILD) $(ASAN_BUILD)
