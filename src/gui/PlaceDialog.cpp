#include "gui/PlaceDialog.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace kv::gui {
namespace {

QSize PrimaryScreenSize() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->geometry().size() : QSize(0, 0);
}

}  // namespace

QPoint PlacedPosition(QSize window, QSize screen) {
  // Integer halves, truncated, as the window sizes are whole pixels.
  return QPoint(screen.width() / 2 - window.width() / 2,
                screen.height() / 2 - window.height() / 2 - 5);
}

QSize OuterSize(const QWidget* window) {
  const QSize outer = window->frameGeometry().size();
  return outer.isValid() && outer.width() >= window->width() ? outer : window->size();
}

void PlaceDialog(QWidget* window) {
  window->move(PlacedPosition(OuterSize(window), PrimaryScreenSize()));
  QCoreApplication::processEvents();
}

void CentreOnScreen(QWidget* window) {
  const QSize screen = PrimaryScreenSize();
  const QSize outer = OuterSize(window);
  window->move((screen.width() - outer.width()) / 2, (screen.height() - outer.height()) / 2);
}

}  // namespace kv::gui
