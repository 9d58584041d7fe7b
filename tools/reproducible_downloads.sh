#!/bin/sh
# reproducible_downloads.sh BUILD DIST [zip]
#
# Finishes BUILD, a build of the release in another folder, installs its
# downloads into BUILD/dist as `make release` does (the zip for MATLAB too,
# given `zip`), and checks that they are the same bytes as those in DIST:
# the Octave package, the zip, every file of the platform folders the zip
# is made from and of the aarch64 one, and the Python package's wheels. For an archive that differs it shows how its listing
# differs and which members do.
set -eu
build=$1
dist=$2
other=$build/dist
rm -rf "$other"
cmake --build "$build"
cmake --install "$build" --prefix "$other" >/dev/null
cmake --install "$build" --prefix "$other" --component octave_package >/dev/null
if [ "${3:-}" = zip ]; then
  cmake --install "$build" --prefix "$other" --component matlab_release >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# unpack ARCHIVE FOLDER: the archive's members, and its listing as
# FOLDER.list.
unpack() {
  mkdir -p "$2"
  case $1 in
  *.zip | *.whl)
    unzip -q "$1" -d "$2"
    zipinfo "$1" | tail -n +2 >"$2.list"
    ;;
  *.tar.gz)
    tar -xzf "$1" -C "$2"
    tar -tvzf "$1" --full-time >"$2.list"
    ;;
  esac
}

files=$(cd "$other" && { ls -- *.tar.gz *.zip 2>/dev/null || true; } &&
  find linux linux-arm64 win32 win64 maca64 maci64 python -type f 2>/dev/null | sort)
[ -n "$files" ] || { echo "reproducible_downloads: nothing installed in $other" >&2; exit 1; }
count=0
status=0
for path in $files; do
  count=$((count + 1))
  if ! cmp -s "$dist/$path" "$other/$path"; then
    echo "reproducible_downloads: $path differs between $dist and $other" >&2
    status=1
    case $path in
    *.zip | *.tar.gz | *.whl)
      unpack "$dist/$path" "$work/$count/dist"
      unpack "$other/$path" "$work/$count/other"
      diff "$work/$count/dist.list" "$work/$count/other.list" >&2 || true
      diff -rq "$work/$count/dist" "$work/$count/other" >&2 || true
      ;;
    esac
  fi
done
[ $status -eq 0 ] || exit 1
echo "reproducible_downloads: $count files, each the same in both builds"
