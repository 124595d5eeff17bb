// The real Qt dialogs, driven the way a user would: find the open modal dialog and press keys
// or buttons in it.
#include "platform/toolkit/Dialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
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
