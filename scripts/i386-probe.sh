#!/usr/bin/env bash
# Exits 0 when this machine executes 32-bit x86 (i386) programs; otherwise
# prints why not and exits 1. Some kernels are built without 32-bit
# execution: every i386 ELF (Wine's 32-bit loader, the i686 test hosts
# through it, the NSIS installer under Wine) then fails with "Exec format
# error". The probe is the smallest static i386 program: exit(0) by int 0x80.
set -u
# In the build tree, not TMPDIR, which may be mounted noexec.
build="$(cd "$(dirname "$0")/.." && pwd)/build"
mkdir -p "$build"
probe="$(mktemp "$build/i386-probe.XXXXXX")"
trap 'rm -f "$probe"' EXIT
# ELF header (52 bytes), one loadable segment (32 bytes) at 0x08048000,
# code at its offset 0x54: mov eax, 1; xor ebx, ebx; int 0x80.
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'\
'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'\
'\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'\
'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'\
'\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'\
'\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
chmod +x "$probe"
if out="$("$probe" 2>&1)"; then
  exit 0
fi
case "$out" in
  *"Exec format error"*) echo "this machine's kernel cannot execute 32-bit (i386) programs (Exec format error)" ;;
  *) echo "this machine cannot execute 32-bit (i386) programs: ${out:-the probe failed}" ;;
esac
exit 1
