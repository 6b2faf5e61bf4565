; Volume sector 12 of the FAT32 stick, read by the boot sector to 0000:8000
; (the boot sector and its parameters stay at 0000:7C00; its read and
; message routines are called through fat32_entries.inc). It walks the root
; directory's cluster chain for the file BOOTMGR, loads the file's clusters
; one after the other from 2000:0000 on and jumps to 2000:0000 with DL the
; boot drive. The formatter appends the 0x55 0xAA the boot sector checks.
        bits    16
        org     0x8000
%include "fat32_entries.inc"
%include "directory_scan.inc"
bpb             equ     0x7C00
spc             equ     bpb + 13        ; sectors per cluster
reserved        equ     bpb + 14
fats            equ     bpb + 16
hidden          equ     bpb + 28
fat_size        equ     bpb + 36
root_cluster    equ     bpb + 44
drive           equ     bpb + 64
buffer          equ     0x8200          ; one directory or FAT sector
fat_start       equ     fat32_data
data_start      equ     fat32_data + 4
load_segment    equ     0x2000
load_end        equ     0x9000          ; keeps clear of the BIOS's data below 640 KiB
end_of_chain    equ     0x0FFFFFF8

continuation:
        movzx   eax, word [reserved]
        add     eax, [hidden]
        mov     [fat_start], eax
        movzx   cx, byte [fats]
.fat:
        add     eax, [fat_size]
        loop    .fat
        mov     [data_start], eax
        ; The root directory, one sector at a time, cluster by cluster.
        mov     eax, [root_cluster]
.cluster:
        call    check_cluster
        push    eax
        call    cluster_lba
        movzx   cx, byte [spc]
        SCAN_DIRECTORY_SECTORS fat32_read, fat32_missing
        pop     eax
        call    next_cluster
        jmp     .cluster

found:
        mov     ax, [di + 20]           ; first cluster, high and low words
        shl     eax, 16
        mov     ax, [di + 26]
        mov     dx, load_segment
.load:
        call    check_cluster
        movzx   cx, byte [spc]
        mov     bx, cx
        shl     bx, 5                   ; paragraphs per cluster
        add     bx, dx
        cmp     bx, load_end
        ja      fat32_missing           ; larger than the room below the BIOS's data
        push    eax
        call    cluster_lba
        mov     es, dx
        xor     bx, bx
        call    fat32_read
        mov     es, bx
        shl     cx, 5
        add     dx, cx
        pop     eax
        call    next_cluster
        cmp     eax, end_of_chain
        jb      .load
        mov     dl, [drive]
        jmp     load_segment:0

; Cluster EAX must lie in the data area: 2 up to the end-of-chain marks.
check_cluster:
        cmp     eax, 2
        jb      fat32_missing
        cmp     eax, end_of_chain
        jae     fat32_missing
        ret

; EAX := first LBA of cluster EAX.
cluster_lba:
        push    edx
        sub     eax, 2
        movzx   edx, byte [spc]
        mul     edx
        add     eax, [data_start]
        pop     edx
        ret

; EAX := the FAT's entry for cluster EAX.
next_cluster:
        push    bx
        push    cx
        push    si
        push    eax
        shr     eax, 7                  ; 128 entries per sector
        add     eax, [fat_start]
        mov     bx, buffer
        mov     cx, 1
        call    fat32_read
        pop     eax
        and     eax, 127
        shl     ax, 2
        mov     si, ax
        mov     eax, [buffer + si]
        and     eax, 0x0FFFFFFF
        pop     si
        pop     cx
        pop     bx
        ret

name:
        db      "BOOTMGR    "
        times   372 - ($ - $$) db 0
