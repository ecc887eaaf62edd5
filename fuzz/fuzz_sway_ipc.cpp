// What sway sends over its IPC socket, as Tarnell's sway window code reads it: replies
// to its requests (the subscription, window trees) and window events, in sway's
// framing, arriving in pieces of any size, well-formed or not.

#include "platform/linux/workspace/SwayIpc.h"
#include "platform/linux/workspace/SwayWindows.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tarnell::platform;

namespace {

const std::string& socketPath() {
    static const std::string path =
        "/tmp/tarnell-fuzz-sway-" + std::to_string(::getpid()) + ".sock";
    return path;
}

// A socket standing in for sway's, made once.
int listening() {
    static const int fd = [] {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        socketPath().copy(address.sun_path, sizeof(address.sun_path) - 1);
        ::unlink(socketPath().c_str());
        const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::listen(socket, 4) != 0) {
            std::abort();
        }
        std::atexit([] { ::unlink(socketPath().c_str()); });
        return socket;
    }();
    return fd;
}

void runLoop() {
    for (int i = 0; i < 64 && g_main_context_iteration(nullptr, FALSE); ++i) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)listening();
    static const DesktopCatalog catalog = [] {
        DesktopCatalog made;
        made.add("foot.desktop", "");
        made.add("org.gnome.Calculator.desktop", "gnome-calculator");
        return made;
    }();
    static const WindowIdentifier identifier(catalog, {});

    auto windows = SwayWindows::connect(socketPath(), identifier);
    if (!windows) {
        return 0;
    }
    const int sway = ::accept4(listening(), nullptr, nullptr, SOCK_CLOEXEC);
    if (sway < 0) {
        std::abort();
    }
    // Requests whose replies the input answers, beside the subscription and the first
    // tree that connecting asks for.
    windows->raise("foot.desktop");
    windows->hide(std::nullopt);
    windows->hide(std::string("org.gnome.Calculator.desktop"));
    windows->raise("org.gnome.Calculator.desktop");

    FuzzedDataProvider input(data, size);
    while (input.remaining_bytes() > 0) {
        std::string piece;
        switch (input.ConsumeIntegralInRange(0, 3)) {
        case 0: // a reply
            piece = swayIpcMessage(swayMessage::getTree, input.ConsumeRandomLengthString(2048));
            break;
        case 1: // a window event
            piece = swayIpcMessage(swayMessage::windowEvent, input.ConsumeRandomLengthString(512));
            break;
        case 2: // a message of another type
            piece = swayIpcMessage(input.ConsumeIntegral<std::uint32_t>(),
                                   input.ConsumeRandomLengthString(64));
            break;
        default: // bytes that may break the framing
            piece = input.ConsumeRandomLengthString(32);
        }
        // Sent in pieces, so that messages arrive split and joined.
        const std::size_t cut = input.ConsumeIntegralInRange<std::size_t>(0, piece.size());
        for (const std::string_view part :
             {std::string_view(piece).substr(0, cut), std::string_view(piece).substr(cut)}) {
            if (!part.empty() && ::send(sway, part.data(), part.size(), MSG_NOSIGNAL) < 0) {
                break;
            }
            runLoop();
        }
    }
    ::close(sway);
    runLoop();
    windows->reidentify();
    return 0;
}
