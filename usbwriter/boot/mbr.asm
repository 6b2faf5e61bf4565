; MBR boot code for Windows images (LBA 2 of the stick, 434 bytes): moves
; itself to 0000:0600, finds the active partition of the table behind it,
; reads that partition's first sector to 0000:7C00 and starts it.
        bits    16
        org     0x0600
%include "relocate.inc"
relocated:
        mov     si, 0x0600 + 446
        mov     cx, 4
.find:
        cmp     byte [si], 0x80
        je      .found
        add     si, 16
        loop    .find
        mov     si, missing_os
        jmp     print_and_halt
.found:
        cmp     byte [si + 4], 0
        jne     .load
        mov     si, invalid_table
        jmp     print_and_halt
.load:
        mov     eax, [si + 8]
        mov     [packet + 8], eax
        mov     si, packet
        mov     ah, 0x42
        mov     dl, 0x80
        int     0x13
        jc      .error
        cmp     word [0x7DFE], 0xAA55
        jne     .missing
        mov     dl, 0x80
        jmp     0:0x7C00
.error:
        mov     si, load_error
        jmp     print_and_halt
.missing:
        mov     si, missing_os
        jmp     print_and_halt
%include "print_and_halt.inc"
packet:
        db      16, 0
        dw      1
        dw      0x7C00, 0
        dq      0
invalid_table:
        db      "Invalid partition table", 0
load_error:
        db      "Error loading operating system", 0
missing_os:
        db      "Missing operating system", 0
        times   434 - ($ - $$) db 0
