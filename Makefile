# VantaIRC: the top-level entry points. Every target does its own set-up on a fresh Debian machine.
PRESET ?= debug
JOBS ?= $(shell nproc)

.PHONY: all deps build run test asan tsan release fuzz bench clean

all: build

deps:
	@scripts/deps

build: deps
	@cmake --preset $(PRESET) >/dev/null
	@cmake --build --preset $(PRESET) -j $(JOBS)

run: build
	@scripts/run

test: build
	@ctest --preset $(PRESET) -j $(JOBS)

asan:
	@$(MAKE) --no-print-directory test PRESET=asan

tsan:
	@$(MAKE) --no-print-directory test PRESET=tsan

release:
	@$(MAKE) --no-print-directory build PRESET=release

fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)

clean:
	rm -rf build build-release build-asan build-tsan build-fuzz
