// Keyboard and screen-reader use of the toolkit's controls: radio groups as one tab stop with
// radio-button items, labels naming their fields, and covered controls out of the tab order.
#include "platform/toolkit/Focus.h"
#include "platform/toolkit/DropDownList.h"
#include "platform/toolkit/RadioGroup.h"
#include "tests/support/ScriptedDialogs.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <gtest/gtest.h>

using namespace velmar;

namespace {

QAccessibleInterface* accessible(QWidget* w) {
    return QAccessible::queryAccessibleInterface(w);
}

// The widgets Tab visits from `start`, in order, until it comes back to `start`.
std::vector<QWidget*> tabCycle(QWidget* window, QWidget* start) {
    std::vector<QWidget*> seen;
    start->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < 50; ++i) {
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(QApplication::focusWidget() ? QApplication::focusWidget() : window,
                                &tab);
        QWidget* now = QApplication::focusWidget();
        if (!now || now == start)
            break;
        seen.push_back(now);
    }
    return seen;
}

void showActive(QWidget& window) {
    window.show();
    window.activateWindow();
    ASSERT_TRUE(test::processUntil([&] { return window.isActiveWindow(); }));
}

} // namespace

TEST(RadioGroups, ItemsAreRadioButtonsToAScreenReader) {
    RadioGroup group("Spieltyp", {"Singleplayer", "Multiplayer"});
    group.setItemIndex(0);
    for (int i = 0; i < group.count(); ++i) {
        QAccessibleInterface* item = accessible(group.button(i));
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->role(), QAccessible::RadioButton) << i;
        EXPECT_EQ(item->state().checked, i == 0) << i;
    }
    EXPECT_EQ(accessible(group.button(1))->text(QAccessible::Name), QString("Multiplayer"));
    // Still no selection possible, and the state a screen reader reads follows.
    group.setItemIndex(-1);
    EXPECT_FALSE(accessible(group.button(0))->state().checked);
    EXPECT_FALSE(group.button(0)->isChecked());
    group.setItemIndex(1);
    EXPECT_TRUE(accessible(group.button(1))->state().checked);
    EXPECT_FALSE(group.button(0)->isChecked());
}

TEST(RadioGroups, GroupIsOneTabStopAndArrowsMoveInside) {
    QWidget window;
    auto* before = new QPushButton("before", &window);
    auto* group = new RadioGroup("Client / Server", {"Client", "Server"}, &window);
    auto* after = new QPushButton("after", &window);
    group->setGeometry(0, 40, 160, 80);
    after->move(0, 130);
    group->setItemIndex(0);
    showActive(window);

    EXPECT_EQ(tabCycle(&window, before), (std::vector<QWidget*>{group->button(0), after}));
    // The arrow key moves the selection and the group's one tab stop with it.
    group->button(0)->setFocus(Qt::TabFocusReason);
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(group->button(0), &down);
    EXPECT_EQ(group->itemIndex(), 1);
    EXPECT_EQ(QApplication::focusWidget(), group->button(1));
    EXPECT_EQ(tabCycle(&window, before), (std::vector<QWidget*>{group->button(1), after}));
    // With nothing selected the first item is the stop.
    group->setItemIndex(-1);
    EXPECT_EQ(tabCycle(&window, before), (std::vector<QWidget*>{group->button(0), after}));
    // A click still focuses any item.
    EXPECT_NE(group->button(1)->focusPolicy() & Qt::ClickFocus, 0);
}

TEST(Labels, EachFieldIsNamedByItsOwnLabel) {
    QGroupBox group("Eigene Server-Adressen");
    auto* lan = new QLabel("Adresse im LAN", &group);
    auto* inet = new QLabel("Adresse im Internet", &group);
    auto* lanEdit = new QLineEdit(&group);
    auto* inetEdit = new QLineEdit(&group);
    labelField(lan, lanEdit);
    labelField(inet, inetEdit);
    EXPECT_EQ(lan->buddy(), lanEdit);
    EXPECT_EQ(accessible(lanEdit)->text(QAccessible::Name), QString("Adresse im LAN"));
    EXPECT_EQ(accessible(inetEdit)->text(QAccessible::Name), QString("Adresse im Internet"));
    // The screen reader also learns which label it is.
    bool labelled = false;
    for (const auto& relation : accessible(inetEdit)->relations(QAccessible::Label)) {
        labelled = labelled || relation.first->object() == inet;
        EXPECT_NE(relation.first->object(), lan);
    }
    EXPECT_TRUE(labelled);
}

TEST(CoveredControls, TakeNoFocusUntilUncovered) {
    QWidget window;
    window.resize(300, 200);
    auto* first = new QPushButton("first", &window);
    first->setGeometry(0, 0, 80, 25);
    auto* behind = new QGroupBox("behind", &window);
    behind->setGeometry(10, 40, 200, 100);
    auto* behindEdit = new QLineEdit(behind);
    behindEdit->setGeometry(10, 20, 100, 21);
    auto* behindButton = new QPushButton("hidden work", behind);
    behindButton->setGeometry(10, 50, 100, 25);
    auto* front = new QGroupBox("front", &window);
    front->setGeometry(10, 40, 200, 100);
    auto* frontEdit = new QLineEdit(front);
    frontEdit->setGeometry(10, 20, 100, 21);
    auto* last = new QPushButton("last", &window);
    last->setGeometry(0, 150, 80, 25);
    keepCoveredControlsUnfocused(&window);
    showActive(window);

    EXPECT_TRUE(isCoveredControl(behindEdit));
    EXPECT_FALSE(isCoveredControl(frontEdit));
    EXPECT_EQ(tabCycle(&window, first), (std::vector<QWidget*>{frontEdit, last}));

    // Once the group in front is hidden, the one behind is seen and reachable again.
    front->hide();
    EXPECT_FALSE(isCoveredControl(behindEdit));
    EXPECT_EQ(tabCycle(&window, first), (std::vector<QWidget*>{behindEdit, behindButton, last}));
    // A tab stop changed while covered takes effect once uncovered.
    front->show();
    setTabStop(behindEdit, false);
    EXPECT_EQ(behindEdit->focusPolicy(), Qt::NoFocus);
    front->hide();
    EXPECT_EQ(behindEdit->focusPolicy(), Qt::ClickFocus);
    // Moving the front group aside uncovers too.
    front->show();
    EXPECT_TRUE(isCoveredControl(behindButton));
    front->move(10, 30);
    EXPECT_FALSE(isCoveredControl(behindButton));
}

TEST(DropDownLists, ItemsTakeTheGivenHeightWhenTheListDropsDown) {
    QWidget window;
    auto* list = new DropDownList(13, &window);
    list->addItems({"Standard", "Zweite"});
    window.show();
    list->showPopup();
    ASSERT_TRUE(list->view()->isVisible());
    EXPECT_EQ(list->view()->sizeHintForRow(0), 13);
    EXPECT_EQ(list->view()->visualRect(list->model()->index(1, 0)).height(), 13);
    list->hidePopup();
    // Items added later take the same height.
    list->addItem("Dritte");
    list->showPopup();
    EXPECT_EQ(list->view()->sizeHintForRow(2), 13);
    list->hidePopup();
}
