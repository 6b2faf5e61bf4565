; The FAT16 boot sector that starts NTLDR.
%define LOADER_NAME "NTLDR      "
%define LOADER_TEXT "NTLDR"
%include "fat16_boot.inc"
