#pragma once

#include <QObject>

class QSocketNotifier;

namespace tarnell::app {

// Turns SIGTERM, SIGINT and SIGHUP (the session ending) into a Qt signal on the event
// loop, so that they end Tarnell the same orderly way as its Quit command. One at a
// time per process; the handlers are put back to the defaults when it goes.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

signals:
    void received(int signalNumber);

private:
    void drain();

    int pipe_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace tarnell::app
