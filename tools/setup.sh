#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Run by every make target first. As root it runs apt-get update once and
# installs only what is missing; otherwise it prints the exact commands.
set -euo pipefail

packages=(
  cmake make g++ binutils pkg-config
  libgtest-dev libbenchmark-dev
  # The sanitizer build and the fuzz targets (clang with its runtimes:
  # AddressSanitizer, UndefinedBehaviorSanitizer, libFuzzer), and valgrind.
  clang libclang-rt-14-dev valgrind
  # GNU Octave as a host: octave-cli, mkoctfile and Octave's headers; the
  # font its figures (the waitbar too) need to be created at all; gnuplot,
  # its toolkit without a display, for the demo's picture.
  octave liboctave-dev fonts-freefont-otf gnuplot-nox
  # The 32-bit Windows filter: the MinGW cross compiler and its tools, and
  # wine (its 32-bit half is an i386 package) to run its tests.
  g++-mingw-w64-i686 mingw-w64-tools wine wine32:i386
  # Both plug-ins for 64-bit Windows: the MinGW cross compiler for x86-64,
  # and wine's 64-bit loader to run their tests.
  g++-mingw-w64-x86-64 wine64
)

# wine32 comes from the i386 architecture, which dpkg must know first.
add_i386=()
dpkg --print-foreign-architectures | grep -qx i386 || add_i386=(dpkg --add-architecture i386)

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
apt-get update -q
$command
