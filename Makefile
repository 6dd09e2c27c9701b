# The two set-up commands of the README, and the steps they are made of.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
BUILD_TYPE ?= RelWithDebInfo

.PHONY: all deps build build-linux build-win32 build-win64 check check-linux check-windows check-win32 check-asan check-tsan demo demo-check bench clean

# Which Windows test run `make check` does (scripts/windows-tests-mode):
# pe32-wow64 runs the PE32 test programs under WOW64 in a 64-bit Wine prefix;
# x86-64 builds the same Windows sources for x86-64 (build/win64) and runs
# them under 64-bit Wine, for machines that cannot run 32-bit code. Found out
# once per make; `make check WINDOWS_TESTS=x86-64` forces either.
ifeq ($(WINDOWS_TESTS),)
WINDOWS_TESTS := $(shell ./scripts/windows-tests-mode)
endif
ifeq ($(WINDOWS_TESTS),x86-64)
WINDOWS_TEST_TREE := build/win64
WINDOWS_TEST_SUMMARY := x86-64 build under 64-bit Wine
else ifeq ($(WINDOWS_TESTS),pe32-wow64)
WINDOWS_TEST_TREE := build/win32
WINDOWS_TEST_SUMMARY := PE32 under WOW64 (64-bit prefix)
else
$(error WINDOWS_TESTS must be pe32-wow64 or x86-64, not '$(WINDOWS_TESTS)')
endif
ifneq ($(shell ./scripts/runs-32bit-code && echo yes),yes)
WINDOWS_TEST_SUMMARY += (this machine cannot run 32-bit code)
endif
export WINDOWS_TESTS

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

build/win64/CMakeCache.txt:
	cmake -S . -B build/win64 -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchain-x86_64-w64-mingw32.cmake

build-win32: build/win32/CMakeCache.txt
	cmake --build build/win32 -j $(JOBS)

build-win64: build/win64/CMakeCache.txt
	cmake --build build/win64 -j $(JOBS)

build: deps
	$(MAKE) build-linux build-win32

check-linux: build-linux
	cd build/linux && ctest --output-on-failure -LE bench -j $(JOBS)

# The product is PE32 whichever Windows run the tests are. Wine runs one
# prefix; its tests share it, so they run one after another.
check-windows: build-win32 $(if $(filter build/win64,$(WINDOWS_TEST_TREE)),build-win64)
	@file build/win32/NetBankAssistant.exe | grep -q 'PE32 executable' || \
	  { echo "build/win32/NetBankAssistant.exe is not PE32"; exit 1; }
	cd $(WINDOWS_TEST_TREE) && ctest --output-on-failure
	@echo "Windows tests: $(WINDOWS_TEST_SUMMARY)"
check-win32: check-windows

check: deps
	$(MAKE) build-linux build-win32 $(if $(filter build/win64,$(WINDOWS_TEST_TREE)),build-win64)
	$(MAKE) check-linux
	$(MAKE) check-asan
	$(MAKE) check-tsan
	$(MAKE) check-windows

# Sanitizer builds of the native tests, in trees of their own, optimised
# lightly to keep their build short. Every finding fails the run.
SANITIZER_BUILD := -G Ninja -DCMAKE_BUILD_TYPE=None "-DCMAKE_CXX_FLAGS=-O1 -g1" "-DCMAKE_C_FLAGS=-O1 -g1"

build/asan/CMakeCache.txt:
	cmake -S . -B build/asan $(SANITIZER_BUILD) "-DASSISTANT_SANITIZE=address;undefined"

build/tsan/CMakeCache.txt:
	cmake -S . -B build/tsan $(SANITIZER_BUILD) -DASSISTANT_SANITIZE=thread

# Every native test program under AddressSanitizer (leaks included) and
# UndefinedBehaviorSanitizer, and the page bridge driven from the browser;
# the other browser-driven page tests stay in build/linux.
check-asan: build/asan/CMakeCache.txt
	cmake --build build/asan -j $(JOBS)
	cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -LE bench -E '^page_' -j $(JOBS)
	cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -R '^page_bridge$$'

# The threaded parts under ThreadSanitizer: the page bridge (driven from the
# browser), the script workers, the network workers and the engine. Address
# randomisation is turned off for the run: the sanitizer's fixed memory
# layout does not fit every kernel's randomisation.
TSAN_TARGETS := ui_tests net_tests checkfix_tests engine_commands_tests page_bridge_host
check-tsan: build/tsan/CMakeCache.txt
	cmake --build build/tsan -j $(JOBS) --target $(TSAN_TARGETS)
	cd build/tsan && TSAN_OPTIONS=second_deadlock_stack=1 setarch $$(uname -m) -R \
	  ctest --output-on-failure -R '^(ui|net|checkfix|engine_commands|page_bridge)$$'

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
	rm -rf build/linux build/win32 build/win64 build/asan build/tsan
