#!/usr/bin/env bash
# Installs the Debian packages of one of three sets, named by the argument:
#
#   tools/setup.sh demo     what `make demo` and `make dist` need: the
#                           compiler, CMake, GNU Octave with its headers,
#                           the font and the gnuplot its figures need
#   tools/setup.sh release  what `make release` needs: the demo set, the
#                           MinGW-w64 cross compilers of the Windows builds,
#                           clang with LLVM's Mach-O linker for the macOS
#                           builds, the aarch64 cross compiler, zip, and
#                           Python, which writes the wheels
#   tools/setup.sh test     everything: the release set and what the tests,
#                           the sanitizer build and the benchmarks need
#                           (`make`, `make test`, `make bench`, `make wheel`)
#
# Run by every make target first. As root it runs apt-get update and
# installs only what is missing; otherwise it prints the exact commands.
# For the test set it also makes 32-bit x86 programs run where the kernel
# refuses them (tools/i386_programs.sh): the 32-bit Windows filter's tests
# run wine's 32-bit loader.
set -euo pipefail

demo_packages=(
  cmake make g++ pkg-config
  # GNU Octave as a host: octave-cli, mkoctfile and Octave's headers; the
  # font its figures (the waitbar too) need to be created at all; gnuplot,
  # its toolkit without a display, for the demo's picture.
  octave liboctave-dev fonts-freefont-otf gnuplot-nox
)

release_packages=(
  "${demo_packages[@]}"
  # The Windows builds: the MinGW-w64 cross compilers (32-bit, with its
  # tools, and 64-bit); Info-ZIP's zip writes the download for MATLAB.
  g++-mingw-w64-i686 mingw-w64-tools g++-mingw-w64-x86-64 zip
  # The macOS builds: clang with LLVM's Mach-O linker ld64.lld, llvm-ar,
  # and LLVM's object tools (llvm-objdump, llvm-nm) for their tests.
  clang lld llvm
  # The 64-bit Arm Linux build: its cross compiler, C library and binary
  # tools.
  g++-aarch64-linux-gnu libc6-dev-arm64-cross binutils-aarch64-linux-gnu
  # Debian's Python writes the Python package's wheels
  # (python/write_wheel.py).
  python3
)

test_packages=(
  "${release_packages[@]}"
  binutils libgtest-dev libbenchmark-dev
  # The sanitizer build and the fuzz targets (clang, above, with its
  # runtimes: AddressSanitizer, UndefinedBehaviorSanitizer, libFuzzer), and
  # valgrind.
  libclang-rt-14-dev valgrind
  # wine to run the Windows builds' tests: its 32-bit half (an i386
  # package) and its 64-bit half; unzip to unpack the download for MATLAB.
  wine wine32:i386 wine64 unzip
  # qemu-aarch64 to run the 64-bit Arm Linux build's tests.
  qemu-user
  # The Python package's tests: a virtual environment of Debian's Python
  # (python3-venv, which brings pip's wheel) that sees Debian's NumPy, tqdm
  # for the progress bar, and dask's distributed (with dask) for the
  # cohort recipe.
  python3-venv python3-numpy python3-tqdm python3-distributed
)

case "${1:-}" in
  demo) packages=("${demo_packages[@]}") ;;
  release) packages=("${release_packages[@]}") ;;
  test) packages=("${test_packages[@]}") ;;
  *)
    echo "usage: tools/setup.sh demo|release|test" >&2
    exit 2
    ;;
esac

# wine32 comes from the i386 architecture, which dpkg must know first; only
# the test set has a package of it.
add_i386=()
if [ "$1" = test ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  add_i386=(dpkg --add-architecture i386)
fi

# First, so that where the kernel refuses 32-bit programs the qemu-user it
# installs from bookworm-backports is the one the lists below find.
if [ "$1" = test ]; then
  "$(dirname "$0")/i386_programs.sh" enable
fi

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && [ ${#add_i386[@]} -eq 0 ] && exit 0

command="apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing Debian packages: ${missing[*]}" >&2
  echo "setup: as root, run:" >&2
  echo "  ${add_i386[*]:+${add_i386[*]} && }apt-get update && $command" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
[ ${#add_i386[@]} -eq 0 ] || "${add_i386[@]}"
# A mirror caught in the middle of a sync fails an index now and then:
# tried three times, then the lists that did come are used.
for attempt in 1 2 3; do
  apt-get update -q && break
  [ "$attempt" -lt 3 ] && sleep 20
done
# wine's 32-bit half needs the i386 lists, which are the first to be
# missing from a mirror that is behind: without it the rest is installed,
# and the 32-bit Windows run-time tests report themselves skipped.
if ! $command; then
  i386=()
  rest=()
  for package in "${missing[@]}"; do
    case $package in *:i386) i386+=("$package") ;; *) rest+=("$package") ;; esac
  done
  [ ${#i386[@]} -gt 0 ] || exit 1
  [ ${#rest[@]} -eq 0 ] || apt-get install -y --no-install-recommends "${rest[@]}"
  echo "setup: ${i386[*]} could not be installed (see above); the 32-bit Windows" \
    "run-time tests will be reported skipped" >&2
fi
