#include "gui-qt/PlaceDialog.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "desktop/DesktopRules.h"

namespace kv::gui {
namespace {

const QScreen* Primary() { return QGuiApplication::primaryScreen(); }

QSize PrimaryScreenSize() {
  const QScreen* screen = Primary();
  return screen ? screen->geometry().size() : QSize(0, 0);
}

QRect PrimaryAvailable() {
  const QScreen* screen = Primary();
  return screen ? screen->availableGeometry() : QRect();
}

// Shrinks a window that is larger than the screen's free area (a large scale on a small
// screen): its layout gives up rows of a list first. Fixed sizes stay fixed.
void FitToScreen(QWidget* window) {
  const QRect available = PrimaryAvailable();
  if (available.isEmpty()) return;
  const QSize frame = OuterSize(window) - window->size();
  const QSize room(available.width() - frame.width(), available.height() - frame.height());
  const bool fixed = window->minimumSize() == window->maximumSize();
  if (window->width() > room.width()) {
    if (fixed) window->setMinimumWidth(std::min(window->minimumWidth(), room.width()));
    window->setMaximumWidth(room.width());
    window->resize(room.width(), window->height());
  }
  if (window->height() > room.height()) {
    if (fixed) window->setMinimumHeight(std::min(window->minimumHeight(), room.height()));
    window->setMaximumHeight(room.height());
    window->resize(window->width(), room.height());
  }
}

void MoveOnScreen(QWidget* window, QPoint wanted) {
  window->move(KeptOnScreen(wanted, OuterSize(window), PrimaryAvailable()));
}

}  // namespace

QPoint PlacedPosition(QSize window, QSize screen) {
  const desktop::ScreenPoint at = desktop::PlacedPosition(window.width(), window.height(), screen.width(), screen.height());
  return QPoint(at.x, at.y);
}

QPoint KeptOnScreen(QPoint wanted, QSize outer, QRect available) {
  const desktop::ScreenPoint at = desktop::KeptOnScreen({wanted.x(), wanted.y()}, outer.width(), outer.height(),
                                              {available.x(), available.y(), available.width(), available.height()});
  return QPoint(at.x, at.y);
}

QSize OuterSize(const QWidget* window) {
  const QSize outer = window->frameGeometry().size();
  return outer.isValid() && outer.width() >= window->width() ? outer : window->size();
}

void PlaceDialog(QWidget* window) {
  FitToScreen(window);
  const QSize guessed = OuterSize(window);
  MoveOnScreen(window, PlacedPosition(guessed, PrimaryScreenSize()));
  QCoreApplication::processEvents();
  // The window system tells the frame only once the window is on the screen; placed by
  // the client size alone, it would sit half a title bar low. Place it again with it.
  if (OuterSize(window) != guessed) {
    FitToScreen(window);
    MoveOnScreen(window, PlacedPosition(OuterSize(window), PrimaryScreenSize()));
  }
}

void CentreOnScreen(QWidget* window) {
  FitToScreen(window);
  const QSize screen = PrimaryScreenSize();
  const QSize outer = OuterSize(window);
  MoveOnScreen(window, QPoint((screen.width() - outer.width()) / 2, (screen.height() - outer.height()) / 2));
}

}  // namespace kv::gui
