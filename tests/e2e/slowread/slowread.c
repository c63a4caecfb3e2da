/* slowread.so: makes a program's reads of some files as slow as a CD drive or a network share,
 * for the end-to-end tests of the copy run. Loaded with LD_PRELOAD into the Wine process of
 * SETUP.EXE (Wine reads files through the C library's read and pread):
 *
 *   SETUP_SLOW_FILES  the names of the slow files, without folder, separated by '/', compared
 *                     without regard to case (say LICENSE.TX_/README.TXT)
 *   SETUP_SLOW_RATE   bytes a second (default 320000)
 *   SETUP_SLOW_WHILE  a file: reads are slowed only while it exists, so that a test can let the
 *                     rest of a run go at full speed once it has seen what it waits for
 *
 * A read of such a file returns only after as long as the bytes it read would take at that rate. Other
 * files, and every other call, are left alone. Built for the Wine loader's architecture by the
 * end-to-end build (tests/e2e/CMakeLists.txt). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

static int slow_file(int fd) {
    const char *names = getenv("SETUP_SLOW_FILES");
    char link[64], path[4096];
    if (!names || !*names) return 0;
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) return 0;
    path[n] = 0;
    const char *base = strrchr(path, '/');
    base = base ? base + 1 : path;
    size_t len = strlen(base);
    for (const char *p = names; *p;) {
        const char *end = strchr(p, '/');
        size_t l = end ? (size_t)(end - p) : strlen(p);
        if (l == len && strncasecmp(p, base, len) == 0) return 1;
        if (!end) break;
        p = end + 1;
    }
    return 0;
}

static void wait_for(size_t bytes) {
    const char *rate_text = getenv("SETUP_SLOW_RATE");
    double rate = rate_text ? atof(rate_text) : 320000.0;
    if (rate <= 0) return;
    double seconds = (double)bytes / rate;
    struct timespec t = {(time_t)seconds, (long)((seconds - (double)(time_t)seconds) * 1e9)};
    while (nanosleep(&t, &t) != 0) {
    }
}

static int slowing(void) {
    const char *flag = getenv("SETUP_SLOW_WHILE");
    return !flag || !*flag || access(flag, F_OK) == 0;
}

/* What a read of `fd` returned, once the time its bytes take at the rate has passed. */
static ssize_t slowed(int fd, ssize_t got) {
    if (got > 0 && slow_file(fd) && slowing()) wait_for((size_t)got);
    return got;
}

typedef ssize_t (*read_fn)(int, void *, size_t);
typedef ssize_t (*pread_fn)(int, void *, size_t, off_t);
typedef ssize_t (*pread64_fn)(int, void *, size_t, off64_t);

ssize_t read(int fd, void *buf, size_t count) {
    static read_fn real;
    if (!real) real = (read_fn)dlsym(RTLD_NEXT, "read");
    return slowed(fd, real(fd, buf, count));
}

ssize_t pread(int fd, void *buf, size_t count, off_t offset) {
    static pread_fn real;
    if (!real) real = (pread_fn)dlsym(RTLD_NEXT, "pread");
    return slowed(fd, real(fd, buf, count, offset));
}

ssize_t pread64(int fd, void *buf, size_t count, off64_t offset) {
    static pread64_fn real;
    if (!real) real = (pread64_fn)dlsym(RTLD_NEXT, "pread64");
    return slowed(fd, real(fd, buf, count, offset));
}
