// A Wayland (or X11) client for the desktop tests: shows WINDOWS plain windows under
// the application ID APP_ID, and minimises them all on SIGUSR1, as a user would.
// With TARNELL_TEST_WINDOW_PIDS set, it leaves its process ID in that folder as
// APP_ID.pid, so that a test can end it when something else started it.
// Usage: workspace-test-window APP_ID [WINDOWS]

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

std::atomic<bool> minimiseRequested{false};

void onMinimiseSignal(int) {
    minimiseRequested = true;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        return 2;
    }
    // On Wayland the desktop file name is the application ID of every window.
    QGuiApplication::setDesktopFileName(QString::fromLocal8Bit(argv[1]));
    if (const QString pids = qEnvironmentVariable("TARNELL_TEST_WINDOW_PIDS"); !pids.isEmpty()) {
        QFile file(pids + QLatin1Char('/') + QString::fromLocal8Bit(argv[1]) +
                   QStringLiteral(".pid"));
        if (file.open(QIODevice::WriteOnly)) {
            file.write(QByteArray::number(QCoreApplication::applicationPid()));
        }
    }
    const int count = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    std::vector<std::unique_ptr<QWidget>> windows;
    for (int i = 0; i < count; ++i) {
        auto window = std::make_unique<QWidget>();
        window->setWindowTitle(QStringLiteral("%1 %2").arg(QString::fromLocal8Bit(argv[1])).arg(i));
        window->resize(320, 200);
        window->show();
        windows.push_back(std::move(window));
    }
    std::signal(SIGUSR1, &onMinimiseSignal);
    QTimer minimiser;
    QObject::connect(&minimiser, &QTimer::timeout, [&windows] {
        if (minimiseRequested.exchange(false)) {
            for (auto& window : windows) {
                window->showMinimized();
            }
        }
    });
    minimiser.start(10);
    return app.exec();
}
