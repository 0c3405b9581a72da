# Kavrelo: the two commands of the README, and a few more.
#   make run    install what is missing, build, start Kavrelo under Wine
#               (a headless demonstration under Xvfb when there is no display)
#   make test   install what is missing, build every preset, run every test
#               (the end-to-end tests under one Windows version)
#   make test-matrix  the end-to-end tests under every Windows version
# Every target that starts Wine ends the servers of the project's prefixes
# when it is done, fails or is interrupted (scripts/wine-stop).
# Windows programs run as the i686 build under 32-bit Wine where this machine
# can run 32-bit code, otherwise as the x86_64 build under wine64
# (scripts/wine-arch; KAVRELO_WINE_ARCH=i686 or x86_64 forces either).
.PHONY: run test test-matrix setup native windows mingw32 mingw64 demo fuzz soak bench clean

setup:
	@bash scripts/setup.sh

native: setup
	cmake --preset native
	cmake --build --preset native

# The i686 Kavrelo.exe, and the build whose programs run on this machine.
windows: setup
	@bash scripts/build-windows

mingw32: setup
	cmake --preset mingw32
	cmake --build --preset mingw32
	cmake --preset mingw32-gtest
	cmake --build --preset mingw32-gtest

mingw64: setup
	cmake --preset mingw64
	cmake --build --preset mingw64
	cmake --preset mingw64-gtest
	cmake --build --preset mingw64-gtest

run: windows
	@bash scripts/wine-stop --after bash scripts/run-kavrelo

demo: windows
	@bash scripts/wine-stop --after bash scripts/run-kavrelo --demo

test:
	@bash scripts/test

test-matrix:
	@bash scripts/test --matrix

# libFuzzer on the handle-text conversion (5 million inputs by default;
# FUZZ=SECONDS or FUZZ=-runs=N to change).
fuzz:
	@bash scripts/setup.sh fuzz
	tests/fuzz/run-fuzz $(FUZZ)

# Idle CPU, start-up, memory and size against two reference programs, and the
# core's cost natively: the table of BENCHMARKS.md (about 7 minutes). The
# benchmarks follow one Wine server through each scenario: it stays while
# they run (and is ended when they are done).
bench: native windows
	KAVRELO_WINESERVER_LINGER=600 bash scripts/wine-stop --after bash bench/run

# Kavrelo under load for SOAK_MINUTES (default 10), watching memory and objects.
SOAK_MINUTES ?= 10
soak: windows
	/usr/bin/python3 tests/reliability/soak.py --minutes $(SOAK_MINUTES)

# The release (README, "Release"): build/dist/Kavrelo-<version>-win32.zip and
# SHA256SUMS, built twice in two folders to prove that they are reproducible.
.PHONY: dist
dist: setup
	/usr/bin/python3 scripts/dist

clean:
	rm -rf build
