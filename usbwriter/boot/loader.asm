; The stick's loader, LBA 0-1 (1,024 bytes). The write sequence fills the
; partition table (446-511), the packet's sector count (514), buffer
; (516-519) and start (520), and the option bytes 752-757:
;   752 boot count byte   754 media type (0 no emulation, 1-4 emulation,
;   0xFF Windows image: no disk hook)   755 1: the image is scrambled with
;   a pass key   756 1: wait 20 s instead of 4   757 action: 1 boot the
;   image, 2 start the BIOS tool, other: a menu
; The BIOS starts it at 0000:7C00. It reads its second sector behind itself,
; takes 2 KiB off the top of base memory and moves itself there (so the
; disk hook outlives what the boot image loads), loads the packet's sectors
; (LBA 2's MBR code for Windows images, which starts the partition's boot
; sector; the El Torito boot image at LBA 130, or in a raw-written image
; where the image keeps it), prints the text at 528 and acts on byte 757.
; Booting waits, a dot a second, asks for the pass key of a scrambled image
; and unscrambles what it loaded, hooks the disk interrupt by media type and
; jumps to the buffer: no emulation gets drive 0x80, its extended reads of
; 2,048-byte blocks become reads of four sectors each and the El Torito
; status call names drive 0x80; a diskette gets drive 0, whose CHS reads
; become extended reads of drive 0x80 from the packet's start sector on.
; The BIOS tool is the 127 sectors from LBA 3, started at 1000:0000.
        bits    16
        org     0
start:
        cli
        xor     ax, ax
        mov     ss, ax
        mov     sp, 0x7C00
        sti
        cld
        mov     ax, 0x07C0
        mov     ds, ax
        mov     si, self_packet
        call    read_packet             ; the second sector to 07C0:0200
        xor     ax, ax
        mov     es, ax
        mov     ax, [es:0x413]          ; base memory in KiB
        sub     ax, 2
        mov     [es:0x413], ax
        shl     ax, 6
        mov     es, ax
        xor     si, si
        xor     di, di
        mov     cx, 512
        rep     movsw
        push    es
        push    word relocated
        retf
relocated:
        push    cs
        pop     ds
        mov     byte [hidden_echo], 0
        mov     si, packet
        cmp     word [si + 2], 0        ; the blob-only branding loads nothing
        je      .loaded
        call    read_packet
.loaded:
        mov     si, text
        call    print
        mov     al, [options + 5]
        cmp     al, 2
        je      start_tool
        cmp     al, 1
        je      boot_image
.menu:
        mov     si, menu
        call    print
        call    read_line
        cmp     byte [line], '1'
        je      boot_image
        cmp     byte [line], '2'
        je      start_tool
        jmp     .menu

start_tool:
        mov     si, tool_packet
        call    read_packet
        mov     dl, 0x80
        jmp     0x1000:0x0000

fail:
        mov     si, read_error
print_and_halt:
        call    print
.halt:
        hlt
        jmp     .halt

; Prints the zero-terminated text at DS:SI.
print:
        lodsb
        or      al, al
        jz      .done
        call    putc
        jmp     print
.done:
        ret
putc:
        mov     ah, 0x0E
        mov     bx, 0x0007
        int     0x10
        ret

; Extended read of drive 0x80 by the packet at DS:SI; halts on failure.
read_packet:
        mov     ah, 0x42
        mov     dl, 0x80
        int     0x13
        jc      fail
        ret

; Reads keys up to Enter into `line` (at most 16 kept, echoed as typed,
; or as '*' with BL nonzero); DI := their count.
read_line:
        xor     di, di
.key:
        xor     ah, ah
        int     0x16
        cmp     al, 13
        je      .done
        cmp     di, 16
        jae     .key
        mov     [line + di], al
        inc     di
        cmp     byte [hidden_echo], 0
        je      .echo
        mov     al, '*'
.echo:
        call    putc
        jmp     .key
.done:
        mov     si, text
        jmp     print

; Asks for the pass key and turns it into the 16 key bytes in `line`.
ask_pass_key:
        mov     si, key_prompt
        call    print
        mov     byte [hidden_echo], 1
        call    read_line
        or      di, di
        jz      ask_pass_key
        xor     si, si
.repeat:                                ; the key repeated to 16 bytes
        cmp     di, 16
        jae     .sum
        mov     al, [line + si]
        mov     [line + di], al
        inc     si
        inc     di
        jmp     .repeat
.sum:
        xor     ax, ax
        xor     si, si
.add:
        add     al, [line + si]
        inc     si
        cmp     si, 16
        jb      .add
        and     al, 15
        jnz     .swap
        inc     al
.swap:                                  ; bytes i and (i + s) mod 16, i = 0 to 6
        xor     si, si
.next:
        mov     bx, si
        add     bl, al
        and     bx, 15
        mov     ah, [line + si]
        xchg    ah, [line + bx]
        mov     [line + si], ah
        inc     si
        cmp     si, 7
        jb      .next
        ret

; XORs CX sectors at ES:DI with the key bytes' low 6 bits, byte j of every
; 16-byte block with key byte j.
unscramble:
        jcxz    .done
.sector:
        push    cx
        mov     cx, 512
        xor     bx, bx
