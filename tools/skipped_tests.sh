#!/bin/sh
# skipped_tests.sh JUNIT...
#
# Prints the tests that did not run, grouped by the reason each gave, one
# line per reason with how many and the first of them, from the JUnit files
# that ctest --output-junit wrote (those missing are passed over). The
# reason is what the test printed: the message of a GoogleTest skip, the
# "skipped: ..." line of a program that exits with its skip code; for
# tests ctest did not start, what ctest says (a failed fixture, disabled).
# `make test` runs it after ctest, the main build's file first and the
# sanitizer build's after it.
for file in "$@"; do
  [ -f "$file" ] && printf '%s\n' "$file"
done | while read -r file; do
  awk -v build="$(dirname "$(dirname "$file")")" '
    function unescape(text) {
      gsub(/&lt;/, "<", text); gsub(/&gt;/, ">", text); gsub(/&quot;/, "\"", text)
      gsub(/&apos;/, "\047", text); gsub(/&amp;/, "\\&", text)
      return text
    }
    function attribute(line, key,    start) {
      start = index(line, key "=\"")
      if (start == 0) return ""
      line = substr(line, start + length(key) + 2)
      return unescape(substr(line, 1, index(line, "\"") - 1))
    }
    /^\t<testcase / {
      name = attribute($0, "name"); status = attribute($0, "status")
      message = ""; output = ""; skip_text = ""; in_skip = 0; last = ""
    }
    /^\t\t<skipped / { message = attribute($0, "message") }
    /<system-out>/ { collecting = 1; sub(/.*<system-out>/, "") }
    collecting {
      done = sub(/<\/system-out>.*/, "")
      line = unescape($0)
      # A GoogleTest skip: "file:line: Skipped", the message, "[  SKIPPED ]".
      if (line ~ /: Skipped$/) { in_skip = 1 }
      else if (line ~ /^\[  SKIPPED \]/) { in_skip = 0 }
      else if (in_skip) { skip_text = skip_text (skip_text == "" ? "" : " ") line }
      else if (line ~ /^skipped: /) { skip_text = substr(line, 10) }
      if (line != "") last = line
      if (done) collecting = 0
    }
    /^\t<\/testcase>/ && (status == "notrun" || status == "disabled") {
      if (skip_text != "") reason = skip_text
      else if (status == "disabled") reason = "disabled"
      else reason = message (last != "" ? ": " last : "")
      if (!(reason in count)) order[++reasons] = reason
      count[reason]++
      if (!(reason in first)) first[reason] = name
    }
    END {
      for (k = 1; k <= reasons; k++) {
        reason = order[k]
        more = count[reason] - 1
        printf "%5d  %s  [%s%s%s]\n", count[reason], reason,
          (build ~ /sanitize$/ ? "sanitizer build: " : ""), first[reason],
          (more > 0 ? " and " more " more" : "")
      }
    }' "$file"
done | {
  if IFS= read -r line; then
    echo "Tests that did not run, by reason:"
    printf '%s\n' "$line"
    cat
  else
    echo "Every test ran; none was skipped."
  fi
}
