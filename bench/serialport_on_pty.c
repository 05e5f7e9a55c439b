/* The serial-port library finds a line's details in sysfs and insists on
 * modem lines, so it refuses a pseudo-terminal. While the benchmark opens one
 * through it (nxtka_bench_opening set), a pseudo-terminal answers as the
 * virtual console does and reports no modem lines. Reads are not touched. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

_Thread_local int nxtka_bench_opening = 0;

static const char kPts[] = "/sys/class/tty/pts/";
static const char kConsole[] = "/sys/class/tty/tty";

static const char* redirect(const char* path) {
    return nxtka_bench_opening && strncmp(path, kPts, sizeof kPts - 1) == 0 ? kConsole : path;
}

int __lxstat(int ver, const char* path, struct stat* st) {
    static int (*real)(int, const char*, struct stat*);
    if (!real) real = (int (*)(int, const char*, struct stat*))dlsym(RTLD_NEXT, "__lxstat");
    return real(ver, redirect(path), st);
}

ssize_t readlink(const char* path, char* buf, size_t size) {
    static ssize_t (*real)(const char*, char*, size_t);
    if (!real) real = (ssize_t(*)(const char*, char*, size_t))dlsym(RTLD_NEXT, "readlink");
    return real(redirect(path), buf, size);
}

int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    static int (*real)(int, unsigned long, ...);
    if (!real) real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    const int rc = real(fd, request, arg);
    if (rc != 0 && errno == ENOTTY && nxtka_bench_opening) {
        if (request == TIOCMGET) *(int*)arg = 0;
        if (request == TIOCMGET || request == TIOCMBIS || request == TIOCMBIC || request == TIOCMSET) return 0;
    }
    return rc;
}
