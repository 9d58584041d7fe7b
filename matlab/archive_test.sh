#!/bin/sh
# archive_test.sh DIST ZIP_NAME LISTING [WINE64_LOADER WIN64_BUILD_DIR WINE64_PREFIX]
#
# Unpacks DIST/ZIP_NAME (the MATLAB download) with unzip into an empty
# folder and checks that it holds one folder with exactly the files LISTING
# names (a line "PATH<TAB>SOURCE" each), each the same bytes as its source
# in DIST, and that its README.txt has CR LF line ends, a plain title, the
# Mac quarantine step, the folder to put on the path and, for each
# platform's files, the oldest MATLAB and the interface they bind. Then it
# calls the Linux plug-ins from there through the
# stand-in host (DIST/host/mexrun) on every case of DIST/host-tests/cases,
# each result the same bits as expected.mxa; and, given the wine
# arguments, the 64-bit Windows plug-ins from there through the build's
# win_runner.exe under wine's 64-bit loader, each result the same bits as
# the build's own plug-in gives.
set -eu
dist=$1
zip=$1/$2
listing=$3
fail() {
  echo "archive_test: $*" >&2
  exit 1
}
[ -f "$zip" ] || fail "no $zip: run make or make release first"
[ -f "$listing" ] || fail "no $listing"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/unpacked"
unzip -q "$zip" -d "$work/unpacked"

# One folder, named as the zip without -matlab.zip.
top_name=${2%-matlab.zip}
[ "$(ls -A "$work/unpacked")" = "$top_name" ] || fail "the archive's top level is not one folder $top_name"
top=$work/unpacked/$top_name

tab=$(printf '\t')
count=0
while IFS=$tab read -r path source; do
  [ -f "$top/$path" ] || fail "$path is missing from the archive"
  cmp -s "$top/$path" "$source" || fail "$path in the archive differs from $source"
  count=$((count + 1))
done <"$listing"
found=$(find "$top" -type f | wc -l)
[ "$found" -eq "$count" ] || fail "the archive holds $found files, $listing names $count"
for path in Contents.m README.txt COPYING TARV_c.m bandscore.m TARV_c.mexa64 bandscore.mexa64 \
    win32/TARV_c.dll win32/TARV_c.m win32/COPYING; do
  [ -f "$top/$path" ] || fail "$path is missing from the archive"
done
echo "archive_test: $count files, each the same as in $dist"

readme=$top/README.txt
cr=$(printf '\r')
if grep -q -v "$cr\$" "$readme" || [ "$(tail -c 2 "$readme" | od -An -tx1)" != " 0d 0a" ]; then
  fail "README.txt has a line that does not end in CR LF"
fi
head -n 1 "$readme" | grep -qx "TARV_c and bandscore [0-9.]* for MATLAB$cr" ||
  fail "README.txt's title is not 'TARV_c and bandscore VERSION for MATLAB'"
for fact in 'xattr -dr com.apple.quarantine /path/to/' 'damaged' 'the one that holds TARV_c.m and' \
    'double(out)'; do
  grep -qF "$fact" "$readme" || fail "README.txt does not say '$fact'"
done
# readme_entry FILE FACT...: the entry of FILE (its line and the indented
# lines after it) names each FACT.
readme_entry() {
  file=$1
  shift
  entry=$(awk -v start="  $file" 'index($0, start) == 1 { on = 1; print; next }
    on && /^      / { print; next } { on = 0 }' "$readme")
  [ -n "$entry" ] || fail "README.txt has no entry for $file"
  for fact in "$@"; do
    case $entry in
    *"$fact"*) ;;
    *) fail "README.txt: the entry of $file does not say $fact" ;;
    esac
  done
}
readme_entry TARV_c.mexa64 R2008b glibc _700
readme_entry TARV_c.mexw64 R2008b Windows _700
readme_entry TARV_c.mexmaca64 R2023b 'macOS 12' _730
readme_entry TARV_c.mexmaci64 R2008b 'macOS 11' _730
readme_entry win32/TARV_c.dll R2015b _700
echo "archive_test: README.txt has CR LF line ends and says what each file needs"

cases=$dist/host-tests/cases
called=0
for case in "$cases"/*-*; do
  name=${case##*/}
  plugin=${name%%-*}
  "$dist/host/mexrun" --quiet "$top/$plugin.mexa64" "$work/out.mxa" "$case"/arg*.mxa ||
    fail "$plugin.mexa64 from the archive failed on $name"
  cmp -s "$work/out.mxa" "$case/expected.mxa" || fail "$plugin.mexa64 from the archive: $name differs"
  called=$((called + 1))
done
[ "$called" -gt 0 ] || fail "no case in $cases"
echo "archive_test: the Linux plug-ins from the archive gave the expected results on $called cases"

[ $# -ge 6 ] || exit 0
loader=$4
win64=$5
export WINEPREFIX="$6" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
# run_windows PLUGIN CASE OUTPUT: writes the result of PLUGIN on the
# arguments of CASE to OUTPUT.
run_windows() {
  run_file=$1
  run_case=$2
  run_output=$3
  set --
  for arg in "$run_case"/arg*.mxa; do
    set -- "$@" "Z:$arg"
  done
  "$loader" "$win64/win_runner.exe" "Z:$run_file" "Z:$run_output" "Z:$work/report.txt" "$@" \
    </dev/null >"$work/wine.log" 2>&1 || { cat "$work/wine.log" >&2; fail "win_runner.exe failed on $run_file"; }
  grep -qx 'status ok' "$work/report.txt" || { cat "$work/report.txt" >&2; fail "$run_file failed on $run_case"; }
}
for name in TARV_c-speckle TARV_c-progress-bar bandscore-per-column; do
  plugin=${name%%-*}
  run_windows "$top/$plugin.mexw64" "$cases/$name" "$work/archive.mxa"
  run_windows "$win64/$plugin.mexw64" "$cases/$name" "$work/build.mxa"
  cmp -s "$work/archive.mxa" "$work/build.mxa" || fail "$plugin.mexw64 from the archive: $name differs"
done
echo "archive_test: the 64-bit Windows plug-ins from the archive ran under wine as the build's do"
