#include "app/LauncherIcon.h"

#include "platform/toolkit/Application.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace velmar {

QIcon PaintedLauncherIcon() {
    QImage image(50, 45, QImage::Format_RGB888);
    image.fill(QColor(18, 52, 96));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(232, 196, 92));
    p.drawEllipse(QPointF(38, 10), 6, 6);
    p.setBrush(QColor(240, 240, 230));
    p.drawPolygon(QPolygonF({QPointF(24, 4), QPointF(24, 30), QPointF(10, 30)}));
    p.setBrush(QColor(200, 60, 50));
    p.drawPolygon(QPolygonF({QPointF(26, 8), QPointF(26, 30), QPointF(36, 30)}));
    p.setBrush(QColor(110, 70, 40));
    p.drawRect(QRectF(8, 31, 32, 4));
    QPainterPath wave;
    wave.moveTo(0, 37);
    for (int x = 0; x <= 50; x += 10) {
        wave.quadTo(x + 2.5, 33, x + 5, 37);
        wave.quadTo(x + 7.5, 41, x + 10, 37);
    }
    wave.lineTo(50, 45);
    wave.lineTo(0, 45);
    wave.closeSubpath();
    p.setBrush(QColor(40, 120, 180));
    p.drawPath(wave);
    p.end();
    return QIcon(QPixmap::fromImage(image));
}

namespace {

// The hicolor PNGs of the icon under an icons folder (share/icons); PNG only, since Qt reads SVG
// only with its SVG plugin, which need not be installed.
QIcon HicolorIcon(const QString& iconsDir, const QString& name) {
    const QDir hicolor(iconsDir + QStringLiteral("/hicolor"));
    QIcon icon;
    for (const QString& sizeDir : hicolor.entryList({QStringLiteral("*x*")}, QDir::Dirs)) {
        const QString file = hicolor.filePath(sizeDir + QStringLiteral("/apps/") + name + ".png");
        if (QFileInfo(file).isFile())
            icon.addFile(file);
    }
    return icon;
}

} // namespace

QIcon LauncherIcon(const QString& programDir) {
    const QString name = QString::fromLatin1(DesktopEntryName);
    QIcon icon =
        HicolorIcon(programDir + QStringLiteral("/" VELMAR_DATADIR_FROM_BINDIR "/icons"), name);
    if (!icon.availableSizes().isEmpty())
        return icon;
    if (QIcon::hasThemeIcon(name))
        return QIcon::fromTheme(name);
    // Where the platform names no icon theme (no desktop environment), Qt looks into none; every
    // theme falls back to hicolor, so look there.
    for (const QString& dir : QIcon::themeSearchPaths()) {
        icon = HicolorIcon(dir, name);
        if (!icon.availableSizes().isEmpty())
            return icon;
    }
    return PaintedLauncherIcon();
}

} // namespace velmar
