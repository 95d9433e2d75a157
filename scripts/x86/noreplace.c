/*
 * Preload library for 32-bit Wine under qemu's user-mode emulator.
 *
 * qemu 7.2 treats MAP_FIXED_NOREPLACE as a mere hint: when the wanted range
 * is taken it maps somewhere else and reports success. Wine copes with such
 * systems (it frees or keeps the stray mapping and searches on), but under
 * qemu that path costs about two minutes per 32-bit process. Answering as
 * the kernel would, EEXIST with nothing mapped, brings a process back to
 * well under a second.
 *
 * Built for i386 this interposes mmap and mmap64. Built for any other
 * target it is empty: the route puts it in LD_PRELOAD through ld.so's $LIB,
 * so 64-bit processes load this empty twin and stay untouched.
 *
 * No system headers: it is built with -nostdlib against the i386 libc.so.6
 * alone, so no 32-bit development package is needed.
 */
#if defined(__i386__)

typedef __SIZE_TYPE__ size_t;
typedef long off_t32;
typedef long long off_t64;

/* Values from the Linux i386 ABI. */
#define KERNO_MAP_FIXED 0x10
#define KERNO_MAP_FIXED_NOREPLACE 0x100000
#define KERNO_EEXIST 17
#define KERNO_MAP_FAILED ((void *)-1)
#define KERNO_RTLD_NEXT ((void *)-1)

extern void *dlsym(void *handle, const char *name);
extern int *__errno_location(void);

typedef void *(*mmap_fn)(void *, size_t, int, int, int, off_t32);
typedef void *(*mmap64_fn)(void *, size_t, int, int, int, off_t64);
typedef int (*munmap_fn)(void *, size_t);

/* Looked up on first use; a race only looks the same symbol up twice. */
static mmap_fn real_mmap;
static mmap64_fn real_mmap64;
static munmap_fn real_munmap;

static int resolve(void)
{
    if (!real_munmap) {
        real_mmap = (mmap_fn)dlsym(KERNO_RTLD_NEXT, "mmap");
        real_mmap64 = (mmap64_fn)dlsym(KERNO_RTLD_NEXT, "mmap64");
        real_munmap = (munmap_fn)dlsym(KERNO_RTLD_NEXT, "munmap");
    }
    return real_mmap && real_mmap64 && real_munmap;
}

/* The one rule: a no-replace mapping that landed elsewhere did not happen. */
static void *settle(void *want, size_t len, int flags, void *got)
{
    if (got == KERNO_MAP_FAILED || got == want) return got;
    if (!(flags & KERNO_MAP_FIXED_NOREPLACE) || (flags & KERNO_MAP_FIXED)) return got;
    real_munmap(got, len);
    *__errno_location() = KERNO_EEXIST;
    return KERNO_MAP_FAILED;
}

__attribute__((visibility("default")))
void *mmap(void *addr, size_t len, int prot, int flags, int fd, off_t32 off)
{
    if (!resolve()) {
        *__errno_location() = 38; /* ENOSYS: no libc underneath, cannot happen */
        return KERNO_MAP_FAILED;
    }
    return settle(addr, len, flags, real_mmap(addr, len, prot, flags, fd, off));
}

__attribute__((visibility("default")))
void *mmap64(void *addr, size_t len, int prot, int flags, int fd, off_t64 off)
{
    if (!resolve()) {
        *__errno_location() = 38;
        return KERNO_MAP_FAILED;
    }
    return settle(addr, len, flags, real_mmap64(addr, len, prot, flags, fd, off));
}

#else

/* The 64-bit twin: ld.so needs an object to load, nothing to do. */
__attribute__((visibility("default"))) int kerno_noreplace_twin;

#endif
