// The action list, the button-action link, radio groups, timers, the cursor and the error box.
#include "platform/toolkit/Action.h"
#include "platform/toolkit/AppCursor.h"
#include "platform/toolkit/Application.h"
#include "platform/toolkit/RadioGroup.h"
#include "platform/toolkit/WindowTimer.h"
#include "tests/support/ScriptedDialogs.h"

#include <QPushButton>
#include <QRadioButton>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

using namespace velmar;

TEST(ButtonLink, ButtonFollowsItsActionOnlyWhileInStep) {
    Action action("Start");
    QPushButton inStep, outOfStep;
    action.link(&inStep);
    action.link(&outOfStep);
    EXPECT_EQ(inStep.text(), QString("Start"));
    EXPECT_TRUE(inStep.isEnabled());

    outOfStep.setEnabled(false); // out of step with the enabled action
    action.setEnabled(false);
    EXPECT_FALSE(inStep.isEnabled());
    EXPECT_FALSE(outOfStep.isEnabled()); // kept its own state, which happens to agree now

    // Now both are disabled and in step; one is enabled by hand.
    outOfStep.setEnabled(true);
    action.setEnabled(true);
    EXPECT_TRUE(inStep.isEnabled());
    EXPECT_TRUE(outOfStep.isEnabled());
    action.setEnabled(false);
    EXPECT_FALSE(outOfStep.isEnabled()); // in step again, so it follows

    // Setting the flag it already has passes nothing on.
    inStep.setEnabled(true);
    action.setEnabled(false);
    EXPECT_TRUE(inStep.isEnabled());
}

TEST(ButtonLink, ExplicitlyDisabledButtonStaysOutOfStep) {
    Action action("Aktualisieren");
    QPushButton button;
    button.setEnabled(false);
    action.link(&button, /*keepButtonState=*/true);
    EXPECT_TRUE(action.enabled());
    EXPECT_FALSE(button.isEnabled());
    action.setEnabled(false); // button (disabled) was not equal to the old state (enabled)
    action.setEnabled(true);  // now it is in step (both were disabled) and follows
    EXPECT_TRUE(button.isEnabled());
}

TEST(ButtonLink, ButtonInsideDisabledParentKeepsItsOwnFlag) {
    QWidget group;
    Action action("Test Server");
    auto* button = new QPushButton(&group);
    action.link(button);
    group.setEnabled(false);
    EXPECT_FALSE(button->isEnabled()); // greyed by its parent
    EXPECT_TRUE(ownEnabled(button));
    action.setEnabled(false); // in step by its own flag, so it follows
    EXPECT_FALSE(ownEnabled(button));
}

TEST(Actions, ExecuteRunsTheUpdateFirstAndSkipsWhenDisabled) {
    Action action("x");
    bool allow = false;
    int executed = 0, updated = 0;
    action.onUpdate = [&] {
        ++updated;
        action.setEnabled(allow);
    };
    action.onExecute = [&] {
        ++executed;
    };
    EXPECT_FALSE(action.execute());
    EXPECT_EQ(executed, 0);
    allow = true;
    EXPECT_TRUE(action.execute());
    EXPECT_EQ(executed, 1);
    EXPECT_EQ(updated, 2);

    QPushButton button;
    action.link(&button);
    allow = false;
    button.setEnabled(true);
    button.click(); // the click goes through the action's update, which refuses
    EXPECT_EQ(executed, 1);
}

