; The BIOS tool shipped beside Pellimor (Resources\pellimor.mcd): the program
; the loader's "2" starts at 1000:0000 from the 127 sectors after LBA 2. It
; says that it ran, on the screen and on the first serial port, and stops.
        bits    16
        org     0
        mov     ax, cs
        mov     ds, ax
        mov     si, text
.next:
        lodsb
        or      al, al
        jz      .halt
        mov     ah, 0x0E
        mov     bx, 0x0007
        push    ax
        int     0x10
        pop     ax
        mov     dx, 0x3F8 + 5
.busy:
        mov     ah, al
        in      al, dx
        test    al, 0x20
        mov     al, ah
        jz      .busy
        mov     dx, 0x3F8
        out     dx, al
        jmp     .next
.halt:
        hlt
        jmp     .halt
text:
        db      "PELLIMOR BIOS TOOL RAN", 13, 10, 0