.byte:
        mov     si, bx
        and     si, 15
        mov     al, [line + si]
        and     al, 0x3F
        xor     [es:di + bx], al
        inc     bx
        loop    .byte
        mov     ax, es
        add     ax, 32
        mov     es, ax
        pop     cx
        loop    .sector
.done:
        ret

self_packet:
        db      16, 0
        dw      1
        dw      0x0200, 0x07C0
        dq      1
tool_packet:
        db      16, 0
        dw      127
        dw      0, 0x1000
        dq      3
read_error:
        db      "Loader read error", 13, 10, 0
key_prompt:
        db      "Pass key: ", 0
        times   446 - ($ - $$) db 0
        times   64 db 0                 ; partition table
        dw      0xAA55

; ---- second sector ----
packet:                                 ; +512
        db      16, 0
        dw      0                       ; +514 sector count
        dw      0x7C00, 0               ; +516 buffer offset, segment
        dq      2                       ; +520 start
text:                                   ; +528
        db      13, 10, 0

boot_image:                             ; +531
        ; Wait 4 seconds (20 with byte 756), a dot each second; a key ends it.
        mov     bp, 4
        cmp     byte [options + 4], 1
        jne     .wait
        mov     bp, 20
.wait:
        mov     ah, 0x01
        int     0x16
        jnz     .waited
        mov     ah, 0x86
        mov     cx, 0x000F
        mov     dx, 0x4240
        int     0x15
        mov     al, '.'
        call    putc
        dec     bp
        jnz     .wait
.waited:
        cmp     byte [options + 3], 1
        jne     .hook
        call    ask_pass_key
        les     di, [packet + 4]
        movzx   cx, byte [packet + 2]
        call    unscramble
.hook:
        mov     byte [boot_drive], 0x80
        mov     al, [options + 2]
        cmp     al, 0xFF
        je      .go
        xor     bx, bx
        mov     es, bx
        mov     ebx, [es:0x13 * 4]
        mov     [old13], ebx
        mov     bx, cd_hook
        or      al, al
        jz      .install
        mov     bx, diskette_hook
        mov     byte [boot_drive], 0
        mov     byte [spt], 15
        cmp     al, 1
        je      .install
        mov     byte [spt], 36
        cmp     al, 3
        je      .install
        mov     byte [spt], 18
.install:
        cli
        mov     [es:0x13 * 4], bx
        mov     [es:0x13 * 4 + 2], cs
        sti
.go:
        mov     dl, [boot_drive]
        jmp     far [packet + 4]

        times   752 - ($ - $$) db 0
options:                                ; +752
        db      0, 0, 0, 0, 0, 1
menu:                                   ; +758
        db      "1  Boot the image", 13, 10
        db      "2  Start the BIOS tool", 13, 10, 0

; No emulation: extended reads of drive 0x80 count 2,048-byte blocks; the
; El Torito status call answers for drive 0x80.
cd_hook:
        cmp     dl, 0x80
        jne     .pass
        cmp     ah, 0x42
        je      .read
        cmp     ax, 0x4B01
        je      .status
.pass:
        jmp     far [cs:old13]
.read:
        shl     word [si + 2], 2
        shl     dword [si + 8], 2
        pushf
        call    far [cs:old13]
        pushf
        shr     word [si + 2], 2
        shr     dword [si + 8], 2
        popf
        retf    2
.status:
        mov     byte [si], 0x13         ; disc emulation status packet: size, media
        mov     word [si + 1], 0x8000   ; no emulation, drive 0x80
        xor     ax, ax
        retf    2

; Diskette emulation: CHS reads of drive 0 become extended reads of drive
; 0x80 at the packet's start + (cylinder x 2 + head) x spt + sector - 1.
diskette_hook:
        or      dl, dl
        jnz     cd_hook.pass
        cmp     ah, 0x02
        jne     cd_hook.pass
        pushad
        push    ds
        push    cs
        pop     ds
        xor     ah, ah
        mov     word [disk_packet], 16
        mov     [disk_packet + 2], ax
        mov     [disk_packet + 4], bx
        mov     [disk_packet + 6], es
        movzx   eax, cl
        shr     al, 6
        mov     ah, al
        mov     al, ch                  ; cylinder
        shl     eax, 1
        movzx   ebx, dh
        add     eax, ebx
        movzx   ebx, byte [spt]
        mul     ebx
        and     ecx, 0x3F
        dec     ecx
        add     eax, ecx
        add     eax, [packet + 8]
        mov     [disk_packet + 8], eax
        mov     dword [disk_packet + 12], 0
        mov     si, disk_packet
        mov     dl, 0x80
        mov     ah, 0x42
        pushf
        call    far [old13]
        pop     ds
        popad
        jc      .failed
        cmp     byte [cs:options + 3], 1
        jne     .done
        pushad
        push    ds
        push    cs
        pop     ds
        movzx   cx, al
        mov     di, bx
        call    unscramble
        pop     ds
        popad
.done:
        xor     ah, ah
        retf    2
.failed:
        mov     ah, 0x04
        retf    2

; Variables, in the 1,024 bytes the loader keeps at the top of base memory.
old13           equ     1024
disk_packet     equ     1028            ; 16 bytes
line            equ     1044            ; 16 bytes
boot_drive      equ     1060
spt             equ     1061
hidden_echo     equ     1062
        times   1024 - ($ - $$) db 0
