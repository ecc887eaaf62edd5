// A small application for the desktop tests: shows COUNT plain windows whose
// Wayland application ID (or X11 class) is APP_ID, and runs until it is ended.
// The line "minimize" on its input minimises its windows, as a user would. With
// TARNELL_TEST_WINDOW_PIDS set, it leaves its process ID in that folder as
// APP_ID.pid, so that a test can end it when something else started it.
// Usage: tarnell-test-window APP_ID [COUNT]
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <QSocketNotifier>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

class PlainWindow : public QRasterWindow {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(QRect(QPoint(), size()), Qt::darkCyan);
    }
};

} // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() < 2) {
        return 2;
    }
    const QString appId = arguments.at(1);
    const int count = arguments.size() > 2 ? arguments.at(2).toInt() : 1;
    QGuiApplication::setDesktopFileName(appId);
    if (const QString pids = qEnvironmentVariable("TARNELL_TEST_WINDOW_PIDS"); !pids.isEmpty()) {
        QFile file(pids + QLatin1Char('/') + appId + QStringLiteral(".pid"));
        if (file.open(QIODevice::WriteOnly)) {
            file.write(QByteArray::number(QCoreApplication::applicationPid()));
        }
    }
    std::vector<std::unique_ptr<PlainWindow>> windows;
    for (int i = 0; i < count; ++i) {
        auto window = std::make_unique<PlainWindow>();
        window->setTitle(QStringLiteral("%1 %2").arg(appId).arg(i + 1));
        window->resize(320, 200);
        window->show();
        windows.push_back(std::move(window));
    }

    QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&commands, &QSocketNotifier::activated, [&] {
        char line[64];
        const ssize_t length = read(STDIN_FILENO, line, sizeof(line));
        if (length <= 0) {
            commands.setEnabled(false); // no more input
            return;
        }
        if (QByteArray(line, static_cast<int>(length)).trimmed() == "minimize") {
            for (auto& window : windows) {
                window->showMinimized();
            }
        }
    });
    return QGuiApplication::exec();
}
