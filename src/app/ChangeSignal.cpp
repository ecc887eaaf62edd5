#include "app/ChangeSignal.h"

#include <QMetaObject>

namespace tarnell::app {

ChangeSignal::ChangeSignal(ChangeNotifier& notifier, QObject* parent)
    : QObject(parent), subscription_(notifier.subscribe([this] {
          if (pending_) {
              return;
          }
          pending_ = true;
          QMetaObject::invokeMethod(
              this,
              [this] {
                  pending_ = false;
                  emit changed();
              },
              Qt::QueuedConnection);
      })) {}

} // namespace tarnell::app
