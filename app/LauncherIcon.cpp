#include "app/LauncherIcon.h"

#include "platform/toolkit/Application.h"

#include <QApplication>
#include <QFileInfo>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QImageReader>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

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

// A window's icon is shown small: in its title bar, the task bar and the window switcher. The
// larger installed sizes are for menus and software centres, which take them from the icon theme.
// Handing the window system 128 and 256 pixels as well would only cost start-up time and memory.
constexpr int WindowIconSizes[] = {16, 22, 24, 32, 48, 64};

// Installed square PNGs, each read only when a window system first asks for a picture near its
// size (the offscreen one never does), and read as PNG alone: adding a file to a plain QIcon
// probes every image plugin for its format and so loads the JPEG, GIF and ICO readers.
class InstalledIconEngine final : public QIconEngine {
public:
    explicit InstalledIconEngine(std::vector<std::pair<int, QString>> files)
        : files_(std::move(files)) {}

    QIconEngine* clone() const override { return new InstalledIconEngine(*this); }
    QString key() const override { return QStringLiteral("VelmarInstalledIcon"); }
    bool isNull() override { return files_.empty(); }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        QList<QSize> sizes;
        for (const auto& file : files_)
            sizes.append(QSize(file.first, file.first));
        return sizes;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::min(size.width(), size.height());
        return QSize(side, side);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        const int side = std::min(size.width(), size.height());
        if (files_.empty() || side <= 0)
            return {};
        // The smallest picture at least as large as asked for, else the largest (the files are
        // in ascending size).
        std::size_t pick = 0;
        while (pick + 1 < files_.size() && files_[pick].first < side)
            ++pick;
        QImage& image = read_[pick];
        if (image.isNull()) {
            QImageReader reader(files_[pick].second, "png");
            reader.setAutoDetectImageFormat(false);
            image = reader.read();
            if (image.isNull())
                return {};
        }
        QPixmap picture =
            QPixmap::fromImage(image.width() == side ? image
                                                     : image.scaled(side, side, Qt::KeepAspectRatio,
                                                                    Qt::SmoothTransformation));
        if (mode == QIcon::Disabled || mode == QIcon::Selected) {
            QStyleOption option;
            option.palette = QGuiApplication::palette();
            picture = QApplication::style()->generatedIconPixmap(mode, picture, &option);
        }
        return picture;
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
        QPixmap picture = pixmap(rect.size() * ratio, mode, state);
        picture.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, picture);
    }

private:
    std::vector<std::pair<int, QString>> files_; // size in pixels, file
    std::map<std::size_t, QImage> read_;         // the pictures read so far, by index
};

// The hicolor PNGs of the icon under an icons folder (share/icons); PNG only, since Qt reads SVG
// only with its SVG plugin, which need not be installed.
QIcon HicolorIcon(const QString& iconsDir, const QString& name) {
    std::vector<std::pair<int, QString>> files;
    for (int size : WindowIconSizes) {
        QString file =
            QStringLiteral("%1/hicolor/%2x%2/apps/%3.png").arg(iconsDir).arg(size).arg(name);
        if (QFileInfo(file).isFile())
            files.emplace_back(size, std::move(file));
    }
    if (files.empty())
        return {};
    return QIcon(new InstalledIconEngine(std::move(files)));
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
