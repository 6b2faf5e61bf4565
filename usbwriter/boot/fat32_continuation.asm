; Second boot sector of the FAT32 volume (volume sector 12): the code the
; first sector continues with. It reports that the stick cannot start a
; boot manager by itself and stops. 372 bytes; the formatter pads it.
        bits    16
        org     0x8000
continuation:
        xor     ax, ax
        mov     ds, ax
        mov     si, text
        jmp     print_and_halt
%include "print_and_halt.inc"
text:
        db      "BOOTMGR could not be started", 13, 10, 0
        times   372 - ($ - $$) db 0
