/*
 * Grants the active local session access to keyboards and to uinput, so that
 * Tarnell can read keys and type them without running as root.
 *
 * Run as root through pkexec. Takes no arguments and reads nothing from its
 * environment: it writes two fixed files, loads uinput and asks udev to apply
 * the new rule to the devices that are already there.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

/* After 60-input-id (which marks keyboards) and before 73-seat-late (which turns
 * the uaccess tag into an ACL for the user of the active seat session). */
static const char kRulePath[] = "/etc/udev/rules.d/70-tarnell-input-access.rules";
static const char kRule[] =
    "# Written by Tarnell's access helper: the user of the active local session may\n"
    "# read keyboards and create virtual input devices.\n"
    "KERNEL==\"uinput\", SUBSYSTEM==\"misc\", TAG+=\"uaccess\", OPTIONS+=\"static_node=uinput\"\n"
    "SUBSYSTEM==\"input\", KERNEL==\"event*\", ENV{ID_INPUT_KEYBOARD}==\"1\", TAG+=\"uaccess\"\n";

static const char kModulesPath[] = "/etc/modules-load.d/tarnell-uinput.conf";
static const char kModules[] = "# Written by Tarnell's access helper.\nuinput\n";

static int make_directory(const char* path) {
    if (mkdir(path, 0755) == 0 || errno == EEXIST) {
        return 0;
    }
    fprintf(stderr, "tarnell-access-helper: cannot make %s: %s\n", path, strerror(errno));
    return -1;
}

/* Writes the file through a temporary file in the same directory and renames it
 * over the old one, so that a reader sees either the old or the new content. */
static int write_atomically(const char* path, const char* content) {
    char temporary[256];
    snprintf(temporary, sizeof temporary, "%s.XXXXXX", path);
    const int fd = mkostemp(temporary, O_CLOEXEC);
    if (fd < 0) {
        fprintf(stderr, "tarnell-access-helper: cannot write %s: %s\n", path, strerror(errno));
        return -1;
    }
    const size_t length = strlen(content);
    const int ok =
        fchmod(fd, 0644) == 0 && write(fd, content, length) == (ssize_t)length && fsync(fd) == 0;
    if (close(fd) != 0 || !ok || rename(temporary, path) != 0) {
        fprintf(stderr, "tarnell-access-helper: cannot write %s: %s\n", path, strerror(errno));
        unlink(temporary);
        return -1;
    }
    return 0;
}

/* The first of the candidate paths that is an executable file. */
static const char* find_tool(const char* const candidates[]) {
    for (int i = 0; candidates[i] != NULL; ++i) {
        if (access(candidates[i], X_OK) == 0) {
            return candidates[i];
        }
    }
    return NULL;
}

/* Runs a tool with a fixed, minimal environment and waits for it. */
static int run(const char* const candidates[], char* const arguments[]) {
    const char* tool = find_tool(candidates);
    if (tool == NULL) {
        fprintf(stderr, "tarnell-access-helper: %s not found\n", arguments[0]);
        return -1;
    }
    static char* const environment[] = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", NULL};
    pid_t child;
    if (posix_spawn(&child, tool, NULL, NULL, arguments, environment) != 0) {
        return -1;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : -1;
}

int main(int argc, char** argv) {
    (void)argv;
    if (argc != 1) {
        fprintf(stderr, "tarnell-access-helper: takes no arguments\n");
        return 2;
    }
    if (geteuid() != 0) {
        fprintf(stderr, "tarnell-access-helper: must run as root (through pkexec)\n");
        return 1;
    }
    umask(022);

    if (make_directory("/etc/udev") != 0 || make_directory("/etc/udev/rules.d") != 0 ||
        make_directory("/etc/modules-load.d") != 0 || write_atomically(kRulePath, kRule) != 0 ||
        write_atomically(kModulesPath, kModules) != 0) {
        return 1;
    }

    static const char* const modprobe[] = {"/usr/sbin/modprobe", "/sbin/modprobe", NULL};
    static const char* const udevadm[] = {"/usr/bin/udevadm", "/bin/udevadm", "/usr/sbin/udevadm",
                                          "/sbin/udevadm", NULL};
    static char* const load[] = {"modprobe", "uinput", NULL};
    static char* const reload[] = {"udevadm", "control", "--reload", NULL};
    static char* const trigger[] = {"udevadm",
                                    "trigger",
                                    "--action=change",
                                    "--subsystem-match=input",
                                    "--subsystem-match=misc",
                                    NULL};
    static char* const settle[] = {"udevadm", "settle", "--timeout=10", NULL};

    /* uinput may be built in, in which case modprobe has nothing to do. */
    run(modprobe, load);
    int failed = run(udevadm, reload) != 0;
    failed |= run(udevadm, trigger) != 0;
    failed |= run(udevadm, settle) != 0;
    return failed ? 1 : 0;
}
