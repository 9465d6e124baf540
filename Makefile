# The two commands of the README, and their parts.
MAKEFLAGS += --no-print-directory
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: deps build run test bench screenshots clean format

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run-local

test: build
	@cd $(BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS)

bench: build
	@bench/run

screenshots: build
	@scripts/screenshots

format:
	@find src tests tools bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD)
