// A Wayland (or X11) client for the desktop tests: shows WINDOWS plain windows under
// the application ID APP_ID, and minimises them all on SIGUSR1, as a user would.
// Usage: workspace-test-window APP_ID [WINDOWS]

#include <QApplication>
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
