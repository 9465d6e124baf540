# The two commands of the README, and their parts.
MAKEFLAGS += --no-print-directory
# Recipes that filter a command's output still fail when the command does.
SHELL := /bin/bash
.SHELLFLAGS := -o pipefail -c
BUILD ?= build
JOBS ?= $(shell nproc)

ASAN_BUILD ?= build-asan
FUZZ_SECONDS ?= 20

HEADLESS_BUILD ?= build-headless

DEB_BUILD ?= build-deb

.PHONY: deps deps-run programs build build-headless deb run test test-sanitize fuzz fuzz-short bench instructions screenshots clean format

PROGRAMS = quilljot xap-hub xap-send xap-snoop

# What the programs need, and (deps) what their tests need as well.
deps-run:
	@scripts/install-deps run

deps:
	@scripts/install-deps test

configure = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

# The four programs and what `cmake --install` needs beside them (the sample settings file); no
# test, benchmark or fuzz target is compiled.
programs: deps-run
	@$(configure)
	@echo "make: building $(PROGRAMS) in $(BUILD)/bin with $(JOBS) jobs"
	@cmake --build $(BUILD) -j $(JOBS) --target $(PROGRAMS) settings_sample_file | sed -u '/Built target\|Automatic MOC/d'

build: deps
	@$(configure)
	@echo "make: building the programs, tests and benchmarks in $(BUILD) with $(JOBS) jobs"
	@cmake --build $(BUILD) -j $(JOBS)

# The logger without QtWidgets (QUILLJOT_GUI=OFF), for servers; fails if it links a GUI library.
build-headless: deps-run
	@cmake -S . -B $(HEADLESS_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLJOT_GUI=OFF >/dev/null
	@cmake --build $(HEADLESS_BUILD) -j $(JOBS) --target $(PROGRAMS)
	@! ldd $(HEADLESS_BUILD)/bin/quilljot | grep -E 'libQt6(Widgets|Gui)' || \
	  (echo "the headless quilljot links a GUI library" >&2; exit 1)
	@$(HEADLESS_BUILD)/bin/quilljot --version

# The Debian package of the headless logger and the xAP tools (debian/), built in DEB_BUILD from a
# copy of the sources and put here: quilljot_<version>_amd64.deb.
deb:
	@scripts/install-deps run debhelper dpkg-dev
	@echo "make: building the Debian package in $(DEB_BUILD) (a first build takes a few minutes)"
	@cp "$$(scripts/build-deb $(DEB_BUILD))" .
	@ls quilljot_*.deb

run: programs
	@echo "make: starting the local hub and the logger (scripts/run-local); Ctrl-C ends both"
	@scripts/run-local

test: build
	@echo "make: running every test (ctest in $(BUILD))"
	@cd $(BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS)

# The whole suite again, built with AddressSanitizer and UBSan; any report fails, also one from a
# program a test started. Built with clang, whose UBSan writes its reports where ASan does.
test-sanitize: deps
	@CC=clang CXX=clang++ cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLJOT_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@rm -rf $(ASAN_BUILD)/sanitizer-reports && mkdir -p $(ASAN_BUILD)/sanitizer-reports
	@status=0; (cd $(ASAN_BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS)) || status=1; \
	  scripts/sanitizer-reports $(ASAN_BUILD)/sanitizer-reports || status=1; exit $$status

# Each fuzz target for FUZZ_SECONDS (CI: a short run so that regressions show up).
fuzz-short:
	@scripts/fuzz $(FUZZ_SECONDS)

fuzz:
	@scripts/fuzz 600

# CAPTURE=FILE offers the datagrams of a capture of xap-snoop instead of the synthetic load.
bench: build
	@bench/run $(if $(CAPTURE),--capture $(CAPTURE))

# Instructions per logged event, counted by callgrind (repeatable where seconds are not).
instructions: build
	@bench/instructions

screenshots: build
	@scripts/screenshots

format:
	@find src tests tools bench fuzz -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD) $(ASAN_BUILD) $(HEADLESS_BUILD) $(DEB_BUILD) build-fuzz
