// The idle pass keeps what it worked out from the controls until a control changes: every kind
// of change must reach the next pass, or an action stays enabled (or disabled) on stale input.
#include "tests/app/WindowFixture.h"

#include "address/DottedQuad.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

using namespace velmar;
using namespace velmar::test;

namespace {
void key(QWidget* target, int code, const QString& text = {}) {
    QKeyEvent event(QEvent::KeyPress, code, Qt::NoModifier, text);
    QApplication::sendEvent(target, &event);
}
} // namespace

class IdlePass : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        installationsKey().writeString("A", "/games/a");
        installationsKey().writeString("B", "/games/b");
        launcherKey().writeInteger(ValGameType, 1);
        launcherKey().writeInteger(ValClientServer, 0);
        launcherKey().writeString(ValLastInstallation, "A");
    }
    // Start and Test Server, as actions and as buttons, say whether the typed text holds a
    // dotted quad.
    void expectAddressRule(TMainForm& w) {
        const std::string text = w.edClientServerAddr->text().toStdString();
        const bool quad = !FindFirstMatch(text, DottedQuadPattern).empty();
        EXPECT_EQ(w.acStart->enabled(), quad) << text;
        EXPECT_EQ(w.btLaunch->isEnabled(), quad) << text;
        EXPECT_EQ(w.acTestSrv->enabled(), quad) << text;
        EXPECT_EQ(w.btTestSrv->isEnabled(), quad) << text;
    }
};

TEST_F(IdlePass, TypedKeysReachTheNextPass) {
    TMainForm& w = open();
    w.show();
    QLineEdit* edit = w.edClientServerAddr;
    edit->setFocus();
    idle();
    expectAddressRule(w);
    EXPECT_FALSE(w.acStart->enabled()); // nothing typed yet

    // Typed one key at a time, each followed by a pass, then taken back with Backspace: the
    // state flips at "10.0.0.5" and back at "10.0.0.".
    const QString typed = QStringLiteral("10.0.0.5");
    for (const QChar c : typed) {
        key(edit, c == '.' ? Qt::Key_Period : Qt::Key_0 + (c.unicode() - '0'), QString(c));
        idle();
        expectAddressRule(w);
    }
    EXPECT_EQ(edit->text(), typed);
    EXPECT_TRUE(w.acStart->enabled());
    for (int i = 0; i < 3; ++i) {
        key(edit, Qt::Key_Backspace);
        idle();
        expectAddressRule(w);
        key(edit, Qt::Key_5, QStringLiteral("5"));
        idle();
        expectAddressRule(w);
    }
    // Several changes between two passes, ending where they began, and passes with no change
    // at all.
    key(edit, Qt::Key_Backspace);
    key(edit, Qt::Key_Backspace);
    key(edit, Qt::Key_0, QStringLiteral("0"));
    idle();
    idle();
    expectAddressRule(w);
    edit->selectAll();
    key(edit, Qt::Key_A, QStringLiteral("a"));
    idle();
    expectAddressRule(w);
    EXPECT_FALSE(w.btLaunch->isEnabled());
    edit->setText(QStringLiteral("a12.34.56.78b")); // set by the program
    idle();
    expectAddressRule(w);
    EXPECT_TRUE(w.btLaunch->isEnabled());
    // Letters beyond ASCII, and a NUL character, after which the search sees nothing.
    const QString nul(QChar(0));
    for (const QString& text :
         {QStringLiteral("Zürich 10.0.0.5"), QStringLiteral("Zürich 10.0.0"),
          QStringLiteral("10.0.0") + nul + QStringLiteral(".5"), QStringLiteral("10.0.0.5") + nul,
          QStringLiteral("\u20AC") + QStringLiteral("1.2.3.4")}) {
        edit->setText(text);
        idle();
        expectAddressRule(w);
    }
    EXPECT_TRUE(w.btLaunch->isEnabled());
    edit->setText(QStringLiteral("10.0.0") + nul + QStringLiteral(".5"));
    idle();
    EXPECT_FALSE(w.btLaunch->isEnabled());
    edit->clear();
    idle();
    expectAddressRule(w);
    EXPECT_FALSE(w.btLaunch->isEnabled());
}

