; FAT32 boot sector template of the stick's volume. The formatter fills the
; geometry fields (bytes per sector, sectors per cluster, reserved sectors,
; sectors per track, heads, hidden and total sectors, FAT size, label); the
; other fields keep the values below. The code reads the volume's sector 12
; (the continuation, which finds BOOTMGR in the root directory and starts
; it) to 0000:8000 and jumps there; the continuation uses this sector's
; read and message routines through the jump table of fat32_entries.inc.
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
drive:  db      0x80                    ; +64  drive number
        db      0                       ; +65
        db      0x29                    ; +66  extended boot signature
        dd      0x1A2B3C4D              ; +67  volume serial number
        db      "NO NAME    "           ; +71  label
        db      "FAT32   "              ; +82  file system type
%include "fat32_entries.inc"
        jmp     short start             ; +90
%if ($ - $$) != fat32_read - 0x7C00
%error "the FAT32 entry table moved"
%endif
        jmp     near read               ; +92
        jmp     near missing            ; +95
start:
%include "real_mode_entry.inc"
        mov     eax, [0x7C00 + 28]      ; hidden sectors: the volume's first LBA
        add     eax, 12
        mov     bx, 0x8000
        mov     cx, 1
        call    read
        cmp     word [0x8000 + 510], 0xAA55
        jne     missing
        jmp     0:0x8000

%include "lba_read.inc"

missing:
        mov     si, remove_media
halt_with_text:
        xor     ax, ax
        mov     ds, ax
%include "print_and_halt.inc"
remove_media:
        db      13, 10, "Remove disks or other media.", 13, 10, 0
disk_error:
        db      13, 10, "Disk error", 13, 10, 0
        times   510 - ($ - $$) db 0
        dw      0xAA55
