// Acts on the next modal dialog of type W once it shows, from inside the
// dialog's own modal run.
#pragma once

#include <QApplication>
#include <QTimer>
#include <functional>

template <class W>
void WhenModal(std::function<void(W*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    if (auto* w = dynamic_cast<W*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      act(w);
    }
  });
  timer->start();
}
