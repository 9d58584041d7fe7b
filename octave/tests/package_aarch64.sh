#!/bin/bash
# package_aarch64.sh PACKAGE_SOURCES CXX OBJDUMP
#
# The Octave package's plug-ins built for 64-bit Arm Linux the way
# `pkg install` builds them there: its own src/Makefile, run with Octave's
# mkoctfile and the aarch64 cross compiler as CXX. Octave's flags are this
# machine's except its x86-64 library directory (a mex file links no Octave
# library). Each plug-in must come out as an aarch64 shared object that
# exports mexFunction and carries the NEON fast paths, with no fused
# multiply-add.
set -euo pipefail
sources=$1 cxx=$2 objdump=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$sources/." "$work"
CXX=$cxx LDFLAGS="-shared -Wl,-Bsymbolic" make -C "$work" > "$work/build.log" 2>&1 || {
  cat "$work/build.log"
  echo "package_aarch64: the package does not build for aarch64" >&2
  exit 1
}

status=0
for plugin in TARV_c bandscore; do
  mex=$work/$plugin.mex
  fail() { echo "package_aarch64: $plugin.mex: $*" >&2; status=1; }
  "$objdump" -f "$mex" | grep -q 'architecture: aarch64' || fail "not an aarch64 file"
  "$objdump" -T "$mex" | grep -qw mexFunction || fail "exports no mexFunction"
  code=$("$objdump" -d --no-show-raw-insn "$mex")
  grep -qE '\bv[0-9]+\.4s\b' <<< "$code" || fail "holds no NEON single-precision code"
  fused=$(grep -cE $'\t(fn?m(add|sub)|fml[as])\t' <<< "$code" || true)
  [ "$fused" -eq 0 ] || fail "holds $fused fused multiply-adds"
done
exit $status
