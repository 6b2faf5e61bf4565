#!/bin/sh
# make_esp_image.sh MKBCD OUTPUT [SECTOR_SIZE]: builds the EFI system partition
# image that an MBR-to-GPT clone writes at the start of its destination: a
# 36 MiB FAT volume holding the boot manager files and the boot store
# \EFI\Microsoft\Boot\BCD, laid out for the destination's sector size.
#   512 (the default): FAT32, hidden sectors 34 (the ESP starts at sector 34).
#   4096: FAT16 with 4096-byte logical sectors, hidden sectors 6 (the ESP
#   starts at byte 24,576). FAT32 needs at least 65,525 clusters, which with
#   4 KiB sectors takes some 256 MiB, more than the 128 MiB the planner gives
#   the ESP; FAT16 is sound there.
# The .efi files are placeholders: the simulated PC starts no firmware code.
set -eu
mkbcd=$1
output=$2
sector=${3:-512}
case $sector in
  512) format="-F 32 -S 512 -h 34" ;;
  4096) format="-F 16 -S 4096 -h 6" ;;
  *) echo "make_esp_image.sh: sector size $sector is not 512 or 4096" >&2; exit 2 ;;
esac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -f "$output.tmp"
truncate -s 36M "$output.tmp"
# shellcheck disable=SC2086
mkfs.fat $format -s 1 -n SYSTEM -i 0ED15EF1 "$output.tmp" >/dev/null
"$mkbcd" "$work/BCD" "{5c2a1b7e-8d3f-4e61-9a0b-7c4d2e1f3a58}" "Windows"
printf 'Drummetworks EFI boot manager placeholder\n' > "$work/bootmgfw.efi"
export MTOOLS_SKIP_CHECK=1
mmd -i "$output.tmp" ::/EFI ::/EFI/Boot ::/EFI/Microsoft ::/EFI/Microsoft/Boot
mcopy -i "$output.tmp" "$work/bootmgfw.efi" ::/EFI/Boot/bootx64.efi
mcopy -i "$output.tmp" "$work/bootmgfw.efi" ::/EFI/Microsoft/Boot/bootmgfw.efi
mcopy -i "$output.tmp" "$work/BCD" ::/EFI/Microsoft/Boot/BCD
fsck.fat -n "$output.tmp" >/dev/null
mv "$output.tmp" "$output"
