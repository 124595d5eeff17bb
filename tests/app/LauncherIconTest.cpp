// How the desktop shows the program: the window's icon (the installed one beside the program,
// else the icon theme's, else the painted picture) and the installed desktop entry and AppStream
// metainfo naming the same program, window and icon.
#include "app/LauncherIcon.h"
#include "platform/toolkit/Application.h"
#include "tests/support/TempConfig.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMap>
#include <QPixmap>
#include <QRegularExpression>

#include <filesystem>

using namespace velmar;
using namespace velmar::test;

namespace {

const QString Id = QString::fromLatin1(DesktopEntryName);

QString buildIcon(int size) {
    return QStringLiteral(VELMAR_BIN_DIR "/../share/icons/hicolor/%1x%1/apps/%2.png")
        .arg(size)
        .arg(Id);
}

bool near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) < 24 && std::abs(a.green() - b.green()) < 24 &&
           std::abs(a.blue() - b.blue()) < 24;
}

// The keys of the [Desktop Entry] group.
QMap<QString, QString> desktopEntry(const QString& file) {
    QFile f(file);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << file.toStdString();
    QMap<QString, QString> keys;
    for (const QString& line : QString::fromUtf8(f.readAll()).split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0 && !line.startsWith('#'))
            keys.insert(line.left(eq), line.mid(eq + 1));
    }
    return keys;
}

class ThemeSearchPaths : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = QIcon::themeSearchPaths();
        QIcon::setThemeSearchPaths({QString::fromStdString(themes.path())});
    }
    void TearDown() override { QIcon::setThemeSearchPaths(saved_); }
    TempDir themes;
    TempDir elsewhere; // a program folder with nothing beside it

private:
    QStringList saved_;
};

} // namespace

TEST(LauncherIcon, IsTheInstalledIconBesideTheProgramAtTheSizesOfAWindowIcon) {
    const QIcon icon = LauncherIcon(QStringLiteral(VELMAR_BIN_DIR));
    // Menus and software centres take the large sizes from the icon theme, not from the window.
    EXPECT_EQ(icon.availableSizes(), (QList<QSize>{QSize(16, 16), QSize(22, 22), QSize(24, 24),
                                                   QSize(32, 32), QSize(48, 48), QSize(64, 64)}));
    const auto argb = [](const QPixmap& p) {
        return p.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    };
    for (int size : {16, 48, 64}) {
        const QImage file(buildIcon(size));
        ASSERT_FALSE(file.isNull()) << size;
        EXPECT_EQ(argb(icon.pixmap(QSize(size, size))),
                  file.convertToFormat(QImage::Format_ARGB32_Premultiplied))
            << size;
    }
    // Between sizes the next larger picture is scaled down; above them the largest one up.
    EXPECT_EQ(icon.pixmap(QSize(40, 40)).size(), QSize(40, 40));
    EXPECT_TRUE(near(argb(icon.pixmap(QSize(40, 40))).pixelColor(20, 30),
                     QImage(buildIcon(48)).pixelColor(24, 36)));
    EXPECT_EQ(icon.pixmap(QSize(96, 96)).size(), QSize(96, 96));
    // A disabled window shows its icon greyed, not missing.
    const QImage disabled = argb(icon.pixmap(QSize(32, 32), QIcon::Disabled));
    ASSERT_EQ(disabled.size(), QSize(32, 32));
    EXPECT_NE(disabled, argb(icon.pixmap(QSize(32, 32))));
}

TEST(LauncherIcon, InstalledPictureLooksLikeThePaintedOne) {
    // The installed icon is the painted 50 x 45 picture with more sky above and more sea below:
    // the same colours at the same places (sky, sun, both sails, hull, sea).
    const QImage painted = PaintedLauncherIcon().pixmap(QSize(50, 45)).toImage();
    const QImage installed(buildIcon(256));
    ASSERT_EQ(painted.size(), QSize(50, 45));
    ASSERT_EQ(installed.size(), QSize(256, 256));
    const double scale = 256.0 / 50.0;
    for (QPoint at : {QPoint(5, 5), QPoint(38, 10), QPoint(20, 25), QPoint(30, 27), QPoint(24, 33),
                      QPoint(25, 43)}) {
        const QPoint there(int((at.x() + 0.5) * scale), int((at.y() + 2.5 + 0.5) * scale));
        EXPECT_TRUE(near(painted.pixelColor(at), installed.pixelColor(there)))
            << at.x() << "," << at.y() << ": painted "
            << painted.pixelColor(at).name().toStdString() << ", installed "
            << installed.pixelColor(there).name().toStdString();
    }
}

TEST_F(ThemeSearchPaths, WithNoIconsBesideTheProgramTheThemesAreSearchedThenThePictureIsPainted) {
    const QString program = QString::fromStdString(elsewhere.path()) + "/bin";
    EXPECT_EQ(LauncherIcon(program).availableSizes(), QList<QSize>{QSize(50, 45)});

    const QDir hicolor(QString::fromStdString(themes.path()) + "/hicolor");
    ASSERT_TRUE(QDir().mkpath(hicolor.filePath("32x32/apps")));
    QFile index(hicolor.filePath("index.theme"));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=Hicolor\nDirectories=32x32/apps\n\n"
                "[32x32/apps]\nSize=32\nContext=Applications\nType=Threshold\n");
    index.close();
    ASSERT_TRUE(QFile::copy(buildIcon(32), hicolor.filePath("32x32/apps/" + Id + ".png")));
    QIcon::setThemeSearchPaths(QIcon::themeSearchPaths()); // forget what was looked up before

    const QIcon icon = LauncherIcon(program);
    EXPECT_EQ(icon.availableSizes(), QList<QSize>{QSize(32, 32)});
    EXPECT_EQ(
        icon.pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
        QImage(buildIcon(32)).convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

TEST(DesktopEntry, NamesTheProgramItsWindowAndItsIcon) {
    const QString file = QStringLiteral(VELMAR_SOURCE_DIR "/packaging/") + Id + ".desktop";
    const QMap<QString, QString> entry = desktopEntry(file);
    // Wayland matches the window by the desktop file name, X11 by StartupWMClass against the
    // window class, which Qt takes from the application name.
    EXPECT_EQ(QGuiApplication::desktopFileName(), Id);
    EXPECT_EQ(entry.value("StartupWMClass"), QGuiApplication::applicationName());
    EXPECT_EQ(entry.value("Icon"), Id);
    EXPECT_EQ(entry.value("Exec"), "velmar-launcher");

    QFile metainfo(QStringLiteral(VELMAR_SOURCE_DIR "/packaging/") + Id + ".metainfo.xml");
    ASSERT_TRUE(metainfo.open(QIODevice::ReadOnly));
    const QString xml = QString::fromUtf8(metainfo.readAll());
    EXPECT_TRUE(xml.contains("<id>" + Id + "</id>"));
    EXPECT_TRUE(xml.contains("<launchable type=\"desktop-id\">" + Id + ".desktop</launchable>"));
}
