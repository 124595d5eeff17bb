#pragma once
// The one application-wide mouse cursor.
namespace velmar {

enum class AppCursor { Default, HourGlass, Help };

void setAppCursor(AppCursor cursor);
AppCursor appCursor();

} // namespace velmar
