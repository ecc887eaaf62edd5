#include "app/RunUntilTerminated.h"

#include "app/TerminationSignals.h"

#include <QCoreApplication>
#include <QTimer>

namespace tarnell::app {

int runUntilTerminated(QCoreApplication& application, const std::function<void()>& start,
                       const std::function<void()>& stop) {
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::received, &application,
                     &QCoreApplication::quit);
    QTimer::singleShot(0, &application, start);
    QCoreApplication::exec();
    stop();
    return 0;
}

} // namespace tarnell::app
