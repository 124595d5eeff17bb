#include "platform/toolkit/Action.h"

#include "platform/toolkit/Application.h"
#include "platform/toolkit/Focus.h"

#include <QAbstractEventDispatcher>
#include <QPointer>
#include <QPushButton>
#include <QThread>

namespace velmar {

bool ownEnabled(const QWidget* widget) {
    return !widget->testAttribute(Qt::WA_ForceDisabled);
}

Action::Action(const QString& caption, QObject* parent) : QObject(parent), caption_(caption) {}

void Action::setEnabled(bool enabled) {
    if (enabled == enabled_)
        return;
    const bool old = enabled_;
    enabled_ = enabled;
    for (QPushButton* button : buttons_) {
        if (ownEnabled(button) == old)
            setButtonEnabled(button, enabled);
    }
}

bool Action::update() {
    if (onUpdate)
        onUpdate();
    return enabled_;
}

bool Action::execute() {
    if (!update())
        return false;
    if (onExecute)
        onExecute();
    return true;
}

void Action::link(QPushButton* button, bool keepButtonState) {
    buttons_.push_back(button);
    button->setText(caption_);
    if (!keepButtonState)
        button->setEnabled(enabled_);
    QPointer<Action> self(this);
    QObject::connect(button, &QPushButton::clicked, this, [self] {
        if (self)
            Guarded([&] { self->execute(); });
    });
    QObject::connect(button, &QObject::destroyed, this,
                     [this, button] { std::erase(buttons_, static_cast<QPushButton*>(button)); });
}

ActionList::ActionList(QObject* parent) : QObject(parent) {
    if (auto* dispatcher = QAbstractEventDispatcher::instance(thread()))
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &ActionList::updateAll);
}

void ActionList::updateAll() {
    // An update handler never runs the loop, but a handler that raised must not leave the list
    // stuck: the guard is reset on every path.
    if (running_)
        return;
    running_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{running_};
    ++passes_;
    for (Action* action : actions_)
        Guarded([action] { action->update(); });
}

} // namespace velmar
