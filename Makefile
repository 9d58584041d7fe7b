# The one front door for people and CI alike. Every target sets up the
# machine first (tools/setup.sh installs missing Debian packages as root):
# `make demo` with the packages the demo needs, every other target with
# all of them.
BUILD := build
DIST := dist
# The sanitizer build, with clang: its tests and fuzz targets run from the
# main build's ctest (cmake/ReliabilityChecks.cmake).
SANITIZE_BUILD := $(BUILD)/sanitize
# The demo's build: the Octave plug-ins only, configured without the tests
# and the Windows filter, so that it needs nothing but the demo's packages.
DEMO_BUILD := $(BUILD)/demo
JOBS ?= $(shell nproc)

.PHONY: all setup setup-demo configure build sanitize test bench bench-wine demo dist clean

all: build

setup:
	@tools/setup.sh test

setup-demo:
	@tools/setup.sh demo

# Everything, tests and Windows filter included: a missing tool is an error.
configure: setup
	@mkdir -p $(BUILD) && cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release \
	  -DBUILD_TESTING=ON -DMEX_WIN32=ON -DMEX_WIN64=ON > $(BUILD)/configure.log || \
	  { cat $(BUILD)/configure.log; exit 1; }

build: configure
	cmake --build $(BUILD) -j $(JOBS)
	cmake --install $(BUILD) --prefix $(DIST) > /dev/null

sanitize: setup
	@mkdir -p $(SANITIZE_BUILD) && cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DMEX_SANITIZE=ON \
	  > $(SANITIZE_BUILD)/configure.log || { cat $(SANITIZE_BUILD)/configure.log; exit 1; }
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)

test: build sanitize
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Times the plain loops, the fast paths and the memory floor; prints a
# table and writes it to $(BUILD)/bench.csv as well. Takes a few minutes.
bench: configure
	cmake --build $(BUILD) --target fast_paths_bench -j $(JOBS)
	BENCH_CSV=$(BUILD)/bench.csv $(BUILD)/bench/fast_paths_bench $(BENCH_ARGS)

# Times both 64-bit Windows plug-ins under wine beside the Linux ones, on
# this machine, through the same stand-in host, in the tests' wine prefix
# (build/win64/wine-prefix).
bench-wine: build
	cmake --build $(BUILD) --target win64_speed -j $(JOBS)
	cd $(BUILD) && ctest -R win64_wine_start --output-on-failure > /dev/null
	status=0; $(BUILD)/tests/windows/win64_speed || status=$$?; \
	  cd $(BUILD) && ctest -R win64_wine_stop > /dev/null; exit $$status

# The demo needs only the plug-ins built for GNU Octave.
DEMO_PNG := $(DEMO_BUILD)/tarv_demo.png
demo: setup-demo
	@mkdir -p $(DEMO_BUILD) && cmake -S . -B $(DEMO_BUILD) -DCMAKE_BUILD_TYPE=Release \
	  -DBUILD_TESTING=OFF -DMEX_WIN32=OFF -DMEX_WIN64=OFF > $(DEMO_BUILD)/configure.log || \
	  { cat $(DEMO_BUILD)/configure.log; exit 1; }
	cmake --build $(DEMO_BUILD) --target octave_plugins -j $(JOBS)
	@octave-cli --norc --no-history --quiet --no-window-system \
	  --path octave --path octave/demo --path $(DEMO_BUILD)/octave \
	  --eval "headless_graphics (); tarv_demo ('$(abspath $(DEMO_PNG))');"

# The Octave package tarball, for `pkg install`.
dist: build
	cmake --install $(BUILD) --prefix $(DIST) --component octave_package

clean:
	rm -rf $(BUILD) $(DIST)
