# Kavrelo: the two commands of the README, and a few more.
#   make run    install what is missing, build, start Kavrelo under Wine
#               (a headless demonstration under Xvfb when there is no display)
#   make test   install what is missing, build what this machine needs, run
#               every test (scripts/test)
# Every target that starts Wine ends the servers of the project's prefixes
# when it is done, fails or is interrupted (scripts/wine-stop).
# Windows programs run as the i686 build under 32-bit Wine where this machine
# can run 32-bit code, otherwise as the x86_64 build under wine64
# (scripts/wine-arch; KAVRELO_WINE_ARCH=i686 or x86_64 forces either).
.PHONY: run test setup native windows mingw32 mingw64 demo fuzz soak bench dist clean

setup:
	@bash scripts/setup.sh

native: setup
	cmake --preset native >/dev/null
	cmake --build --preset native

# The i686 Kavrelo.exe (mingw32, the program users get) always, and the
# presets whose programs run on this machine: mingw32-gtest, or mingw64 and
# mingw64-gtest where 32-bit code cannot run.
windows: setup
	@set -e; p=$$(bash scripts/wine-arch --preset); \
	for q in mingw32 $$([ $$p = mingw32 ] || echo $$p) $$p-gtest; do \
	  cmake --preset $$q >/dev/null; cmake --build --preset $$q; done

mingw32 mingw64: setup
	@set -e; for q in $@ $@-gtest; do cmake --preset $$q >/dev/null; cmake --build --preset $$q; done

# The servers of their own prefixes (scripts/run-kavrelo), not a test run's.
run: windows
	@bash scripts/wine-stop build/wineprefix-run-* build/wineprefix-demo-* --after bash scripts/run-kavrelo

demo: windows
	@bash scripts/wine-stop build/wineprefix-run-* build/wineprefix-demo-* --after bash scripts/run-kavrelo --demo

test:
	@bash scripts/test

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

# The cross-process growth check for SOAK_MINUTES (default 10): the tool's
# windows and memory while the pointer moves and the bar changes. Run by
# pytest itself: CTest's time limit for the cross-process suite is shorter.
SOAK_MINUTES ?= 10
soak: windows
	KAVRELO_GROWTH_SECONDS=$$(($(SOAK_MINUTES) * 60)) bash scripts/wine-stop --after bash scripts/with-xvfb \
	  /usr/bin/python3 -m pytest -c tests/e2e/pytest.ini tests/e2e/test_e2e.py -k growth

# The release of the current commit (README, "Release"):
# build/dist/Kavrelo-<version>-win32.zip and build/dist/SHA256SUMS.
dist: setup
	/usr/bin/python3 scripts/dist

clean:
	rm -rf build
