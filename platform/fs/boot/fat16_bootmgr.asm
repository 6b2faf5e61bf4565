; The FAT16 boot sector that starts BOOTMGR.
%define LOADER_NAME "BOOTMGR    "
%define LOADER_TEXT "BOOTMGR"
%include "fat16_boot.inc"
