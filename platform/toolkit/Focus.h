#pragma once
// Keyboard and screen-reader rules that every window of the program follows:
// - a control is a tab stop or takes the focus by click only (setTabStop);
// - a field is named by its label (labelField), so a screen reader reads the label's text;
// - a control that lies wholly under a visible sibling in front of it takes no focus at all, so
//   Tab never stops on something unseen (keepCoveredControlsUnfocused).
#include <QWidget>

class QLabel;

namespace velmar {

// Tab stop (Qt::StrongFocus) or focus by click only (Qt::ClickFocus). A control that is covered
// at the moment takes the new policy once it is uncovered.
void setTabStop(QWidget* control, bool tabStop);

// Makes `label` the buddy of `field`: its text is the field's accessible name.
void labelField(QLabel* label, QWidget* field);

// Watches the direct children of `window` from now on: a child whose rectangle a later
// (front) sibling that is not hidden covers wholly gives up the focus policies of itself and
// all its descendants until it is uncovered again.
void keepCoveredControlsUnfocused(QWidget* window);

// Enables or disables a push button. A button that has its window's focus and is disabled
// hands the focus to the nearest control before it in the tab order that is not a push button
// (or to none), never to the next push button as Qt would: Enter, which presses a focused push
// button, then goes to the window's default button again, not to whatever button came next.
void setButtonEnabled(QWidget* button, bool enabled);

// True while `control` (or a group it lies in) is covered in that sense.
bool isCoveredControl(const QWidget* control);

} // namespace velmar
