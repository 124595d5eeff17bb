// The real Qt dialogs, driven the way a user would: find the open modal dialog and press keys
// or buttons in it.
#include "platform/toolkit/Dialogs.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QTemporaryDir>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

using namespace velmar;

namespace {

// Runs `act` on the modal dialog as soon as it is open.
void whenModalOpens(std::function<void(QWidget*)> act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            act(modal);
        }
    });
    poll->start(5);
}

void pressKey(QWidget* w, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w->focusWidget() ? w->focusWidget() : w, &press);
}

} // namespace

TEST(RealDialogs, MessageBoxHasTheApplicationTitleNoIconAndOneOk) {
    QtDialogs d;
    QString title, text;
    int buttons = 0;
    QMessageBox::Icon icon = QMessageBox::Warning;
    whenModalOpens([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = static_cast<int>(box->buttons().size());
        pressKey(box, Qt::Key_Escape); // Esc is the OK button too
    });
    d.messageBox("Web-Server antwortet nicht!");
    EXPECT_EQ(title, QString("VelmarLauncher"));
    EXPECT_EQ(text, QString("Web-Server antwortet nicht!"));
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_EQ(buttons, 1);
}

TEST(RealDialogs, AWordWiderThanTheBoxBreaksInsideInsteadOfBeingCutOff) {
    const QString word = QString(400, QChar('W')) + "END";
    QRect box, text;
    whenModalOpens([&](QWidget* w) {
        const auto* label = w->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        box = label->rect();
        text = label->fontMetrics().boundingRect(box, Qt::TextWordWrap, label->text());
        EXPECT_EQ(label->text().remove(QChar(0x200B)), word); // nothing lost, no visible addition
        pressKey(w, Qt::Key_Return);
    });
    QtDialogs().messageBox(word.toStdString());
    EXPECT_LE(text.width(), box.width()); // all of it is seen, within half the screen
    EXPECT_LE(box.width(), QGuiApplication::primaryScreen()->availableGeometry().width() / 2);
}

TEST(RealDialogs, ConfirmationOkByEnterCancelByEsc) {
    QtDialogs d;
    QString title;
    whenModalOpens([&](QWidget* w) {
        title = w->windowTitle();
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->icon(), QMessageBox::Question);
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Ok));
        pressKey(box, Qt::Key_Escape);
    });
    EXPECT_FALSE(d.confirm("Löschen dieses Eintrags - sicher?"));
    EXPECT_EQ(title, QString("Confirm"));

    whenModalOpens(
        [&](QWidget* w) { qobject_cast<QMessageBox*>(w)->button(QMessageBox::Ok)->click(); });
    EXPECT_TRUE(d.confirm("Löschen dieses Eintrags - sicher?"));

    whenModalOpens([&](QWidget* w) { w->close(); }); // the title bar's close button
    EXPECT_FALSE(d.confirm("Löschen dieses Eintrags - sicher?"));
}

TEST(RealDialogs, NamePromptReturnsTheTextAsTypedUpTo255Characters) {
    QtDialogs d;
    whenModalOpens([&](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), QString("/games/Velmar 2"));
        auto* edit = w->findChild<QLineEdit*>("edit");
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->maxLength(), 255);
        edit->setText(QString("  Zweite Kopie ") + QString(300, 'x'));
        pressKey(w, Qt::Key_Return);
    });
    std::string value;
    ASSERT_TRUE(d.inputQuery("/games/Velmar 2", "Bitte eine Bezeichnung eingeben:", value));
    EXPECT_EQ(value.size(), 255u);
    EXPECT_EQ(value.substr(0, 15), "  Zweite Kopie ");

    whenModalOpens([&](QWidget* w) { pressKey(w, Qt::Key_Return); });
    value.clear();
    EXPECT_TRUE(d.inputQuery("t", "p", value)); // an empty text is accepted too
    EXPECT_EQ(value, "");

    whenModalOpens([&](QWidget* w) { pressKey(w, Qt::Key_Escape); });
    EXPECT_FALSE(d.inputQuery("t", "p", value));
}

TEST(RealDialogs, FolderBrowserReturnsTheChosenFolderOrNothing) {
    QtDialogs d;
    const QString folder = QDir::tempPath();
    whenModalOpens([&](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
        dialog->setDirectory(folder);
        dialog->selectFile(folder);
        static_cast<QDialog*>(dialog)->accept(); // as the Choose button does
    });
    EXPECT_EQ(QString::fromStdString(
                  d.browseFolder("Bitte eine weitere Velmar Tides Installation auswählen:")),
              folder);
    whenModalOpens([&](QWidget* w) { qobject_cast<QFileDialog*>(w)->reject(); });
    EXPECT_EQ(d.browseFolder("x"), "");
}

TEST(RealDialogs, FolderBrowserStartsAtTheDesktopWithNothingChosen) {
    // A home of our own, and a current directory elsewhere (as after a failed game start, when
    // it is an installation folder).
    QTemporaryDir home, elsewhere;
    ASSERT_TRUE(home.isValid() && elsewhere.isValid());
    const QByteArray savedHome = qgetenv("HOME"), savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/.config"));
    const QString savedCwd = QDir::currentPath();
    QDir::setCurrent(elsewhere.path());
    ASSERT_TRUE(QDir(home.path()).mkdir("Spiele"));
    const QString games = QDir(home.path()).absoluteFilePath("Spiele");

    QtDialogs d;
    auto startsAt = [&](const QString& expected) {
        bool checked = false;
        whenModalOpens([&](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(QFileInfo(dialog->directory().absolutePath()), QFileInfo(expected));
            auto* list = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"));
            ASSERT_NE(list, nullptr);
            EXPECT_TRUE(list->selectionModel()->selectedIndexes().isEmpty());
            // Confirming what nobody chose does nothing: the dialog stays open.
            static_cast<QDialog*>(dialog)->accept();
            EXPECT_TRUE(dialog->isVisible());
            EXPECT_EQ(dialog->result(), QDialog::Rejected);
            checked = true;
            dialog->reject();
        });
        EXPECT_EQ(d.browseFolder("Bitte eine weitere Velmar Tides Installation auswählen:"), "");
        EXPECT_TRUE(checked);
    };
    // No desktop folder: the home folder.
    startsAt(home.path());
    EXPECT_EQ(FolderBrowserStart(), QDir::homePath());
    // With a desktop folder: there.
    ASSERT_TRUE(QDir(home.path()).mkdir("Desktop"));
    startsAt(QDir(home.path()).absoluteFilePath("Desktop"));

    // A folder the user picks is confirmed as ever.
    whenModalOpens([&](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        dialog->setDirectory(home.path());
        dialog->selectFile(games);
        static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_EQ(QString::fromStdString(d.browseFolder("x")), games);

    QDir::setCurrent(savedCwd);
    qputenv("HOME", savedHome);
    if (savedConfig.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", savedConfig);
}
