#!/usr/bin/env bash
# Runs 32-bit x86 programs on a machine whose kernel refuses them (a kernel
# built without 32-bit support, or booted with it off, fails their exec with
# ENOEXEC). The 32-bit Windows filter's tests need them: the 32-bit wine
# loader is one, and so is every program it starts. There they run under
# qemu-i386, registered with binfmt_misc with the F flag, so that the
# kernel hands every 32-bit x86 program to it (a binfmt_misc handler comes
# before the kernel's own loader).
#
#   tools/i386_programs.sh probe       exit 0 if a 32-bit x86 program runs
#                                      here; otherwise say why, exit 1
#   tools/i386_programs.sh enable      where the probe fails: install
#                                      qemu-user from bookworm-backports and
#                                      register its qemu-i386 (as root; run
#                                      by tools/setup.sh test); where it
#                                      passes, nothing
#   tools/i386_programs.sh register    the same even where the kernel runs
#                                      32-bit programs itself, to try the
#                                      emulated way there
#   tools/i386_programs.sh unregister  remove that registration
#
# Debian 12's own qemu-user (7.2) runs small 32-bit programs but not the
# 32-bit wine loader; the one from bookworm-backports (10.0) runs both. The
# extra apt source serves that package only: a pin keeps everything else of
# bookworm-backports out.
#
# `enable` never fails: where qemu-i386 cannot be set up (not root, no
# binfmt_misc) it says why, and the 32-bit run-time tests are reported as
# skipped.
set -uo pipefail

readonly handler=qemu-i386
readonly binfmt=/proc/sys/fs/binfmt_misc
readonly qemu=/usr/bin/qemu-i386
readonly oldest_qemu_major=10
readonly backports_list=/etc/apt/sources.list.d/bookworm-backports.list
readonly backports_pin=/etc/apt/preferences.d/bookworm-backports-qemu-user

say() { echo "i386_programs: $*" >&2; }

# Starts a 93-byte 32-bit x86 ELF program that only exits with status 0.
probe() {
    local program status
    # ELF header: 32-bit, little-endian, executable for the i386, entry
    # 0x08048054, one program header at 52.
    local elf='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00'
    elf+='\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00'
    elf+='\x00\x00\x00\x00\x00\x00'
    # One loadable segment, the whole file at 0x08048000, readable and
    # executable.
    elf+='\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
    elf+='\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
    # mov eax, 1 (exit); xor ebx, ebx (status 0); int 0x80
    elf+='\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80'
    program=$(mktemp "${TMPDIR:-/tmp}/i386_probe.XXXXXX") || return 1
    printf '%b' "$elf" >"$program"
    chmod 700 "$program"
    "$program" 2>/dev/null
    status=$?
    rm -f "$program"
    if [ "$status" -ne 0 ]; then
        say "32-bit x86 programs do not run here: the kernel refuses them (exit status" \
            "$status) and no qemu-i386 runs them; as root, tools/setup.sh test sets that up"
        return 1
    fi
}

qemu_major() {
    [ -x "$qemu" ] || { echo 0; return; }
    "$qemu" --version | sed -n '1s/.*version \([0-9]*\).*/\1/p'
}

# qemu-user from bookworm-backports, and nothing else from that suite
# unless the machine already takes packages from it.
install_qemu() {
    [ "$(qemu_major)" -ge "$oldest_qemu_major" ] && return 0
    local keep_out=()
    if [ -e "$backports_list" ] || ! grep -Eqs '^[^#]*bookworm-backports' /etc/apt/sources.list \
        /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; then
        echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]" \
            "http://deb.debian.org/debian bookworm-backports main" >"$backports_list"
        keep_out=('Package: *' 'Pin: release n=bookworm-backports' 'Pin-Priority: -10' '')
    fi
    printf '%s\n' '# Only qemu-user from bookworm-backports (tools/i386_programs.sh)' \
        "${keep_out[@]}" 'Package: qemu-user' 'Pin: release n=bookworm-backports' \
        'Pin-Priority: 990' >"$backports_pin"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q && apt-get install -y --no-install-recommends qemu-user || return 1
    [ "$(qemu_major)" -ge "$oldest_qemu_major" ] || {
        say "$qemu is qemu $(qemu_major); the 32-bit wine loader needs $oldest_qemu_major or later"
        return 1
    }
}

register() {
    install_qemu || return 1
    if [ ! -e "$binfmt/register" ]; then
        modprobe binfmt_misc 2>/dev/null
        mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || {
            say "cannot mount binfmt_misc on $binfmt"
            return 1
        }
    fi
    [ -e "$binfmt/$handler" ] && echo -1 >"$binfmt/$handler"
    # i386 ELF executables and shared objects (the magic and mask of
    # qemu's scripts/qemu-binfmt-conf.sh); binfmt_misc decodes the \x.
    local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    echo ":$handler:M::$magic:$mask:$qemu:F" >"$binfmt/register" || {
        say "cannot register $qemu with binfmt_misc"
        return 1
    }
}

unregister() {
    [ -e "$binfmt/$handler" ] && echo -1 >"$binfmt/$handler"
    return 0
}

enable() {
    probe 2>/dev/null && return 0
    if [ "$(id -u)" -ne 0 ]; then
        say "this kernel refuses 32-bit x86 programs; the 32-bit Windows tests will be" \
            "skipped unless tools/setup.sh test runs as root (after every boot: the" \
            "registration that runs them under qemu-i386 does not outlive it)"
        return 0
    fi
    say "this kernel refuses 32-bit x86 programs: setting up qemu-i386 for them"
    if register && probe; then
        say "32-bit x86 programs now run under $qemu"
    else
        unregister
        say "the 32-bit Windows tests will be skipped"
    fi
    return 0
}

case "${1:-}" in
    probe) probe ;;
    enable) enable ;;
    register) register ;;
    unregister) unregister ;;
    *)
        echo "usage: tools/i386_programs.sh probe|enable|register|unregister" >&2
        exit 2
        ;;
esac
