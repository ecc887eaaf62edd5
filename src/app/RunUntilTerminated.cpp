#include "app/RunUntilTerminated.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace tarnell::app {
namespace {

// The write end of the pipe that turns a signal into an event on the loop.
int signalPipeWriteEnd = -1;

extern "C" void forwardSignal(int number) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = write(signalPipeWriteEnd, &byte, 1);
    errno = savedErrno;
}

// SIGINT and SIGTERM end the event loop, through a pipe, so that the loop itself
// does the stopping. A handler (rather than a blocked mask and signalfd) keeps
// the signals intact for the programs Tarnell launches: handlers are reset on
// exec, a blocked mask would be inherited.
class QuitOnTerminationSignals {
public:
    explicit QuitOnTerminationSignals(QCoreApplication& application) {
        std::array<int, 2> ends{};
        if (pipe2(ends.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
            return;
        }
        readEnd_ = ends[0];
        signalPipeWriteEnd = ends[1];
        notifier_ = std::make_unique<QSocketNotifier>(readEnd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, &application,
                         [this, &application] {
                             unsigned char drained[16];
                             while (read(readEnd_, drained, sizeof(drained)) > 0) {
                             }
                             application.quit();
                         });
        struct sigaction action {};
        action.sa_handler = forwardSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int number : {SIGINT, SIGTERM}) {
            sigaction(number, &action, &previous_[number == SIGINT ? 0 : 1]);
        }
    }

    ~QuitOnTerminationSignals() {
        if (readEnd_ < 0) {
            return;
        }
        sigaction(SIGINT, &previous_[0], nullptr);
        sigaction(SIGTERM, &previous_[1], nullptr);
        notifier_.reset();
        close(signalPipeWriteEnd);
        signalPipeWriteEnd = -1;
        close(readEnd_);
    }

    QuitOnTerminationSignals(const QuitOnTerminationSignals&) = delete;
    QuitOnTerminationSignals& operator=(const QuitOnTerminationSignals&) = delete;

private:
    int readEnd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::array<struct sigaction, 2> previous_{};
};

} // namespace

int runUntilTerminated(QCoreApplication& application, const std::function<void()>& start,
                       const std::function<void()>& stop) {
    QuitOnTerminationSignals quitOnSignals(application);
    QTimer::singleShot(0, &application, start);
    QCoreApplication::exec();
    stop();
    return 0;
}

} // namespace tarnell::app
