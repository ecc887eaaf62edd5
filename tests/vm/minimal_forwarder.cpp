// The least a keyboard remapper can do: grab one keyboard and copy every event it
// sends to a uinput keyboard of its own. The yardstick for the forwarding latency.
// Usage: vm-minimal-forwarder <event node> <name of the output device>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t stopRequested = 0;
void requestStop(int) {
    stopRequested = 1;
}
} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <event node> <output name>\n", argv[0]);
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    const int input = open(argv[1], O_RDONLY | O_CLOEXEC);
    libevdev* source = nullptr;
    if (input < 0 || libevdev_new_from_fd(input, &source) != 0) {
        std::fprintf(stderr, "cannot open %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    libevdev_set_name(source, argv[2]);
    libevdev_uinput* output = nullptr;
    if (libevdev_uinput_create_from_device(source, LIBEVDEV_UINPUT_OPEN_MANAGED, &output) != 0 ||
        ioctl(input, EVIOCGRAB, 1) != 0) {
        std::fprintf(stderr, "cannot set up forwarding: %s\n", std::strerror(errno));
        return 1;
    }
    const int outputFd = libevdev_uinput_get_fd(output);
    input_event events[64];
    while (stopRequested == 0) {
        pollfd waiting{input, POLLIN, 0};
        if (poll(&waiting, 1, -1) <= 0) {
            continue;
        }
        const ssize_t got = read(input, events, sizeof(events));
        if (got <= 0) {
            if (got < 0 && errno == EINTR) {
                continue;
            }
            break;
        }
        if (write(outputFd, events, static_cast<size_t>(got)) != got) {
            break;
        }
    }
    ioctl(input, EVIOCGRAB, 0);
    libevdev_uinput_destroy(output);
    libevdev_free(source);
    close(input);
    return 0;
}
