; Drummetworks' own master boot record loader: the 440 bytes of boot code that
; a clone's sector 0 carries when its source brought none of its own.
;
; The BIOS loads sector 0 at 0000:7C00 and jumps to it with the boot drive in
; DL. The loader moves itself to 0000:0600, looks for the active (0x80) entry
; of the four primary entries, reads that partition's first sector to
; 0000:7C00 (by the extended LBA read when the BIOS offers it, else by the
; entry's CHS address), checks its 55 AA signature and jumps to it with DL =
; boot drive and DS:SI = the partition entry, as volume boot code expects.
;
; Built with "nasm -f bin"; exactly 440 bytes (the disk signature follows).

bits 16
org 0x0600

table       equ 0x0600 + 446        ; the four partition entries, after moving
loaded      equ 0x7C00              ; where the BIOS put us and where the VBR goes

start:
    db 0x33, 0xC0                   ; xor ax, ax (the form that marks boot code present)
    mov ss, ax
    mov sp, loaded
    mov ds, ax
    mov es, ax
    cld
    mov si, loaded
    mov di, 0x0600
    mov cx, 256
    rep movsw
    jmp 0x0000:moved

moved:
    sti
    mov [boot_drive], dl

    ; The active entry; exactly one is expected, the first one is taken.
    mov si, table
    mov cx, 4
.find:
    cmp byte [si], 0x80
    je .found
    add si, 16
    loop .find
    mov si, msg_no_active
    jmp fail

.found:
    mov [entry], si
    mov byte [tries], 3

.read:
    ; Extended read when the BIOS supports it (function 41h, bit 0 of CX).
    mov ah, 0x41
    mov bx, 0x55AA
    mov dl, [boot_drive]
    int 0x13
    jc .chs
    cmp bx, 0xAA55
    jne .chs
    test cl, 1
    jz .chs

    mov si, [entry]
    mov eax, [si + 8]               ; the entry's first sector (LBA)
    mov [dap_lba], eax
    mov si, dap
    mov ah, 0x42
    mov dl, [boot_drive]
    int 0x13
    jnc .check
    jmp .retry

.chs:
    mov si, [entry]
    mov dh, [si + 1]                ; head
    mov cx, [si + 2]                ; sector (bits 0-5) and cylinder
    mov bx, loaded
    mov ax, 0x0201                  ; read one sector
    mov dl, [boot_drive]
    int 0x13
    jnc .check

.retry:
    ; Reset the drive and try again, three times in all.
    xor ax, ax
    mov dl, [boot_drive]
    int 0x13
    dec byte [tries]
    jnz .read
    mov si, msg_read_error
    jmp fail

.check:
    cmp word [loaded + 510], 0xAA55
    je .boot
    mov si, msg_no_system
    jmp fail

.boot:
    mov si, [entry]
    mov dl, [boot_drive]
    jmp 0x0000:loaded

; Prints the zero-ended text at DS:SI and stops the machine.
fail:
    lodsb
    test al, al
    jz .halt
    mov ah, 0x0E
    mov bx, 0x0007
    int 0x10
    jmp fail
.halt:
    hlt
    jmp .halt

msg_no_active   db "No active partition", 0
msg_read_error  db "Error reading the boot partition", 0
msg_no_system   db "No system on the boot partition", 0

; Disk address packet of the extended read: one sector to 0000:7C00.
align 4
dap:
    db 16, 0
    dw 1
    dw loaded, 0
dap_lba:
    dd 0, 0

boot_drive  db 0
tries       db 0
entry       dw 0

    times 440 - ($ - $$) db 0
