/* no32 COMMAND [ARG...]: runs COMMAND as on an x86-64 host that runs 64-bit code only.

   Some x86-64 hosts refuse every 32-bit program ("Exec format error"); the test command must pass
   there too, and a host that runs 32-bit code can try that path for real under this launcher: a
   seccomp filter, inherited by every child, kills any process at its first 32-bit system call
   (int 0x80, or sysenter from 32-bit code), so a 32-bit program, 32-bit Wine included, fails at
   once instead of running. 64-bit code is untouched. The signal is SIGSYS rather than "Exec format
   error": whatever decides the host's kind must take any failure to run as the answer.

   It checks itself first: a static 32-bit program that exits 0 (the host probe's own) must fail
   under the filter. Where it still runs (no seccomp here), or where the filter cannot be set, it
   says so in one line and exits 77, so a test pass that depends on it is reported as skipped.
   COMMAND runs with SETUP_NO32=1 in its environment. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

enum { CANNOT_SIMULATE = 77 };

/* An i386 ELF program of 93 bytes: one loadable segment, then mov eax,1; xor ebx,ebx; int 0x80
   (exit(0)). The same bytes as scripts/host-probe.sh writes. */
static const unsigned char probe32[] = {
    0x7f, 'E',  'L',  'F',  1,    1,    1,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    2,    0,    3,    0,    1,    0,    0,    0,    0x54, 0x80, 0x04, 0x08, 0x34, 0,    0,    0,
    0,    0,    0,    0,    0,    0,    0,    0,    0x34, 0,    0x20, 0,    1,    0,    0,    0,
    0,    0,    0,    0,    1,    0,    0,    0,    0,    0,    0,    0,    0,    0x80, 0x04, 0x08,
    0,    0x80, 0x04, 0x08, 0x5d, 0,    0,    0,    0x5d, 0,    0,    0,    5,    0,    0,    0,
    0,    0x10, 0,    0,    0xb8, 1,    0,    0,    0,    0x31, 0xdb, 0xcd, 0x80,
};

static int refuse_32bit_calls(void) {
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_I386, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog prog = {sizeof filter / sizeof filter[0], filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return -1;
    return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog);
}

/* Writes the probe beside this program (a temporary folder may be mounted noexec) and runs it
   under the filter in a child. Returns 1 when it failed to run there, 0 when it ran to exit 0,
   and -1 (with `why` set) when the check itself could not be made. */
static int probe_fails_under_filter(const char **why) {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 32);
    if (n <= 0) { *why = "cannot find its own folder"; return -1; }
    path[n] = 0;
    char *slash = strrchr(path, '/');
    snprintf(slash + 1, 32, ".no32-probe.%ld", (long)getpid());
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0755);
    if (fd < 0) { *why = "cannot write its probe"; return -1; }
    int written = write(fd, probe32, sizeof probe32) == (ssize_t)sizeof probe32;
    close(fd);
    if (!written) { unlink(path); *why = "cannot write its probe"; return -1; }

    int result = -1;
    pid_t child = fork();
    if (child == 0) {
        if (refuse_32bit_calls() != 0) _exit(126);
        char *argv[] = {path, NULL};
        execv(path, argv);
        _exit(127); /* not even loaded: as on a host that runs 64-bit code only */
    }
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child) {
        if (WIFEXITED(status) && WEXITSTATUS(status) == 126) *why = "cannot set a seccomp filter here";
        else result = WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
        if (result == 0) *why = "a 32-bit program still runs under its filter";
    } else {
        *why = "cannot start its probe";
    }
    unlink(path);
    return result;
}

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: no32 COMMAND [ARG...]\n");
        return 2;
    }
    const char *why = "";
    if (probe_fails_under_filter(&why) != 1) {
        printf("no32: cannot simulate a host that runs 64-bit code only: %s\n", why);
        return CANNOT_SIMULATE;
    }
    if (refuse_32bit_calls() != 0) {
        printf("no32: cannot simulate a host that runs 64-bit code only: %s\n", strerror(errno));
        return CANNOT_SIMULATE;
    }
    setenv("SETUP_NO32", "1", 1);
    execvp(argv[1], argv + 1);
    fprintf(stderr, "no32: %s: %s\n", argv[1], strerror(errno));
    return 127;
}
