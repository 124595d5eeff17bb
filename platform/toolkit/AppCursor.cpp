#include "platform/toolkit/AppCursor.h"

#include <QApplication>
#include <QCursor>

namespace velmar {

namespace {
AppCursor current = AppCursor::Default;
}

void setAppCursor(AppCursor cursor) {
    if (cursor == current)
        return;
    // At most one override cursor is kept on Qt's stack, so "default" always means default.
    if (current != AppCursor::Default)
        QApplication::restoreOverrideCursor();
    current = cursor;
    if (cursor == AppCursor::HourGlass)
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    else if (cursor == AppCursor::Help)
        QApplication::setOverrideCursor(QCursor(Qt::WhatsThisCursor));
}

AppCursor appCursor() {
    return current;
}

} // namespace velmar
