# The one front door for people and CI alike. Every target sets up the
# machine first (tools/setup.sh installs missing Debian packages as root):
# `make demo` and `make dist` with the packages the demo needs, `make
# release` with those, the cross compilers of the Windows and macOS builds
# and zip, every other target with all of them (tools/setup.sh lists them).
BUILD := build
DIST := dist
# The sanitizer build, with clang: its tests and fuzz targets run from the
# main build's ctest (cmake/ReliabilityChecks.cmake).
SANITIZE_BUILD := $(BUILD)/sanitize
# The demo's build: the Octave plug-ins only, configured without the tests,
# the Windows, macOS and aarch64 builds and the Python wheels, so that it
# needs nothing but the demo's packages.
DEMO_BUILD := $(BUILD)/demo
# The release's build: every plug-in, without the tests and their tools.
RELEASE_BUILD := $(BUILD)/release
JOBS ?= $(shell nproc)

.PHONY: all setup setup-demo setup-release configure build sanitize test bench bench-wine \
  demo-configure demo dist wheel release clean

all: build

setup:
	@tools/setup.sh test

setup-demo:
	@tools/setup.sh demo

setup-release:
	@tools/setup.sh release

# configure_build(BUILD_DIR,FLAGS): a Release build in BUILD_DIR with FLAGS;
# the configure log is shown only if it fails.
define configure_build
	@mkdir -p $(1) && cmake -S . -B $(1) -DCMAKE_BUILD_TYPE=Release $(2) \
	  > $(1)/configure.log || { cat $(1)/configure.log; exit 1; }
endef

# Everything, tests and the Windows, macOS and aarch64 builds included: a
# missing tool is an error.
configure: setup
	$(call configure_build,$(BUILD),-DBUILD_TESTING=ON -DMEX_WIN32=ON -DMEX_WIN64=ON \
	  -DMEX_MACOS=ON -DMEX_ARM64=ON -DMEX_DIST_DIR=$(abspath $(DIST)))

# Installs the build, then writes the two downloads beside it: the Octave
# package and the zip for MATLAB (whose files the tests compare with dist/).
build: configure
	cmake --build $(BUILD) -j $(JOBS)
	$(call install_downloads,$(BUILD))

sanitize: setup
	$(call configure_build,$(SANITIZE_BUILD),-DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DMEX_SANITIZE=ON)
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)

# After the tests, whether they passed or not, the tests that did not run,
# by reason (tools/skipped_tests.sh), from ctest's JUnit files of this run.
JUNIT := Testing/junit.xml
test: build sanitize
	@rm -f $(BUILD)/$(JUNIT) $(SANITIZE_BUILD)/$(JUNIT)
	@status=0; (cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --output-junit $(JUNIT)) || status=$$?; \
	  tools/skipped_tests.sh $(BUILD)/$(JUNIT) $(SANITIZE_BUILD)/$(JUNIT); exit $$status

# Times the plain loops, the fast paths and the memory floor (a table, also
# written to $(BUILD)/bench.csv), then whole calls of both plug-ins through
# the stand-in host and of the filter in GNU Octave, each beside its core.
# Takes a few minutes.
bench: configure
	cmake --build $(BUILD) --target fast_paths_bench call_bench octave_bench -j $(JOBS)
	BENCH_CSV=$(BUILD)/bench.csv $(BUILD)/bench/fast_paths_bench $(BENCH_ARGS)
	$(BUILD)/bench/call_bench
	octave-cli --norc --no-history --quiet --path bench \
	  --eval "octave_calls ('$(BUILD)/octave', '$(BUILD)/octave/bench')"

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
demo-configure: setup-demo
	$(call configure_build,$(DEMO_BUILD),-DBUILD_TESTING=OFF -DMEX_WIN32=OFF -DMEX_WIN64=OFF \
	  -DMEX_MACOS=OFF -DMEX_ARM64=OFF -DMEX_PYTHON=OFF)

demo: demo-configure
	cmake --build $(DEMO_BUILD) --target octave_plugins -j $(JOBS)
	@octave-cli --norc --no-history --quiet --no-window-system \
	  --path octave/demo --path $(DEMO_BUILD)/octave --eval "tarv_demo ('$(abspath $(DEMO_PNG))');"

# The Octave package tarball, for `pkg install`: the demo's set-up and build
# are all it needs.
dist: demo-configure
	cmake --build $(DEMO_BUILD) --target octave_package -j $(JOBS)
	cmake --install $(DEMO_BUILD) --prefix $(DIST) --component octave_package

# The Python package's wheels, one per platform (python/CMakeLists.txt),
# into $(DIST)/python; `make` and `make release` write them too.
wheel: configure
	cmake --build $(BUILD) --target wheels -j $(JOBS)
	cmake --install $(BUILD) --prefix $(DIST) --component python_wheels

# install_downloads(BUILD_DIR): installs BUILD_DIR into $(DIST), then the
# Octave package and the zip for MATLAB, which takes its files from what
# the first step installed.
define install_downloads
	cmake --install $(1) --prefix $(DIST) > /dev/null
	cmake --install $(1) --prefix $(DIST) --component octave_package > /dev/null
	cmake --install $(1) --prefix $(DIST) --component matlab_release
endef

# Both downloads and the Python package's wheels, for users of any
# platform, from a build of every plug-in without the tests (the 64-bit
# Arm Linux build for its wheel; neither download carries its plug-ins):
# the release set-up.
release: setup-release
	$(call configure_build,$(RELEASE_BUILD),-DBUILD_TESTING=OFF -DMEX_WIN32=ON -DMEX_WIN64=ON \
	  -DMEX_ARM64=ON)
	cmake --build $(RELEASE_BUILD) -j $(JOBS)
	$(call install_downloads,$(RELEASE_BUILD))

clean:
	rm -rf $(BUILD) $(DIST)