TEST(Actions, UpdateHandlersRunWhenTheLoopFallsIdle) {
    ActionList list;
    Action action("x");
    int updates = 0;
    action.onUpdate = [&] {
        ++updates;
    };
    list.add(&action);
    const int before = list.passes();
    QEventLoop loop; // a loop that really waits, as the application's does
    QTimer::singleShot(50, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_GT(list.passes(), before);
    EXPECT_GT(updates, 0);
}

TEST(Actions, RaisingUpdateHandlerIsReportedAndTheListGoesOn) {
    test::ScriptedDialogs dialogs;
    ActionList list;
    Action bad("bad"), good("good");
    int goodUpdates = 0;
    bad.onUpdate = [] {
        throw std::runtime_error("update failed");
    };
    good.onUpdate = [&] {
        ++goodUpdates;
    };
    list.add(&bad);
    list.add(&good);
    list.updateAll();
    list.updateAll();
    EXPECT_EQ(goodUpdates, 2);
    ASSERT_EQ(dialogs.errors.size(), 2u);
    EXPECT_EQ(dialogs.errors[0], "update failed.");
}

TEST(RadioGroups, HandlerRunsOnEveryChangeAndNeverOnReselect) {
    RadioGroup group("Spieltyp", {"Singleplayer", "Multiplayer"});
    int clicks = 0;
    group.onClick = [&] {
        ++clicks;
    };
    EXPECT_EQ(group.itemIndex(), -1);
    group.setItemIndex(0);
    EXPECT_EQ(clicks, 1);
    group.setItemIndex(0);
    EXPECT_EQ(clicks, 1);
    group.setItemIndex(5); // above the last item: the last item
    EXPECT_EQ(group.itemIndex(), 1);
    EXPECT_EQ(clicks, 2);
    group.setItemIndex(-7); // negative: nothing selected, and no handler runs
    EXPECT_EQ(group.itemIndex(), -1);
    EXPECT_FALSE(group.button(0)->isChecked());
    EXPECT_FALSE(group.button(1)->isChecked());
    EXPECT_EQ(clicks, 2);
    group.setItemIndex(-1);
    EXPECT_EQ(clicks, 2);
    group.setItemIndex(1); // from no selection back to an item: a change again
    EXPECT_EQ(clicks, 3);
    group.setItemIndex(-1);
    EXPECT_EQ(clicks, 3);

    group.show();
    group.button(0)->click(); // the user's click
    EXPECT_EQ(group.itemIndex(), 0);
    EXPECT_EQ(clicks, 4);
    group.button(0)->click(); // clicking the selected item again changes nothing
    EXPECT_EQ(clicks, 4);
    EXPECT_TRUE(group.button(0)->isChecked());
    group.button(1)->click();
    EXPECT_EQ(group.itemIndex(), 1);
    EXPECT_FALSE(group.button(0)->isChecked());
    EXPECT_EQ(clicks, 5);
}

TEST(RadioGroups, ArrowKeysSelectTheNeighbouringItem) {
    RadioGroup group("Client / Server", {"Client", "Server"});
    int clicks = 0;
    group.onClick = [&] {
        ++clicks;
    };
    group.setItemIndex(0);
    auto press = [&](int item, int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(group.button(item), &event);
    };
    press(0, Qt::Key_Down);
    EXPECT_EQ(group.itemIndex(), 1);
    press(1, Qt::Key_Down); // past the last item: nothing changes
    EXPECT_EQ(group.itemIndex(), 1);
    press(1, Qt::Key_Up);
    EXPECT_EQ(group.itemIndex(), 0);
    EXPECT_EQ(clicks, 3);
}

TEST(ErrorBox, FullStopIsAddedAfterCharactersAboveTheFullStop) {
    EXPECT_EQ(ErrorBoxText(""), "");
    EXPECT_EQ(ErrorBoxText("Host Lookup Canceled"), "Host Lookup Canceled.");
    EXPECT_EQ(ErrorBoxText("Version 7"), "Version 7.");
    EXPECT_EQ(ErrorBoxText("Really?"), "Really?.");
    EXPECT_EQ(ErrorBoxText("Done."), "Done.");
    EXPECT_EQ(ErrorBoxText("Stop!"), "Stop!");
    EXPECT_EQ(ErrorBoxText("(see above)"), "(see above)");
    EXPECT_EQ(ErrorBoxText("for 'GameType'"), "for 'GameType'");
    EXPECT_EQ(ErrorBoxText("a-"), "a-");
    EXPECT_EQ(ErrorBoxText("a/"), "a/.");
    EXPECT_EQ(ErrorBoxText("Größe"), "Größe.");
}

TEST(ErrorBox, ErrorEscapingAHandlerIsShownAndTheLoopGoesOn) {
    test::ScriptedDialogs dialogs;
    bool later = false;
    QTimer::singleShot(0, [] { throw std::runtime_error("Null Remote Address"); });
    QTimer::singleShot(0, [] { throw AbortError(); });
    QTimer::singleShot(5, [&] { later = true; });
    test::processUntil([&] { return later; });
    EXPECT_TRUE(later);
    ASSERT_EQ(dialogs.errors.size(), 1u); // the silent kind shows nothing
    EXPECT_EQ(dialogs.errors[0], "Null Remote Address.");
}

TEST(WindowTimers, IntervalZeroNeverFiresButStaysEnabled) {
    WindowTimer timer;
    int ticks = 0;
    timer.OnTimer = [&] {
        ++ticks;
    };
    timer.setInterval(0);
    timer.setEnabled(true);
    test::processUntil([] { return false; }, 60);
    EXPECT_EQ(ticks, 0);
    EXPECT_TRUE(timer.Enabled());

    timer.setInterval(10);
    EXPECT_TRUE(test::processUntil([&] { return ticks >= 2; }));
    timer.setEnabled(false);
    const int stopped = ticks;
    test::processUntil([] { return false; }, 40);
    EXPECT_EQ(ticks, stopped);
    timer.tick(); // a disabled timer does not fire, not even by hand
    EXPECT_EQ(ticks, stopped);
}

TEST(WindowTimers, HugeIntervalsAreAccepted) {
    WindowTimer timer;
    int ticks = 0;
    timer.OnTimer = [&] {
        ++ticks;
    };
    timer.setInterval(0xFFFFFFFFu); // a negative stored time-out read as unsigned
    timer.setEnabled(true);
    test::processUntil([] { return false; }, 30);
    EXPECT_EQ(ticks, 0);
    EXPECT_EQ(timer.Interval(), 0xFFFFFFFFu);
}

TEST(Cursor, OneApplicationWideCursor) {
    setAppCursor(AppCursor::HourGlass);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    setAppCursor(AppCursor::HourGlass);
    setAppCursor(AppCursor::Help);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WhatsThisCursor);
    setAppCursor(AppCursor::Default);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr); // no stacked overrides left behind
}
