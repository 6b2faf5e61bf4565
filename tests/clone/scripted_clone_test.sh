#!/usr/bin/env bash
# The main job on a small PC made with simpc: Drummetworks runs headless
# with apps/drummetworks/clone.script (Duplicate, the wizard's source,
# destination and options pages with verify on, the clone page's Start, the
# summary) and clones disk 0 (an active NTFS
# system partition and a FAT32 one, made by mkntfs and mkfs.fat, files put in
# by ntfscp and mtools) onto disk 1; scripts/check-clone then proves the copy
# with sfdisk, ntfsfix, ntfsls, ntfscat and fsck.fat, and mtype compares a
# file of the FAT32 copy.
#   scripted_clone_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pc=$work/pc
"$build/bin/simpc" new "$pc" >/dev/null
"$build/bin/simpc" add-disk "$pc" 0 --size 1G --bus sata --vendor ATA --model "Small System" >/dev/null
"$build/bin/simpc" add-disk "$pc" 1 --size 2G --bus sata --vendor ATA --model "Bigger Disk" >/dev/null
img0=$pc/disk0.img
[ -f "$img0" ] || img0=$(awk '$1 == "image" {print $3; exit}' "$pc/machine.ini")
printf 'label: dos\nlabel-id: 0x5eed4242\nstart=2048, size=1024000, type=7, bootable\nstart=1026048, size=614400, type=c\n' |
  sfdisk -q "$img0"
truncate -s $((1024000 * 512)) "$work/ntfs.img"
mkntfs -F -f -q -L System -s 512 -p 2048 -H 255 -S 63 "$work/ntfs.img"
head -c 700000 /dev/urandom >"$work/bootmgr"
printf 'the system partition\n' >"$work/notes.txt"
ntfscp -q "$work/ntfs.img" "$work/bootmgr" bootmgr
ntfscp -q "$work/ntfs.img" "$work/notes.txt" notes.txt
dd if="$work/ntfs.img" of="$img0" bs=1M seek=1 conv=notrunc,sparse status=none
truncate -s $((614400 * 512)) "$work/fat.img"
mkfs.fat -F 32 -n DATA -h 1026048 "$work/fat.img" >/dev/null
head -c 2000000 /dev/urandom >"$work/report.bin"
mmd -i "$work/fat.img" ::/DOCS
mcopy -i "$work/fat.img" "$work/report.bin" ::/DOCS/REPORT.BIN
dd if="$work/fat.img" of="$img0" bs=512 seek=1026048 conv=notrunc,sparse status=none

mkdir -p "$work/shots"
"$build/bin/drummetworks" --machine "$pc" --ui headless --script "$source/apps/drummetworks/clone.script" \
  --screenshots "$work/shots"
"$source/scripts/check-clone" "$pc" 0 1
img1=$(awk '$0 == "[disk 1]" {on = 1; next} /^\[/ {on = 0} on && $1 == "image" {print $3}' "$pc/machine.ini")
case $img1 in /*) ;; *) img1=$pc/$img1 ;; esac
# The copy's FAT32 partition, wherever the plan put it.
start=$(sfdisk -d "$img1" | sed -n 's/.*2 : start= *\([0-9]*\),.*/\1/p')
dd if="$img1" of="$work/fat-copy.img" bs=512 skip="$start" count=614400 status=none
mtype -i "$work/fat-copy.img" ::/DOCS/REPORT.BIN | cmp - "$work/report.bin"
echo "scripted clone: the copy is whole"
