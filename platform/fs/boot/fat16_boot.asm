; FAT16 boot sector template of the stick's volume (emulated and
; no-emulation boot images of other systems). The formatter fills sectors per
; cluster, FAT size, geometry, hidden and total sectors and the label.
; The code looks for the file NTLDR in the root directory, loads its
; clusters one after the other from 2000:0000 on and jumps to 2000:0000
; with DL the boot drive; "NTLDR is missing" when the file is not there (or
; does not fit below the BIOS's data), "Disk error" when a read fails.
        bits    16
        org     0x7C00
%include "directory_scan.inc"
        jmp     short start
        nop
        db      "MSDOS5.0"              ; +3   OEM name
        dw      512                     ; +11  bytes per sector
spc:    db      64                      ; +13  sectors per cluster
reserved:
        dw      6                       ; +14  reserved sectors
fats:   db      2                       ; +16  FATs
root_entries:
        dw      512                     ; +17  root entries
        dw      0                       ; +19  16-bit total sectors
        db      0xF8                    ; +21  media
fat_size:
        dw      0                       ; +22  FAT size
        dw      63                      ; +24  sectors per track
        dw      255                     ; +26  heads
hidden: dd      0                       ; +28  hidden sectors
        dd      0                       ; +32  total sectors
drive:  db      0                       ; +36  drive number (the BIOS's DL replaces it)
        db      0                       ; +37
        db      0x29                    ; +38  extended boot signature
        dd      0x5E6F7A8B              ; +39  volume serial number
        db      "NO NAME    "           ; +43  label
        db      "FAT16   "              ; +54  file system type
buffer          equ     0x7E00          ; one directory or FAT sector
fat_start       equ     0x0500          ; LBA of the first FAT
data_start      equ     0x0504          ; LBA of cluster 2
load_segment    equ     0x2000
load_end        equ     0x9000          ; keeps clear of the BIOS's data below 640 KiB
start:
%include "real_mode_entry.inc"
        movzx   eax, word [reserved]
        add     eax, [hidden]
        mov     [fat_start], eax
        movzx   cx, byte [fats]
        movzx   edx, word [fat_size]
.fat:
        add     eax, edx
        loop    .fat
        mov     cx, [root_entries]      ; 16 entries per sector
        add     cx, 15
        shr     cx, 4
        movzx   edx, cx
        add     edx, eax
        mov     [data_start], edx
        test    cx, cx
        jz      missing
        SCAN_DIRECTORY_SECTORS read, missing
        jmp     missing

found:
        mov     ax, [di + 26]           ; first cluster
        mov     dx, load_segment
.load:
        cmp     ax, 2                   ; clusters lie in 2 up to the bad-cluster mark
        jb      missing
        cmp     ax, 0xFFF7
        jae     missing
        movzx   cx, byte [spc]
        mov     bx, cx
        shl     bx, 5                   ; paragraphs per cluster
        add     bx, dx
        cmp     bx, load_end
        ja      missing
        mov     si, ax
        push    dx
        movzx   eax, ax
        sub     eax, 2
        movzx   ebx, cx
        mul     ebx
        add     eax, [data_start]
        pop     dx
        mov     es, dx
        xor     bx, bx
        call    read
        mov     es, bx
        shl     cx, 5
        add     dx, cx
        ; The FAT's entry for cluster SI: 256 entries per sector.
        mov     ax, si
        shr     ax, 8
        movzx   eax, ax
        add     eax, [fat_start]
        mov     bx, buffer
        mov     cx, 1
        call    read
        and     si, 0xFF
        shl     si, 1
        mov     ax, [buffer + si]
        cmp     ax, 0xFFF8              ; end of the chain
        jb      .load
        mov     dl, [drive]
        jmp     load_segment:0

%include "lba_read.inc"

missing:
        mov     si, no_loader
halt_with_text:
        xor     ax, ax
        mov     ds, ax
%include "print_and_halt.inc"
name:
        db      "NTLDR      "
no_loader:
        db      13, 10, "NTLDR is missing", 13, 10
        db      "Press Ctrl+Alt+Del to restart", 13, 10, 0
disk_error:
        db      13, 10, "Disk error", 13, 10, 0
        times   510 - ($ - $$) db 0
        dw      0xAA55
