; FAT32 boot sector template of the stick's volume. The formatter fills the
; geometry fields (bytes per sector, sectors per cluster, reserved sectors,
; sectors per track, heads, hidden and total sectors, FAT size, label); the
; other fields keep the values below. The code names the missing loader:
; a stick whose volume holds no boot manager stops with the message.
        bits    16
        org     0x7C00
        jmp     short start
        nop
        db      "MSDOS5.0"              ; +3   OEM name
        dw      512                     ; +11  bytes per sector
        db      8                       ; +13  sectors per cluster
        dw      32                      ; +14  reserved sectors
        db      2                       ; +16  FATs
        dw      0                       ; +17  root entries (none on FAT32)
        dw      0                       ; +19  16-bit total sectors
        db      0xF8                    ; +21  media
        dw      0                       ; +22  16-bit FAT size
        dw      63                      ; +24  sectors per track
        dw      255                     ; +26  heads
        dd      0                       ; +28  hidden sectors
        dd      0                       ; +32  total sectors
        dd      0                       ; +36  FAT size
        dw      0                       ; +40  flags
        dw      0                       ; +42  version
        dd      2                       ; +44  root cluster
        dw      1                       ; +48  FSInfo sector
        dw      6                       ; +50  backup boot sector
        times   12 db 0                 ; +52  reserved
        db      0x80                    ; +64  drive number
        db      0                       ; +65
        db      0x29                    ; +66  extended boot signature
        dd      0x1A2B3C4D              ; +67  volume serial number
        db      "NO NAME    "           ; +71  label
        db      "FAT32   "              ; +82  file system type
%include "no_loader.inc"                    ; +90
no_loader:
        db      "BOOTMGR is missing", 13, 10
        db      "Remove disks or other media.", 13, 10, 0
disk_error:
        db      "Disk error", 13, 10, 0
        times   510 - ($ - $$) db 0
        dw      0xAA55
