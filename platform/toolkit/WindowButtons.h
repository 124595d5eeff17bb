#pragma once
// The buttons a window manager offers in a window's title bar.
class QWidget;

namespace velmar {

// A title bar with the caption and no buttons at all: no close, minimise, maximise or window
// menu. Qt alone can not ask for that on X11 (a window that names none of its buttons is
// offered all of them), so the window's Motif hints are set here: moving is its only function.
// Call after the window's flags are final; it creates the native window. Elsewhere than on X11
// the window's own flags decide.
void offerNoTitleBarButtons(QWidget* window);

} // namespace velmar
