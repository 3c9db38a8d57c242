# Thin wrapper over CMake. Each target installs what it needs first.
BUILD       ?= build
FUZZ_BUILD  ?= build-fuzz
WIN_BUILD   ?= build-win
TSAN_BUILD  ?= build-tsan
# The optimised build a user or packager makes, so that its warnings fail here first.
BUILD_TYPE  ?= Release
JOBS        ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: deps configure build test unit tsan fuzz windows windows-test bench run demo load install package clean format

deps:
	./scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DQX_WERROR=ON $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Every test: unit and end-to-end tests, the unit tests again under ThreadSanitizer, the Windows programs
# under wine, then each fuzz target briefly.
test: unit tsan windows-test fuzz

unit: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 600

# Only the unit test programs are built with ThreadSanitizer (the device, stream and window tests among them).
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQX_SANITIZE=thread -DQX_WERROR=ON
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target unit_tests
	ctest --test-dir $(TSAN_BUILD)/tests/unit --output-on-failure -j $(JOBS) --timeout 600

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQX_FUZZ=ON \
		-DQX_WERROR=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	ctest --test-dir $(FUZZ_BUILD) --output-on-failure -j $(JOBS) -L fuzz

# The Windows programs, cross-compiled with mingw-w64; $(WIN_BUILD)/dist is the folder to copy to a Windows PC.
windows: deps
	cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DQX_WERROR=ON \
		-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake -DQX_LINUX_BUILD=$(abspath $(BUILD))
	cmake --build $(WIN_BUILD) -j $(JOBS)

# The Windows unit tests under wine, and the Linux control tests driving the Windows client.
windows-test: build windows
	ctest --test-dir $(WIN_BUILD) --output-on-failure -j $(JOBS) --timeout 600

bench: build
	cmake --build $(BUILD) -j $(JOBS) --target benches
	@for b in $(BUILD)/bench/*/*_bench; do [ -x "$$b" ] && "$$b" || exit 1; done

run: build
	./$(BUILD)/qx-native-client $(ARGS)

# The programs (and with them the codec library): what the demo runs and what is installed. `make test`
# builds the tests and benchmarks besides.
PROGRAMS = qx-native-client qxctl qx-devsim zrctool

# Two simulated phones shown side by side (a screenshot in $(BUILD)/demo/ when there is no display).
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target $(PROGRAMS)
	./scripts/demo $(BUILD)

# Walls of simulated phones, more and more of them until a goal is missed (README "Load"; not part of
# `make test`): the profiles named in QX_LOAD_PROFILE (zrc-scroll, wall, h264), all three when it is unset.
load: configure
	cmake --build $(BUILD) -j $(JOBS) --target $(PROGRAMS) qx-loadprobe
	for p in $${QX_LOAD_PROFILE:-zrc-scroll wall h264}; do QX_LOAD_PROFILE=$$p ./scripts/load $(BUILD) || exit 1; done

# Installs into PREFIX (/usr/local); DESTDIR puts the tree under another root.
PREFIX ?= /usr/local
install: configure
	cmake --build $(BUILD) -j $(JOBS) --target $(PROGRAMS)
	cmake --install $(BUILD) --prefix $(PREFIX)

# A Debian package of the installed tree in $(BUILD)/ (CPack; dependencies found by dpkg-shlibdeps).
package: configure
	cmake --build $(BUILD) -j $(JOBS) --target $(PROGRAMS)
	cd $(BUILD) && cpack -G DEB

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD) $(WIN_BUILD) $(TSAN_BUILD)
