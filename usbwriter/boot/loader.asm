; The stick's loader, LBA 0-1 (1,024 bytes). The write sequence fills the
; partition table (446-511), the packet's sector count (514) and buffer
; (516-519), and the option bytes 752-757:
;   752 boot count byte   754 media type (0xFF Windows image)
;   755 scrambled image   756 long wait (20 s instead of 4)
;   757 action: 1 boot the image, 2 start the BIOS tool, other: menu
; The BIOS starts it at 0000:7C00. It moves itself to 0000:0600, reads its
; second sector behind itself, prints the text at 528 and acts on byte 757.
; Booting loads the packet's sectors (the El Torito boot image at LBA 130)
; to the buffer address and jumps there with drive 0x80; the BIOS tool is
; the 127 sectors from LBA 3, started at 1000:0000.
        bits    16
        org     0x0600
%include "relocate.inc"
relocated:
        mov     si, self_packet
        call    read_packet
        jmp     second_sector
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
        mov     ah, 0x0E
        mov     bx, 0x0007
        int     0x10
        jmp     print
.done:
        ret
; Extended read of drive 0x80 by the packet at DS:SI; halts on failure.
read_packet:
        mov     ah, 0x42
        mov     dl, 0x80
        int     0x13
        jc      fail
        ret
self_packet:
        db      16, 0
        dw      1
        dw      0x0800, 0
        dq      1
read_error:
        db      "Loader read error", 13, 10, 0
        times   446 - ($ - $$) db 0
        times   64 db 0                 ; partition table
        dw      0xAA55

; ---- second sector (0000:0800) ----
packet:                                 ; +512
        db      16, 0
        dw      0                       ; +514 sector count
        dw      0x7C00, 0               ; +516 buffer offset, segment
        dq      130                     ; +520 start: the boot image
text:                                   ; +528
        db      13, 10, 0
second_sector:                          ; +531
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
        xor     ah, ah
        int     0x16
        cmp     al, '1'
        je      boot_image
        cmp     al, '2'
        je      start_tool
        jmp     .menu
boot_image:
        ; Wait 4 seconds (20 with byte 756), a dot each second; a key ends it.
        mov     bp, 4
        cmp     byte [options + 4], 1
        jne     .wait
        mov     bp, 20
.wait:
        mov     ah, 0x01
        int     0x16
        jnz     .go
        mov     ah, 0x86
        mov     cx, 0x000F
        mov     dx, 0x4240
        int     0x15
        mov     al, '.'
        mov     ah, 0x0E
        mov     bx, 0x0007
        int     0x10
        dec     bp
        jnz     .wait
.go:
        mov     si, packet
        call    read_packet
        mov     dl, 0x80
        jmp     far [packet + 4]
start_tool:
        mov     si, tool_packet
        call    read_packet
        mov     dl, 0x80
        jmp     0x1000:0x0000
tool_packet:
        db      16, 0
        dw      127
        dw      0, 0x1000
        dq      3
        times   752 - ($ - $$) db 0
options:                                ; +752
        db      0, 0, 0, 0, 0, 1
menu:                                   ; +758
        db      "1  Boot the image", 13, 10
        db      "2  Start the BIOS tool", 13, 10, 0
        times   1024 - ($ - $$) db 0
