#pragma once

class QLayout;
class QSize;
class QWidget;

namespace telvox {

// Puts the window's laid-out content into a scroll area and sizes the window, each time it is
// shown, to what its content asks for but never beyond the screen's available area (less the
// frame the desktop adds). Every button stays reachable on a small screen or at 200 %.
// `buttonRow`, a layout within the window's layout, stays below the scroll area, always in
// view. Call once, after the window's layout is complete.
void fitOnScreen(QWidget &window, QLayout *buttonRow = nullptr);

// The part of the screen a window of `window` may use: the available geometry of its screen,
// less room for the title bar and borders the window manager adds.
QSize usableScreenSize(const QWidget &window);

} // namespace telvox
