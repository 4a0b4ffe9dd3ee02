/* Can this machine run 32-bit x86 code inside a 64-bit process? Wine's WoW64 mode, which runs the
 * 32-bit kit, needs exactly that: a far return to the 32-bit user code segment (selector 0x23)
 * with a stack below 4 GiB, and back. Some kernels (and hypervisors) leave that segment out: the
 * far return then faults, and this probe dies of SIGSEGV instead of printing "yes".
 * Built and run by scripts/wow64.sh; x86-64 Linux only. */
#define _GNU_SOURCE
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>

static uint64_t saved_rsp; /* below 4 GiB: the probe is linked without PIE */

int main(void) {
    unsigned char *m = mmap(NULL, 16384, PROT_READ | PROT_WRITE | PROT_EXEC,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (m == MAP_FAILED || (uintptr_t)&saved_rsp > 0xffffffffu) return 2;
    unsigned char *code32 = m, *back64 = m + 256;
    uint32_t target = (uint32_t)(uintptr_t)back64, slot = (uint32_t)(uintptr_t)&saved_rsp;
    /* 32-bit: push 0x33 (the 64-bit code segment); push back64; lret */
    unsigned char c32[] = {0x6a, 0x33, 0x68, 0, 0, 0, 0, 0xcb};
    memcpy(c32 + 3, &target, 4);
    memcpy(code32, c32, sizeof c32);
    /* 64-bit: mov rsp, [saved_rsp]; ret */
    unsigned char c64[] = {0x48, 0x8b, 0x24, 0x25, 0, 0, 0, 0, 0xc3};
    memcpy(c64 + 4, &slot, 4);
    memcpy(back64, c64, sizeof c64);
    uint64_t stack32 = (uint64_t)(uintptr_t)(m + 16384 - 64);
    __asm__ volatile("lea 1f(%%rip), %%rax\n\t"
                     "push %%rax\n\t"
                     "mov %%rsp, %0\n\t"
                     "mov %1, %%rsp\n\t"
                     "pushq $0x23\n\t"
                     "pushq %2\n\t"
                     "lretq\n"
                     "1:\n\t"
                     : "=m"(saved_rsp)
                     : "r"(stack32), "r"((uint64_t)(uintptr_t)code32)
                     : "rax", "memory");
    puts("yes");
    return 0;
}
