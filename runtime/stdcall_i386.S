# The call of one native function as the program makes it on 32-bit Windows:
# the argument words pushed last first, the function called, and the stack
# pointer compared before and after. A stdcall function removes exactly the
# words it takes, so a difference means it took a different number of words
# than the program passed.
#
#   Word velmo_CallStdcall(const void* fn, const Word* argv, uint32_t argc,
#                          int32_t* depthChange)
#
# *depthChange is the number of bytes the function removed beyond those
# passed (negative: fewer). Sixteen zero words lie above the arguments, so a
# function that takes more words than passed reads zeros and removes pad,
# never this frame's saved registers.
        .text
        .globl  _velmo_CallStdcall
        .def    _velmo_CallStdcall; .scl 2; .type 32; .endef
_velmo_CallStdcall:
        pushl   %ebp
        movl    %esp, %ebp
        pushl   %ebx
        pushl   %esi
        pushl   %edi
        subl    $64, %esp
        cld
        movl    %esp, %edi
        xorl    %eax, %eax
        movl    $16, %ecx
        rep stosl
        movl    %esp, %ebx
        movl    12(%ebp), %esi
        movl    16(%ebp), %ecx
1:      testl   %ecx, %ecx
        jz      2f
        pushl   -4(%esi,%ecx,4)
        decl    %ecx
        jmp     1b
2:      call    *8(%ebp)
        movl    %esp, %ecx
        subl    %ebx, %ecx
        movl    20(%ebp), %edx
        movl    %ecx, (%edx)
        leal    -12(%ebp), %esp
        popl    %edi
        popl    %esi
        popl    %ebx
        popl    %ebp
        ret
