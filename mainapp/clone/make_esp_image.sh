#!/bin/sh
# make_esp_image.sh MKBCD OUTPUT: builds the EFI system partition image that an
# MBR-to-GPT clone writes at the start of its destination: a FAT32 volume of
# 36 MiB (512-byte sectors, hidden sectors 34 for its place at sector 34)
# holding the boot manager files and the boot store \EFI\Microsoft\Boot\BCD.
# The .efi files are placeholders: the simulated PC starts no firmware code.
set -eu
mkbcd=$1
output=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -f "$output.tmp"
truncate -s 36M "$output.tmp"
mkfs.fat -F 32 -S 512 -s 1 -h 34 -n SYSTEM -i 0ED15EF1 "$output.tmp" >/dev/null
"$mkbcd" "$work/BCD" "{5c2a1b7e-8d3f-4e61-9a0b-7c4d2e1f3a58}" "Windows"
printf 'Drummetworks EFI boot manager placeholder\n' > "$work/bootmgfw.efi"
export MTOOLS_SKIP_CHECK=1
mmd -i "$output.tmp" ::/EFI ::/EFI/Boot ::/EFI/Microsoft ::/EFI/Microsoft/Boot
mcopy -i "$output.tmp" "$work/bootmgfw.efi" ::/EFI/Boot/bootx64.efi
mcopy -i "$output.tmp" "$work/bootmgfw.efi" ::/EFI/Microsoft/Boot/bootmgfw.efi
mcopy -i "$output.tmp" "$work/BCD" ::/EFI/Microsoft/Boot/BCD
fsck.fat -n "$output.tmp" >/dev/null
mv "$output.tmp" "$output"