TEST_F(IdlePass, OwnAddressesChangingAloneReachTheNextPass) {
    TMainForm& w = open();
    w.edClientServerAddr->setText(QStringLiteral("192.168.0.10"));
    idle();
    EXPECT_TRUE(w.acTestSrv->enabled());
    // Only the own addresses change; the typed text stays as it is.
    w.edServerLanAddr->setText(QStringLiteral("192.168.0.10"));
    idle();
    EXPECT_FALSE(w.acTestSrv->enabled());
    EXPECT_TRUE(w.acStart->enabled());
    w.edServerLanAddr->clear();
    idle();
    EXPECT_TRUE(w.acTestSrv->enabled());
    w.edServerInetAddr->setText(QStringLiteral("192.168.0.10"));
    idle();
    EXPECT_FALSE(w.acTestSrv->enabled());
    w.edServerInetAddr->setText(QStringLiteral("192.168.0.100"));
    idle();
    EXPECT_TRUE(w.acTestSrv->enabled());
}

TEST_F(IdlePass, SelectionAndItemTextsReachTheNextPass) {
    TMainForm& w = open();
    w.show();
    QComboBox* list = w.cbInstallation;
    ASSERT_EQ(list->currentText(), QStringLiteral("A"));
    w.edClientServerAddr->setText(QStringLiteral("10.0.0.5"));
    idle();
    EXPECT_TRUE(w.btDelete->isEnabled());
    EXPECT_TRUE(w.acStart->enabled());

    // The text of the selected item changes, and changes back.
    list->setItemText(0, QString());
    idle();
    EXPECT_FALSE(w.btDelete->isEnabled());
    list->setItemText(0, QStringLiteral("A"));
    idle();
    EXPECT_TRUE(w.btDelete->isEnabled());

    // An entry with an empty name, added as the user adds one: selected, it cannot be deleted.
    dialogs.folderAnswers = {"/games/none"};
    dialogs.inputAnswers = {{true, ""}};
    w.acEditExecute();
    ASSERT_TRUE(list->currentText().isEmpty());
    idle();
    EXPECT_FALSE(w.btDelete->isEnabled());
    EXPECT_TRUE(w.acStart->enabled());
    // Chosen with the keyboard from the list.
    list->setFocus();
    key(list, Qt::Key_Home);
    ASSERT_EQ(list->currentText(), QStringLiteral("A"));
    idle();
    EXPECT_TRUE(w.btDelete->isEnabled());

    // An item put in front of the selected one moves it; the selection stays what it was.
    list->insertItem(0, QString());
    idle();
    EXPECT_TRUE(w.btDelete->isEnabled());
    // The selected item removed: the list selects the one that took its place.
    list->setCurrentIndex(2);
    ASSERT_EQ(list->currentText(), QStringLiteral("B"));
    idle();
    EXPECT_TRUE(w.btDelete->isEnabled());
    list->removeItem(2);
    ASSERT_EQ(list->currentIndex(), 2);
    ASSERT_TRUE(list->currentText().isEmpty());
    idle();
    EXPECT_FALSE(w.btDelete->isEnabled());

    // No selection, then no items: Start and Test Server need an installation.
    list->setCurrentIndex(1);
    idle();
    EXPECT_TRUE(w.btDelete->isEnabled());
    list->setCurrentIndex(-1);
    idle();
    EXPECT_FALSE(w.btDelete->isEnabled());
    EXPECT_FALSE(w.acStart->enabled());
    EXPECT_FALSE(w.acTestSrv->enabled());
    list->setCurrentIndex(1);
    idle();
    EXPECT_TRUE(w.acStart->enabled());
    EXPECT_TRUE(w.acTestSrv->enabled());
    list->clear();
    idle();
    EXPECT_FALSE(w.btDelete->isEnabled());
    EXPECT_FALSE(w.acStart->enabled());
    EXPECT_FALSE(w.acTestSrv->enabled());
    list->addItem(QStringLiteral("C"));
    list->setCurrentIndex(0);
    idle();
    EXPECT_TRUE(w.btDelete->isEnabled());
    EXPECT_TRUE(w.acStart->enabled());
}
