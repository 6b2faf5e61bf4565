#!/usr/bin/env bash
# scripts/check-clone against copies made and damaged by other tools: a copy
# taken with cp of the source image must be found whole, and each damage
# below must be found (exit 1), whatever else is right. The sources are the
# demo PCs' system disks (MBR and GPT, NTFS with a Windows tree) and a FAT32
# stick filled by mtools; the damage is done with dd, ntfscp and mtools.
# (main_job_test.sh runs it on disks listed as devices.)
#   check_clone_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$1 source=$2
check=$source/scripts/check-clone
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
export MTOOLS_SKIP_CHECK=1

# A machine folder in $work/$1 whose disk 0 is $2 and disk 1 is $3.
pair() {
  local pc=$work/$1
  rm -rf "$pc"
  "$build/bin/simpc" new "$pc" >/dev/null
  "$build/bin/simpc" add-disk "$pc" 0 --image "$2" >/dev/null || exit 1
  "$build/bin/simpc" add-disk "$pc" 1 --image "$3" >/dev/null || exit 1
  echo "$pc"
}

# expect CODE NAME DAMAGE...: copies the pristine copy, runs DAMAGE on it,
# and wants check-clone to exit with CODE (and, for 1, to name a FAIL).
expect() {
  local want=$1 name=$2
  shift 2
  cp --sparse=always "$pristine" "$copy"
  "$@"
  local pc out got
  pc=$(pair case "$src" "$copy")
  out=$("$check" "$pc" 0 1 2>&1)
  got=$?
  if [ "$got" -ne "$want" ] || { [ "$want" -eq 1 ] && ! grep -q '^FAIL' <<<"$out"; }; then
    echo "FAILED: $name: check-clone exited $got, wanted $want"
    echo "$out" | sed 's/^/    /'
    failures=$((failures + 1))
  else
    echo "ok: $name (exit $got)$(grep -m1 '^FAIL\|^NOT CHECKED' <<<"$out" | sed 's/^/: /')"
  fi
}
nothing() { :; }

# ---- MBR NTFS: the demo PC's system disk ----
"$build/bin/simpc" demo "$work/demo" >/dev/null
src=$work/source.img pristine=$work/pristine.img copy=$work/copy.img
cp --sparse=always "$work/demo/disk0.img" "$src"
part=$((2048 * 512))
# Moves the NTFS partition (1 MiB to the end) out of an image and back,
# reading only the data extents of the sparse 40 GiB.
sparse_copy() {  # FROM TO FROM_OFFSET TO_OFFSET
  python3 - "$@" <<'PY'
import os, sys
src, dst, skip, seek = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
i = os.open(src, os.O_RDONLY)
o = os.open(dst, os.O_WRONLY | os.O_CREAT, 0o644)
end = os.lseek(i, 0, os.SEEK_END)
if skip: os.ftruncate(o, end - skip)
pos = skip
while pos < end:
    try:
        pos = os.lseek(i, pos, os.SEEK_DATA)
    except OSError:
        break
    hole = os.lseek(i, pos, os.SEEK_HOLE)
    while pos < hole:
        block = os.pread(i, min(hole - pos, 1 << 22), pos)
        os.pwrite(o, block, pos - skip + seek)
        pos += len(block)
PY
}
ntfs_of() { rm -f "$work/part.img"; sparse_copy "$1" "$work/part.img" $((1 << 20)) 0; }
ntfs_back() { sparse_copy "$work/part.img" "$1" 0 $((1 << 20)); rm -f "$work/part.img"; }
# The source gains a user file whose name resembles a skipped one, and a
# system file that the copy leaves out; the copy is taken before.
ntfs_of "$src"
printf 'the user wrote this\n' >"$work/user.txt"
ntfscp -q "$work/part.img" "$work/user.txt" 'notes on pagefile.sys.txt'
ntfs_back "$src"
cp --sparse=always "$src" "$pristine"
ntfs_of "$src"
ntfscp -q "$work/part.img" "$work/user.txt" hiberfil.sys
ntfs_back "$src"

