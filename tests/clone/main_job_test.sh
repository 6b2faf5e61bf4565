#!/usr/bin/env bash
# The main job together with its proof, as a new user runs it.
#   main_job_test.sh BUILD_DIR SOURCE_DIR mbr|gpt|devices
# mbr: scripts/run on a fresh demo PC (headless: the clone wizard, then
#   scripts/check-clone), which must exit 0; then once more, as a second run
#   over the first run's copy does.
# gpt: the same on a demo PC whose system disk is GPT (simpc demo --gpt).
# devices: the README's recipe for real disks, on two loop devices over image
#   files made by sfdisk, mkntfs, ntfscp, mkfs.fat and mtools (exit 77, a
#   skip, when loop devices cannot be made here).
set -euo pipefail
build=$1 source=$2 mode=$3
work=$(mktemp -d)
loops=()
cleanup() {
  local l
  for l in "${loops[@]}"; do losetup -d "$l" || true; done
  rm -rf "$work"
}
trap cleanup EXIT
export DRUM_RUN_BUILT=1 DRUM_BUILD_DIR=$work/build-out QT_QPA_PLATFORM=offscreen
mkdir -p "$DRUM_BUILD_DIR"
ln -s "$build/bin" "$DRUM_BUILD_DIR/bin"
ln -s "$build/stage" "$DRUM_BUILD_DIR/stage"
unset DISPLAY WAYLAND_DISPLAY

case $mode in
  mbr|gpt)
    export DRUM_DEMO_DIR=$work/demo-pc
    if [ "$mode" = gpt ]; then "$build/bin/simpc" demo "$DRUM_DEMO_DIR" --gpt; fi
    "$source/scripts/run" | tee "$work/run.txt"
    grep -q "^  Drummetworks said: The duplication is complete.$" "$work/run.txt"
    grep -q "The copy on disk 1 is whole." "$work/run.txt"
    for picture in wizard-source wizard-destination wizard-options clone-page clone-summary; do
      [ -s "$DRUM_BUILD_DIR/screenshots/main-job/$picture.png" ] || { echo "no $picture.png"; exit 1; }
    done
    if [ "$mode" = mbr ]; then
      # A second run replaces the first run's copy after asking.
      "$source/scripts/run" | tee "$work/run2.txt"
      grep -q "holds an earlier copy" "$work/run2.txt"
      # What the program said is this run's, not the first run's again.
      [ "$(grep -c "^  Drummetworks said: The duplication is complete.$" "$work/run2.txt")" -eq 1 ] ||
        { echo "the second run repeats the first run's answers"; exit 1; }
      grep -q "The copy on disk 1 is whole." "$work/run2.txt"
    fi
    ;;
  devices)
    [ "$(id -u)" -eq 0 ] || { echo "loop devices need root: not run"; exit 77; }
    truncate -s 1G "$work/source.img"
    truncate -s 2G "$work/destination.img"
    printf 'label: dos\nlabel-id: 0x5eed4243\nstart=2048, size=1024000, type=7, bootable\nstart=1026048, size=614400, type=c\n' |
      sfdisk -q "$work/source.img"
    truncate -s $((1024000 * 512)) "$work/ntfs.img"
    mkntfs -F -f -q -L System -s 512 -p 2048 -H 255 -S 63 "$work/ntfs.img"
    head -c 700000 /dev/urandom >"$work/bootmgr"
    ntfscp -q "$work/ntfs.img" "$work/bootmgr" bootmgr
    dd if="$work/ntfs.img" of="$work/source.img" bs=1M seek=1 conv=notrunc,sparse status=none
    truncate -s $((614400 * 512)) "$work/fat.img"
    mkfs.fat -F 32 -n DATA -h 1026048 "$work/fat.img" >/dev/null
    head -c 2000000 /dev/urandom >"$work/report.bin"
    MTOOLS_SKIP_CHECK=1 mmd -i "$work/fat.img" ::/DOCS
    MTOOLS_SKIP_CHECK=1 mcopy -i "$work/fat.img" "$work/report.bin" ::/DOCS/REPORT.BIN
    dd if="$work/fat.img" of="$work/source.img" bs=512 seek=1026048 conv=notrunc,sparse status=none
    sdx=$(losetup -f --show "$work/source.img") || { echo "no loop device: not run"; exit 77; }
    loops+=("$sdx")
    sdy=$(losetup -f --show "$work/destination.img") || { echo "no loop device: not run"; exit 77; }
    loops+=("$sdy")
    cd "$work"
    # The README's recipe, word for word but for the device names.
    "$build/bin/simpc" new real-pc
    "$build/bin/simpc" add-disk real-pc 0 --device "$sdx"
    "$build/bin/simpc" add-disk real-pc 1 --device "$sdy"
    "$build/bin/drummetworks" --machine real-pc --ui headless --script "$source/apps/drummetworks/clone.script" \
      --log "$work/trace.log"
    "$source/scripts/check-clone" real-pc 0 1 | tee "$work/check.txt"
    grep -q "The copy on disk 1 is whole." "$work/check.txt"
    ;;
  *) echo "unknown mode $mode"; exit 2 ;;
esac
echo "main job ($mode): the copy is proven whole"
