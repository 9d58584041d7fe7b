#!/bin/sh
# Runs a ThreadSanitizer test program. Where the kernel places mappings
# where the sanitizer keeps its shadow memory (more address randomisation
# than it knows), runs it again without randomisation, and where that is
# refused too (a container's seccomp profile), reports the test skipped.
output=$("$@" 2>&1)
status=$?
case "$output" in
*"unexpected memory mapping"*)
    output=$(setarch "$(uname -m)" -R "$@" 2>&1)
    status=$?
    case "$output" in
    *"unexpected memory mapping"* | *setarch:*)
        echo "skipped: ThreadSanitizer cannot place its shadow memory in this kernel's address layout"
        exit 77
        ;;
    esac
    ;;
esac
printf '%s\n' "$output"
exit $status
