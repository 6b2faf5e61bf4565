; FAT16 boot sector template of the stick's volume (emulated and
; no-emulation boot images of other systems). The formatter fills sectors per
; cluster, FAT size, geometry, hidden and total sectors and the label.
        bits    16
        org     0x7C00
        jmp     short start
        nop
        db      "MSDOS5.0"              ; +3   OEM name
        dw      512                     ; +11  bytes per sector
        db      64                      ; +13  sectors per cluster
        dw      6                       ; +14  reserved sectors
        db      2                       ; +16  FATs
        dw      512                     ; +17  root entries
        dw      0                       ; +19  16-bit total sectors
        db      0xF8                    ; +21  media
        dw      0                       ; +22  FAT size
        dw      63                      ; +24  sectors per track
        dw      255                     ; +26  heads
        dd      0                       ; +28  hidden sectors
        dd      0                       ; +32  total sectors
        db      0                       ; +36  drive number
        db      0                       ; +37
        db      0x29                    ; +38  extended boot signature
        dd      0x5E6F7A8B              ; +39  volume serial number
        db      "NO NAME    "           ; +43  label
        db      "FAT16   "              ; +54  file system type
%include "no_loader.inc"                    ; +62
no_loader:
        db      "NTLDR is missing", 13, 10
        db      "Remove disks or other media.", 13, 10, 0
        times   510 - ($ - $$) db 0
        dw      0xAA55
