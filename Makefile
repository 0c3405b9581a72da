# Kavrelo: the two commands of the README, and a few more.
#   make run    install what is missing, build, start Kavrelo under Wine
#               (a headless demonstration under Xvfb when there is no display)
#   make test   install what is missing, build every preset, run every test
.PHONY: run test setup native mingw32 demo fuzz soak bench clean

setup:
	@bash scripts/setup.sh

native: setup
	cmake --preset native
	cmake --build --preset native

mingw32: setup
	cmake --preset mingw32
	cmake --build --preset mingw32
	cmake --preset mingw32-gtest
	cmake --build --preset mingw32-gtest

run: mingw32
	@bash scripts/run-kavrelo

demo: mingw32
	@bash scripts/with-display /usr/bin/python3 tests/e2e/demo.py --exe build/mingw32/bin/Kavrelo.exe --out build/demo

test: native mingw32
	ctest --preset native
	env -u DISPLAY ctest --preset mingw32-gtest
	env -u DISPLAY ctest --preset mingw32

# libFuzzer on the handle-text conversion (5 million inputs by default;
# FUZZ=SECONDS or FUZZ=-runs=N to change).
fuzz:
	@bash scripts/setup.sh fuzz
	tests/fuzz/run-fuzz $(FUZZ)

# Idle CPU, start-up, memory and size against two reference programs, and the
# core's cost natively: the table of BENCHMARKS.md (about 7 minutes).
bench: native mingw32
	bash bench/run

# Kavrelo under load for SOAK_MINUTES (default 10), watching memory and objects.
SOAK_MINUTES ?= 10
soak: mingw32
	/usr/bin/python3 tests/reliability/soak.py --minutes $(SOAK_MINUTES)

# The release (README, "Release"): build/dist/Kavrelo-<version>-win32.zip and
# SHA256SUMS, built twice in two folders to prove that they are reproducible.
.PHONY: dist
dist: setup
	/usr/bin/python3 scripts/dist

clean:
	rm -rf build