expect 0 "MBR NTFS: an exact copy (hiberfil.sys left out)" nothing
user_file_missing() { cp --sparse=always "$work/demo/disk0.img" "$copy"; }
expect 1 "MBR NTFS: a user file named like a system file is missing" user_file_missing
damage_file_bytes() {
  ntfs_of "$copy"
  ntfscat "$work/part.img" /Users/User/Documents/Report.doc >"$work/f"
  printf 'X' | dd of="$work/f" conv=notrunc status=none
  ntfscp -q -f "$work/part.img" "$work/f" /Users/User/Documents/Report.doc
  ntfs_back "$copy"
}
# Adds DELTA to the 8-byte field at OFFSET of the $STANDARD_INFORMATION of
# PATH in the copy's NTFS, in its MFT record (8: modification time, 32: attributes).
patch_standard_information() {  # PATH OFFSET DELTA
  ntfs_of "$copy"
  local inode
  inode=$(ntfsinfo -F "$1" "$work/part.img" | sed -n 's/^Dumping Inode \([0-9]*\).*/\1/p')
  python3 - "$work/part.img" "$inode" "$2" "$3" <<'PY'
import os, struct, sys
fd = os.open(sys.argv[1], os.O_RDWR)
boot = os.pread(fd, 512, 0)
bps, spc = struct.unpack_from("<HB", boot, 11)
mft, = struct.unpack_from("<Q", boot, 48)
rec = 1 << (256 - boot[64]) if boot[64] >= 128 else boot[64] * bps * spc
at = mft * bps * spc + int(sys.argv[2]) * rec
record = os.pread(fd, rec, at)
attr, = struct.unpack_from("<H", record, 20)
assert struct.unpack_from("<I", record, attr)[0] == 0x10  # $STANDARD_INFORMATION comes first
value, = struct.unpack_from("<H", record, attr + 20)
where = at + attr + value + int(sys.argv[3])
assert (where - at) % 512 < 502  # clear of the update sequence's sector ends
old, = struct.unpack("<Q", os.pread(fd, 8, where))
os.pwrite(fd, struct.pack("<Q", old + int(sys.argv[4])), where)
PY
  ntfs_back "$copy"
}
damage_file_time() { patch_standard_information /Windows/System32/Kernel32.dll 8 10000000; }
damage_folder_attributes() { patch_standard_information /Users/User/Documents 32 2; }
damage_boot_sector() { dd if=/dev/zero of="$copy" bs=512 seek=2048 count=1 conv=notrunc status=none; }
expect 1 "MBR NTFS: a byte of a file deep in the tree differs" damage_file_bytes
expect 1 "MBR NTFS: a file's modification time differs by a second" damage_file_time
expect 1 "MBR NTFS: a folder's attributes differ (hidden)" damage_folder_attributes
expect 1 "MBR NTFS: the copy's boot sector is zeroed" damage_boot_sector

# ---- GPT: the GPT demo PC's system disk (EFI system, reserved, NTFS) ----
"$build/bin/simpc" demo "$work/gdemo" --gpt >/dev/null
cp --sparse=always "$work/gdemo/disk0.img" "$src"
cp --sparse=always "$src" "$pristine"
ntfs_start=$(sfdisk -d "$src" | sed -n 's/.*img3 : start= *\([0-9]*\),.*/\1/p')
zero_ntfs_and_mft() {
  local bs spc mft
  bs=$(od -An -tu2 -j $((ntfs_start * 512 + 11)) -N2 "$copy" | tr -d ' ')
  spc=$(od -An -tu1 -j $((ntfs_start * 512 + 13)) -N1 "$copy" | tr -d ' ')
  mft=$(od -An -tu8 -j $((ntfs_start * 512 + 48)) -N8 "$copy" | tr -d ' ')
  dd if=/dev/zero of="$copy" bs=512 seek="$ntfs_start" count=1 conv=notrunc status=none
  dd if=/dev/zero of="$copy" bs=1 seek=$((ntfs_start * 512 + mft * spc * bs)) count=65536 conv=notrunc status=none
}
esp_file() { mcopy -i "$copy@@1M" "$work/user.txt" ::/EXTRA.TXT; }
wrong_type() { sgdisk -t 2:0FC63DAF-8483-4772-8E79-3D69D8477DE4 "$copy" >/dev/null; }
backup_gone() { dd if=/dev/zero of="$copy" bs=512 seek=$(($(stat -c %s "$copy") / 512 - 33)) count=33 conv=notrunc status=none; }
expect 0 "GPT: an exact copy" nothing
expect 1 "GPT: the NTFS boot sector and the start of \$MFT are zeroed" zero_ntfs_and_mft
expect 1 "GPT: the EFI system partition holds a file the source lacks" esp_file
expect 1 "GPT: the reserved partition's type GUID changed" wrong_type
expect 1 "GPT: the backup table at the disk's end is zeroed (sgdisk -v)" backup_gone

