# Entry points for people and CI. See README.md.
.PHONY: demo test deps package native asan win32 win64 test-native test-asan test-win32 test-win64 clean

JOBS ?= 2

deps:
	bash scripts/install-deps.sh

native: deps
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS)

asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)

win32: deps
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 -j $(JOBS)

win64: deps
	cmake --preset win64 >/dev/null
	cmake --build --preset win64 -j $(JOBS)

test-native: native
	ctest --preset native

test-asan: asan
	ctest --preset asan

# Skipped, with the reason, where the kernel does not run i386 programs.
test-win32: win32
	ctest --preset win32

test-win64: win64
	ctest --preset win64

# Every build that can run here, and every test.
test: deps
	bash scripts/run-all-tests.sh

# Release packages into build/packages: the .deb (programs, libslimgrf static
# and shared, grf/grf.h, man pages) and the Windows zip (slimwick.exe,
# slimwick-x64.exe, slimwick-cli.exe, slimgrf.exe).
package: deps
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS) --target installables
	cd build/native && cpack -G DEB -B ../packages
	bash scripts/package-windows.sh build/packages

# The main job: build, make a sample archive and clean it.
demo: native
	bash scripts/demo.sh

clean:
	rm -rf build
