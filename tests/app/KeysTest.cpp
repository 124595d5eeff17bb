// Keys of the main window: Enter, Esc and F1.
#include "tests/app/WindowFixture.h"

#include "platform/toolkit/AppCursor.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

using namespace velmar;
using namespace velmar::test;

namespace {
void press(QWidget* target, int key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}
} // namespace

class Keys : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        installationsKey().writeString("Standard", "/games/a");
    }
};

TEST_F(Keys, EnterPressesStartOnlyWhileItIsEnabled) {
    TMainForm& w = open();
    int starts = 0;
    w.acStart->onExecute = [&] {
        ++starts;
    };
    w.rgGameType->setItemIndex(1);
    w.edClientServerAddr->setText("kein Server");
    idle();
    ASSERT_FALSE(w.btLaunch->isEnabled());
    press(w.edClientServerAddr, Qt::Key_Return);
    EXPECT_EQ(starts, 0);
    w.edClientServerAddr->setText("192.168.0.10");
    idle();
    press(w.edClientServerAddr, Qt::Key_Return);
    press(w.rgGameType->button(1), Qt::Key_Enter);
    EXPECT_EQ(starts, 2);
}

TEST_F(Keys, EnterOnAnotherPushButtonPressesThatButton) {
    TMainForm& w = open();
    int starts = 0, adds = 0;
    w.acStart->onExecute = [&] {
        ++starts;
    };
    w.acEdit->onExecute = [&] {
        ++adds;
    };
    w.show();
    QApplication::setActiveWindow(&w);
    w.btInstEdit->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), w.btInstEdit);
    press(w.btInstEdit, Qt::Key_Return);
    EXPECT_EQ(adds, 1);
    EXPECT_EQ(starts, 0);
    // A focused button that is disabled hands the focus back to a control that is no push
    // button, never on to "Schließen": once Start is enabled again, Enter is Start's.
    w.btLaunch->setFocus();
    w.acStart->setEnabled(false);
    w.acStart->setEnabled(true);
    press(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(starts, 1);
}

TEST_F(Keys, EscDoesNotCloseTheWindow) {
    TMainForm& w = open();
    w.show();
    press(w.rgGameType->focusTarget(), Qt::Key_Escape);
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.settings().hasOpenKey());
}

TEST_F(Keys, F1ShowsTheHelpDataAndSetsTheHelpCursor) {
    TMainForm& w = open();
    w.show();
    press(w.rgGameType->focusTarget(), Qt::Key_F1);
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"On Help 0"});
    EXPECT_EQ(appCursor(), AppCursor::Help);
}
