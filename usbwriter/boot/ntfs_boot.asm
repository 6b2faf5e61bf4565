; NTFS boot code (bytes 80 to 4,607 of the volume's first nine sectors),
; written over a volume the system formatted on old Windows versions. It
; cannot start a boot manager by itself: it names the missing loader and
; asks for a restart.
        bits    16
        org     0x7C00 + 80
        xor     ax, ax
        mov     ds, ax
        mov     si, text
        jmp     print_and_halt
%include "print_and_halt.inc"
text:
        db      "BOOTMGR is missing", 13, 10
        db      "Press Ctrl+Alt+Del to restart", 13, 10, 0
        times   510 - 80 - ($ - $$) db 0
        dw      0xAA55
        times   4608 - 80 - ($ - $$) db 0
