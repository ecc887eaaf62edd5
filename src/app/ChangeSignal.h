#pragma once

#include "bindings/ChangeNotifier.h"

#include <QObject>

namespace tarnell::app {

// Turns a core object's change notifications into a Qt signal. The core tells its
// observers before a field is assigned, so the signal is emitted on the next turn
// of the event loop, when the new value is in place; several changes in one turn
// give one signal.
class ChangeSignal : public QObject {
    Q_OBJECT
public:
    explicit ChangeSignal(ChangeNotifier& notifier, QObject* parent = nullptr);

signals:
    void changed();

private:
    ChangeNotifier::Subscription subscription_;
    bool pending_ = false;
};

} // namespace tarnell::app