# ---- FAT32: the demo PC's USB stick, filled by mtools ----
cp --sparse=always "$work/demo/disk2.img" "$src"
touch -d '2024-03-04 05:06:08' "$work/user.txt"
mmd -i "$src@@1M" ::/Docs ::/Docs/Deep '::/RECYCLED' '::/$RECYCLE.BIN'
mcopy -m -i "$src@@1M" "$work/user.txt" '::/Docs/Deep/Long name of a file.txt'
mcopy -m -i "$src@@1M" "$work/user.txt" '::/Recycled paper.docx'
mcopy -m -i "$src@@1M" "$work/user.txt" '::/RECYCLED/gone.txt'
mattrib -i "$src@@1M" +r '::/Docs/Deep/Long name of a file.txt'
cp --sparse=always "$src" "$pristine"
mdel -i "$pristine@@1M" '::/RECYCLED/gone.txt'
fat_time() {
  touch -d '2024-03-04 05:06:20' "$work/user.txt"
  mattrib -i "$copy@@1M" -r '::/Docs/Deep/Long name of a file.txt'
  mcopy -o -m -i "$copy@@1M" "$work/user.txt" '::/Docs/Deep/Long name of a file.txt'
  mattrib -i "$copy@@1M" +r '::/Docs/Deep/Long name of a file.txt'
}
fat_attr() { mattrib -i "$copy@@1M" +h '::/Docs/Deep/Long name of a file.txt'; }
fat_missing() { mdel -i "$copy@@1M" '::/Recycled paper.docx'; }
fat_bytes() {
  printf 'the user wrote thiS\n' >"$work/other.txt"
  touch -d '2024-03-04 05:06:08' "$work/other.txt"
  mattrib -i "$copy@@1M" -r '::/Docs/Deep/Long name of a file.txt'
  mcopy -o -m -i "$copy@@1M" "$work/other.txt" '::/Docs/Deep/Long name of a file.txt'
  mattrib -i "$copy@@1M" +r '::/Docs/Deep/Long name of a file.txt'
}
fat_damaged() { dd if=/dev/zero of="$copy" bs=512 seek=2048 count=1 conv=notrunc status=none; }
expect 0 "FAT32: an exact copy (the recycle bin's content left out)" nothing
expect 1 "FAT32: a file's modification time differs" fat_time
expect 1 "FAT32: a file's attributes differ" fat_attr
expect 1 "FAT32: a user file named like the recycle bin is missing" fat_missing
expect 1 "FAT32: a byte of a file differs" fat_bytes
expect 1 "FAT32: the boot sector is zeroed" fat_damaged

# ---- what cannot be checked is said: a partition of an unknown type whose
# copy has another length ----
rm -f "$src" "$pristine"
truncate -s 64M "$src"
printf 'label: dos\nstart=2048, size=20480, type=83\n' | sfdisk -q "$src"
cp "$src" "$pristine"
printf 'label: dos\nstart=2048, size=40960, type=83\n' | sfdisk -q "$pristine"
expect 3 "an unknown partition type with another length is NOT CHECKED" nothing

# ---- GPT on 4096-byte sectors: sgdisk -v reads the image through a loop
# device of that sector size (root only; said when it cannot) ----
rm -f "$src"
truncate -s 64M "$src"
if [ "$(id -u)" -eq 0 ] && loop=$(losetup -b 4096 -f --show "$src" 2>/dev/null); then
  sgdisk -n 1:0:0 -t 1:8300 "$loop" >/dev/null
  losetup -d "$loop"
  cp "$src" "$pristine"
  pair4096() {
    local pc=$work/case4096
    rm -rf "$pc"
    "$build/bin/simpc" new "$pc" >/dev/null
    "$build/bin/simpc" add-disk "$pc" 0 --image "$src" --sector 4096 >/dev/null
    "$build/bin/simpc" add-disk "$pc" 1 --image "$copy" --sector 4096 >/dev/null
    "$check" "$pc" 0 1 >"$work/out4096.txt" 2>&1
  }
  cp "$pristine" "$copy"
  if pair4096 && grep -q "sgdisk -v of the copy: no problems found" "$work/out4096.txt"; then
    echo "ok: GPT, 4096-byte sectors: an exact copy (exit 0)"
  else
    echo "FAILED: GPT, 4096-byte sectors: an exact copy"; sed 's/^/    /' "$work/out4096.txt"; failures=$((failures + 1))
  fi
  dd if=/dev/zero of="$copy" bs=4096 seek=$((16384 - 5)) count=5 conv=notrunc status=none
  pair4096
  if [ $? -eq 1 ] && grep -q "^FAIL: sgdisk -v" "$work/out4096.txt"; then
    echo "ok: GPT, 4096-byte sectors: the backup table zeroed (exit 1)"
  else
    echo "FAILED: GPT, 4096-byte sectors: the backup table zeroed"; sed 's/^/    /' "$work/out4096.txt"
    failures=$((failures + 1))
  fi
else
  echo "not run: GPT on 4096-byte sectors needs a loop device"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures cases failed"
  exit 1
fi
echo "check-clone: every case as expected"
