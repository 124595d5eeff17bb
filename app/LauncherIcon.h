#pragma once
// The program's icon for its windows and the task bar.
#include <QIcon>
#include <QString>

namespace velmar {

// The installed icon, named like the desktop entry (DesktopEntryName): first the hicolor PNGs
// beside the program (`programDir`/../share/icons, so a moved installation and the build folder
// find theirs), then the icon theme's, and when none is found, the picture painted here (50 x 45
// pixels, 24-bit colour).
QIcon LauncherIcon(const QString& programDir);

// The painted picture alone: a sail boat under the sun on the tide.
QIcon PaintedLauncherIcon();

} // namespace velmar
