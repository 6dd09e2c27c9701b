# The two set-up commands of the README, and the steps they are made of.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
BUILD_TYPE ?= RelWithDebInfo

.PHONY: all deps build build-linux build-win32 check check-linux check-win32 demo demo-check bench clean

all: build

deps:
	./scripts/install-deps

build/linux/CMakeCache.txt:
	cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build/win32/CMakeCache.txt:
	cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchain-i686-w64-mingw32.cmake

build-linux: build/linux/CMakeCache.txt
	cmake --build build/linux -j $(JOBS)

build-win32: build/win32/CMakeCache.txt
	cmake --build build/win32 -j $(JOBS)

build: deps
	$(MAKE) build-linux build-win32

check-linux: build-linux
	cd build/linux && ctest --output-on-failure -LE bench -j $(JOBS)

# Wine runs one prefix; its tests share it, so they run one after another.
check-win32: build-win32
	cd build/win32 && ctest --output-on-failure

check: deps
	$(MAKE) build-linux build-win32
	$(MAKE) check-linux
	$(MAKE) check-win32

# make demo ARGS=--no-browser prints the address instead; RESET=1 seeds the
# demo machine again from the same faults.
demo: deps build-linux
	RESET=$(RESET) ./scripts/demo $(ARGS)

# The headless report on a freshly seeded demo machine: the faults, the
# repair, the clean pass.
demo-check: deps build-linux
	./scripts/demo --report

bench: deps build-linux
	cd build/linux && ctest -L bench --output-on-failure

clean:
	rm -rf build/linux build/win32
