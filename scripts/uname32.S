# A 32-bit x86 Linux program of 148 bytes, its ELF header and program header
# written out by hand: it asks the kernel for uname(2) through int 0x80, the
# 32-bit system call gate, and writes the machine field (x86_64, i686, ...)
# to standard output, without a newline. scripts/setup.sh embeds its bytes.
# Build: as --32 -o uname32.o uname32.S && objcopy -O binary -j .text uname32.o uname32
        .code32
        .set    base, 0x08048000
        .set    size, end - ehdr
        .text
ehdr:   .byte   0x7f, 'E', 'L', 'F', 1, 1, 1, 0   # 32-bit, little endian, version 1, System V
        .fill   8, 1, 0
        .word   2                       # e_type: executable
        .word   3                       # e_machine: i386
        .long   1                       # e_version
        .long   base + start - ehdr     # e_entry
        .long   phdr - ehdr             # e_phoff
        .long   0                       # e_shoff: no sections
        .long   0                       # e_flags
        .word   phdr - ehdr             # e_ehsize (52)
        .word   32                      # e_phentsize
        .word   1                       # e_phnum
        .word   0, 0, 0                 # e_shentsize, e_shnum, e_shstrndx
phdr:   .long   1                       # p_type: PT_LOAD
        .long   0                       # p_offset: the whole file ...
        .long   base                    # p_vaddr: ... at base
        .long   base                    # p_paddr
        .long   size                    # p_filesz
        .long   size + 400              # p_memsz: and room for struct new_utsname (6 x 65 bytes)
        .long   7                       # p_flags: read, write, execute
        .long   0x1000                  # p_align

start:  movl    $122, %eax              # __NR_uname (newuname) on i386
        movl    $base + size, %ebx      # struct new_utsname, zeroed by the loader
        int     $0x80
        testl   %eax, %eax
        jnz     fail
        leal    4*65(%ebx), %ecx        # the machine field, NUL-terminated
        xorl    %edx, %edx
length: cmpb    $0, (%ecx,%edx)
        je      write
        incl    %edx
        cmpl    $65, %edx
        jb      length
write:  movl    $4, %eax                # __NR_write (1, machine, length)
        movl    $1, %ebx
        int     $0x80
        xorl    %ebx, %ebx              # exit status 0
        jmp     exit
fail:   movl    $1, %ebx                # exit status 1
exit:   movl    $1, %eax                # __NR_exit
        int     $0x80
end:
