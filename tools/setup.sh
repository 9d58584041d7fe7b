#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Run by every make target first. As root it runs apt-get update once and
# installs only what is missing; otherwise it prints the exact command.
set -euo pipefail

packages=(
  cmake make g++ binutils pkg-config
  libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev valgrind
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

command="apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing Debian packages: ${missing[*]}" >&2
  echo "setup: as root, run:" >&2
  echo "  apt-get update && $command" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
$command
