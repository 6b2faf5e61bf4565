; NTFS boot code (bytes 80 to 4,607 of the volume's first nine sectors),
; written over a volume the system formatted on old Windows versions; the
; parameter block in bytes 0-79 is the formatter's. The first sector reads
; the eight behind it; they find BOOTMGR in the root directory's index (the
; entries of its index root, then every block of its index allocation, each
; checked by its update sequence), read the file's record through the MFT's
; own data runs and load the file's data runs from 2000:0000 on, then jump
; to 2000:0000 with DL the boot drive.
        bits    16
        org     0x7C00 + 80
bpb             equ     0x7C00
bytes_per_sector equ    bpb + 11
spc             equ     bpb + 13        ; sectors per cluster
hidden          equ     bpb + 28        ; the volume's first LBA
drive           equ     bpb + 36        ; the BIOS's DL replaces it
mft_cluster     equ     bpb + 48
record_clusters equ     bpb + 64        ; clusters per MFT record; negative: 2^-n bytes

; Variables, and the buffers of one MFT record or index block (at most 4 KiB each).
want_vcn        equ     0x0500
within          equ     0x0504
lcn             equ     0x0508
run_vcn         equ     0x050C
run_length      equ     0x0510
result          equ     0x0514
record_sectors  equ     0x0518
mft_data        equ     0x051A          ; the $MFT's data attribute (in mft_record)
entries_end     equ     0x051C
block_sectors   equ     0x051E
mft_record      equ     0x1000
root_record     equ     0x2000
file_record     equ     0x3000
index_block     equ     0x4000
buffer_sectors  equ     8
load_segment    equ     0x2000
load_end        equ     0x9000          ; keeps clear of the BIOS's data below 640 KiB

        dd      0                       ; +80 (the parameter block's checksum)
start:                                  ; +84, where the jump at byte 0 lands
%include "real_mode_entry.inc"
        mov     eax, [hidden]
        inc     eax
        mov     bx, 0x7E00
        mov     cx, 8
        call    read
        jmp     main

%include "lba_read.inc"

missing:
        mov     si, no_bootmgr
        jmp     halt_with_text
compressed:
        mov     si, bootmgr_compressed
        jmp     halt_with_text
damaged:
        mov     si, disk_error
; Prints the text at SI and the restart prompt, then halts.
halt_with_text:
        xor     ax, ax
        mov     ds, ax
        call    print
        mov     si, restart
        call    print
.halt:
        hlt
        jmp     .halt
print:
        lodsb
        or      al, al
        jz      .done
        mov     ah, 0x0E
        mov     bx, 0x0007
        int     0x10
        jmp     print
.done:
        ret

disk_error:
        db      13, 10, "A disk read error occurred", 0
no_bootmgr:
        db      13, 10, "BOOTMGR is missing", 0
bootmgr_compressed:
        db      13, 10, "BOOTMGR is compressed", 0
restart:
        db      13, 10, "Press Ctrl+Alt+Del to restart", 13, 10, 0
        times   510 - 80 - ($ - $$) db 0
        dw      0xAA55

; ---- Volume sectors 1-8, at 0000:7E00 ----
main:
        cmp     word [bytes_per_sector], 512
        jne     damaged
        movzx   ax, byte [spc]
        movsx   cx, byte [record_clusters]
        or      cx, cx
        js      .bytes
        mul     cx
        jmp     .sized
.bytes:
        neg     cx
        mov     ax, 1
        shl     ax, cl
        shr     ax, 9
.sized:
        or      ax, ax
        jz      damaged
        cmp     ax, buffer_sectors
        ja      damaged
        mov     [record_sectors], ax

        ; Record 0 ($MFT) lies at the MFT's first cluster; its data
        ; attribute maps every other record.
        movzx   eax, byte [spc]
        mul     dword [mft_cluster]
        add     eax, [hidden]
        mov     bx, mft_record
        mov     cx, [record_sectors]
        call    read
        call    fix_record
        mov     eax, 0x80
        xor     dl, dl
        call    find_attribute
        jc      damaged
        cmp     byte [si + 8], 1
        jne     damaged
        mov     [mft_data], si

        ; The root directory (record 5): its index root, then its index
        ; allocation's blocks.
        mov     eax, 5
        mov     bx, root_record
        call    read_record
        mov     eax, 0x90
        mov     dl, 4                   ; "$I30"
        call    find_attribute
        jc      missing
        cmp     byte [si + 8], 0
        jne     damaged
        add     si, [si + 0x14]         ; the index root's value
        mov     eax, [si + 8]           ; bytes per index block
        shr     eax, 9
        jz      damaged
        cmp     eax, buffer_sectors
        ja      damaged
        mov     [block_sectors], ax
        add     si, 0x10                ; its node header
        call    scan_node
        mov     eax, 0xA0
        mov     dl, 4
        call    find_attribute
        jc      missing                 ; a small root has no allocation
        cmp     byte [si + 8], 1
        jne     damaged
        xor     eax, eax                ; the stream's sector of the block
.block:
        mov     edx, eax
        shl     edx, 9
        cmp     edx, [si + 0x30]        ; the allocation's data size
        jae     missing
        cmp     dword [si + 0x34], 0
        jne     missing
        mov     bx, index_block
        mov     cx, [block_sectors]
        call    read_stream
        cmp     dword [bx], "INDX"      ; blocks not in use need not carry one
        jne     .next
        call    fix_record
        push    si
        lea     si, [bx + 0x18]
        call    scan_node
        pop     si
.next:
        movzx   edx, word [block_sectors]
        add     eax, edx
        jmp     .block

; BOOTMGR's index entry names record EAX.
found:
        mov     bx, file_record
        call    read_record
        mov     ax, [bx + 0x16]         ; record flags: in use, not a folder
        and     ax, 3
        cmp     ax, 1
        jne     missing
        mov     eax, 0x80
        xor     dl, dl
        call    find_attribute
        jc      missing
        cmp     byte [si + 8], 0
        jne     .runs
        ; A small file's data lies in its record.
        mov     cx, [si + 0x10]
        add     si, [si + 0x14]
        mov     ax, load_segment
        mov     es, ax
        xor     di, di
        rep     movsb
        jmp     .start
.runs:
        test    word [si + 0x0C], 0x00FF
        jnz     compressed
        cmp     dword [si + 0x34], 0
        jne     missing
        mov     eax, [si + 0x30]        ; file size, in whole sectors
        add     eax, 511
        shr     eax, 9
        cmp     eax, (load_end - load_segment) / 32
        ja      missing                 ; larger than the room below the BIOS's data
        mov     cx, ax
        test    cx, cx
        jz      missing
        xor     eax, eax
        mov     dx, load_segment
.load:
        mov     es, dx
        xor     bx, bx
        push    cx
        mov     cx, 1
        call    read_stream
        pop     cx
        add     dx, 32
        inc     eax
        loop    .load
.start:
        mov     dl, [drive]
        jmp     load_segment:0

; Reads CX sectors of the non-resident attribute at SI from the stream's
; sector EAX on to ES:BX; registers kept.
read_stream:
        pushad
.sector:
        push    eax
        call    stream_lba
        push    cx
        mov     cx, 1
        call    read
        pop     cx
        pop     eax
        inc     eax
        add     bx, 512
        loop    .sector
        popad
        ret

; Reads MFT record EAX to BX and checks it.
read_record:
        push    si
        mov     si, [mft_data]
        movzx   ecx, word [record_sectors]
        mul     ecx
        call    read_stream
        pop     si
; Checks the record or index block at BX ("FILE" or "INDX" at its start)
; and puts back the sector ends its update sequence saved; a torn write
; counts as a read error.
fix_record:
        pushad
        mov     eax, [bx]
        cmp     eax, "FILE"
        je      .known
        cmp     eax, "INDX"
        jne     damaged
.known:
        mov     si, [bx + 4]            ; the update sequence
        mov     cx, [bx + 6]            ; its number and one word per sector
        cmp     si, 0x30
        ja      damaged
        dec     cx
        jz      damaged
        cmp     cx, buffer_sectors
        ja      damaged
        add     si, bx
        lodsw
        lea     di, [bx + 510]
.sector:
        cmp     [di], ax
        jne     damaged
        movsw
        add     di, 510
        loop    .sector
        popad
        ret

; SI := the attribute of type EAX whose name has DL characters in the
; record at BX; carry set when there is none.
find_attribute:
        mov     si, [bx + 0x14]
        add     si, bx
.next:
        cmp     dword [si], 0xFFFFFFFF
        je      .none
        cmp     [si], eax
        jne     .skip
        cmp     [si + 9], dl
        je      .found
.skip:
        mov     cx, [si + 4]
        or      cx, cx
        jz      .none
        add     si, cx
        lea     cx, [bx + 4096]
        cmp     si, cx
        jb      .next
.none:
        stc
        ret
.found:
        clc
        ret

; Looks through the index node whose header is at SI (entries from its
; first offset up to its used size) for BOOTMGR, in any case, and goes on
; at `found` with the record number of its entry.
scan_node:
        pushad
        mov     di, si
        add     di, [si + 4]            ; the end of the entries in use
        mov     [entries_end], di
        add     si, [si]
.entry:
        lea     ax, [si + 0x52 + 14]    ; the entry's header and a 7-character name
        cmp     ax, [entries_end]
        ja      .done
        test    byte [si + 12], 2       ; the node's last entry holds no name
        jnz     .done
        cmp     byte [si + 0x50], 7     ; name length
        jne     .next
        push    si
        add     si, 0x52
        mov     di, name
        mov     cx, 7
.char:
        lodsw
        or      ah, ah
        jnz     .differs
        cmp     al, 'a'
        jb      .upper
        cmp     al, 'z'
        ja      .upper
        sub     al, 'a' - 'A'
.upper:
        cmp     al, [di]
        jne     .differs
        inc     di
        loop    .char
        pop     si
        mov     eax, [si]               ; the record number's low 32 bits
        mov     sp, 0x7C00              ; the search ends here
        jmp     found
.differs:
        pop     si
.next:
        mov     ax, [si + 8]
        or      ax, ax
        jz      .done
        add     si, ax
        jmp     .entry
.done:
        popad
        ret

; EAX := the LBA of sector EAX of the non-resident attribute at SI, walking
; its data runs (length and signed offset of each run, in clusters); a sector
; past the runs or in a hole counts as damage.
stream_lba:
        pushad
        xor     edx, edx
        movzx   ebx, byte [spc]
        div     ebx
        mov     [want_vcn], eax
        mov     [within], edx
        add     si, [si + 0x20]
        xor     eax, eax
        mov     [lcn], eax
        mov     [run_vcn], eax
.run:
        lodsb
        or      al, al
        jz      damaged
        mov     dl, al
        mov     cl, al
        and     cl, 15
        xor     dh, dh
        call    number
        mov     [run_length], eax
        mov     cl, dl
        shr     cl, 4
        mov     dh, 1
        call    number
        add     [lcn], eax
        mov     eax, [want_vcn]
        sub     eax, [run_vcn]
        cmp     eax, [run_length]
        jb      .hit
        mov     eax, [run_length]
        add     [run_vcn], eax
        jmp     .run
.hit:
        test    dl, 0xF0                ; no offset: a hole
        jz      damaged
        add     eax, [lcn]
        movzx   ebx, byte [spc]
        mul     ebx
        add     eax, [within]
        add     eax, [hidden]
        mov     [result], eax
        popad
        mov     eax, [result]
        ret

; EAX := the CL-byte number at SI (little-endian, its low 32 bits; signed
; when DH is 1); SI moves past it.
number:
        xor     eax, eax
        movzx   cx, cl
        jcxz    .done
        cmp     cx, 8
        ja      damaged
        add     si, cx
        push    si
        dec     si
        mov     al, [si]
        or      dh, dh
        jz      .bytes
        movsx   eax, al
.bytes:
        dec     cx
        jz      .end
        dec     si
        shl     eax, 8
        mov     al, [si]
        jmp     .bytes
.end:
        pop     si
.done:
        ret

name:
        db      "BOOTMGR"
        times   4608 - 80 - ($ - $$) db 0
