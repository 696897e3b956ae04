/* The executable's data area: the program image from its first byte, laid
   out at build time by mosalin-image, and zero after the image's last byte.
   It is writable (the host applies the fixups where the image lies) and, in
   the Windows executable, executable as well; there the linker script
   places it at the very start of the .data section. */
#ifdef _WIN32
        .section .mosalin_image,"dwx"
#else
        .data
#endif
        .globl  mosalin_program_data
        .balign 16
mosalin_program_data:
        .incbin MOSALIN_IMAGE_FILE
        .fill   0x4200 - (. - mosalin_program_data), 1, 0
#ifndef _WIN32
        .section .note.GNU-stack,"",@progbits
#endif
