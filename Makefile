# Entry points. Each target does all set-up it needs on a fresh Debian 12.
BUILD ?= build
JOBS  ?= 2
SHELL := /bin/bash
export ZOL_WINE_ROOT := $(abspath $(BUILD))/wine

.PHONY: all setup configure build prefix test demo bench fuzz stress crash-sweep clean

all: build

setup:
	@scripts/setup.sh $(BUILD)

configure: setup
	@if [ ! -f $(BUILD)/CMakeCache.txt ]; then \
	  cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake \
	    -DCMAKE_PREFIX_PATH=$(abspath $(BUILD))/expat/install \
	    -DCMAKE_CROSSCOMPILING_EMULATOR=$(CURDIR)/scripts/wine-run.sh >/dev/null; fi

build: configure
	@cmake --build $(BUILD) -j$(JOBS) 2>&1 | grep -Ev '^\[ *[0-9]+%\]|^$$|^g?make\[[0-9]+\]: (Entering|Leaving)' ; exit $${PIPESTATUS[0]}

prefix: setup
	@scripts/make-prefix.sh $(BUILD)

# The fleet playbook's test needs Ansible and ansible-lint (Debian's packages).
setup-fleet:
	@scripts/setup.sh $(BUILD) fleet

test: build prefix setup-fleet
	@cd $(BUILD) && ctest -j$(JOBS) --output-on-failure --timeout 900

demo: build prefix
	@scripts/demo.sh $(BUILD) chipset

.PHONY: setup-fleet demo-legacy demo-virtual demo-fleet
demo-legacy: build prefix
	@scripts/demo-inf.sh $(BUILD) legacy

demo-virtual: build prefix
	@scripts/demo-inf.sh $(BUILD) virtual

demo-fleet: build prefix setup-fleet
	@scripts/demo-fleet.sh $(BUILD)

# A long hostile-input run: FUZZ_ITERATIONS inputs across the four readers,
# in a fresh prefix. Crashing or hanging inputs are saved to $(BUILD)/fuzz-findings.
FUZZ_ITERATIONS ?= 120000
FUZZ_SEED ?= $(shell date +%s)
fuzz: build prefix
	@mkdir -p $(BUILD)/fuzz-findings
	@scripts/wine-run.sh $(BUILD)/bin/zolfuzz.exe --seed $(FUZZ_SEED) --iterations $(FUZZ_ITERATIONS) \
	  --out Z:$(abspath $(BUILD))/fuzz-findings

# Benchmarks under Wine: the component next to the platform calls it cannot avoid.
bench: build prefix
	@scripts/wine-run.sh $(BUILD)/bin/zolbench.exe Z:$(abspath $(BUILD))/packages $(BENCH_CASES)

# Repeated host runs under load (not part of the tests): STRESS_RUNS runs,
# default 1000, on STRESS_SERVERS simulated servers at once (default 3) beside
# a busy loop: installs, uninstalls, the questions, the uninstall what-if,
# runs killed at a random moment and run again, and two runs at once on one
# server (the install lock). Prints the counts per kind of run and the
# failures with their exit codes, what differed and their output.
stress: build prefix
	@scripts/stress.sh $(BUILD)

# Every install and uninstall of the samples cut off before each change it
# makes, then run again (tests/crash_sweep.py); `make test` runs a spread of
# the cut points. Not part of the tests: about 40 minutes on two cores.
crash-sweep: build prefix
	@python3 tests/crash_sweep.py $(BUILD) --all

clean:
	rm -rf $(BUILD)

# The release archive $(BUILD)/dist/zolcomp-<version>.zip; signed when
# ZOL_SIGN_CERT and ZOL_SIGN_KEY are set. dist-check builds the release twice
# in fresh folders and compares the bytes.
.PHONY: dist dist-check
dist: configure
	@cmake --build $(BUILD) -j$(JOBS) --target dist 2>&1 | grep -Ev '^\[ *[0-9]+%\]|^$$|^g?make\[[0-9]+\]: (Entering|Leaving)' ; exit $${PIPESTATUS[0]}

dist-check: setup
	@JOBS=$(JOBS) scripts/dist-check.sh $(BUILD)
