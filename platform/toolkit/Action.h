#pragma once
// Actions with update handlers, and the link between a push button and its action.
//
// An action's update handler recomputes its enabled flag. The action list runs every update
// handler each time the event loop is about to wait for events, and an action runs its own
// update handler once more right before it executes; an action left disabled does not execute.
//
// A linked button shows the action's caption and executes the action when clicked. When the
// action's enabled flag changes, the button takes the new state only if its own state equalled
// the old one: a button that was set out of step with its action keeps its state until the two
// agree again.
#include <QObject>
#include <QString>

#include <functional>
#include <vector>

class QPushButton;

namespace velmar {

class Action : public QObject {
    Q_OBJECT
public:
    explicit Action(const QString& caption, QObject* parent = nullptr);

    const QString& caption() const { return caption_; }
    bool enabled() const { return enabled_; }
    // Passes a real change on to the linked buttons that were in step; no change, no effect.
    void setEnabled(bool enabled);

    std::function<void()> onExecute;
    std::function<void()> onUpdate;

    // Runs the update handler; true when the action is enabled afterwards.
    bool update();
    // Update, then run the execute handler if still enabled. True when it ran.
    bool execute();

    // Links `button` to this action. The button shows the caption and takes the action's
    // enabled state unless `keepButtonState` (a layout that gives the button its own state).
    void link(QPushButton* button, bool keepButtonState = false);

private:
    QString caption_;
    bool enabled_ = true;
    std::vector<QPushButton*> buttons_;
};

// The action list of a window: runs the update handlers whenever the event loop of this thread
// is about to wait, with no timer of its own, so an idle program makes no wake-ups.
class ActionList : public QObject {
    Q_OBJECT
public:
    explicit ActionList(QObject* parent = nullptr);

    void add(Action* action) { actions_.push_back(action); }
    // One pass over every update handler; callable directly (tests, benchmarks).
    void updateAll();
    int passes() const { return passes_; }

private:
    std::vector<Action*> actions_;
    bool running_ = false;
    int passes_ = 0;
};

// The button's own enabled flag, not the one it inherits from a disabled parent.
bool ownEnabled(const QWidget* widget);

} // namespace velmar
