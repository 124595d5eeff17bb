#include "platform/toolkit/Focus.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVariant>

namespace velmar {

namespace {

// The policy a covered control had (and gets back when it is uncovered).
constexpr const char* SavedPolicy = "velmarUncoveredFocusPolicy";
// Set on a direct child of a watched window while it is covered.
constexpr const char* CoveredFlag = "velmarCovered";

void cover(QWidget* control) {
    if (control->property(SavedPolicy).isValid())
        return;
    control->setProperty(SavedPolicy, static_cast<int>(control->focusPolicy()));
    control->setFocusPolicy(Qt::NoFocus);
}

void uncover(QWidget* control) {
    const QVariant saved = control->property(SavedPolicy);
    if (!saved.isValid())
        return;
    control->setProperty(SavedPolicy, QVariant());
    control->setFocusPolicy(static_cast<Qt::FocusPolicy>(saved.toInt()));
}

class CoverWatch : public QObject {
public:
    explicit CoverWatch(QWidget* window) : QObject(window), window_(window) {
        window->installEventFilter(this);
        for (QObject* child : window->children())
            if (child->isWidgetType())
                child->installEventFilter(this);
        update();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::ChildAdded:
            if (QObject* child = static_cast<QChildEvent*>(event)->child();
                watched == window_ && child->isWidgetType())
                child->installEventFilter(this);
            update();
            break;
        case QEvent::ChildRemoved:
        case QEvent::ShowToParent:
        case QEvent::HideToParent:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::ZOrderChange:
            update();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void update() {
        if (!window_)
            return;
        std::vector<QWidget*> siblings;
        for (QObject* child : window_->children()) {
            auto* w = qobject_cast<QWidget*>(child);
            if (w && !w->isWindow())
                siblings.push_back(w);
        }
        for (std::size_t i = 0; i < siblings.size(); ++i) {
            QWidget* w = siblings[i];
            bool covered = false;
            for (std::size_t j = i + 1; j < siblings.size() && !covered; ++j) {
                const QWidget* front = siblings[j];
                covered = !front->isHidden() && front->geometry().contains(w->geometry());
            }
            if (covered == w->property(CoveredFlag).toBool())
                continue;
            w->setProperty(CoveredFlag, covered);
            QList<QWidget*> all = w->findChildren<QWidget*>();
            all.prepend(w);
            for (QWidget* control : all) {
                if (covered)
                    cover(control);
                else
                    uncover(control);
            }
        }
    }

    QPointer<QWidget> window_;
};

} // namespace

void setTabStop(QWidget* control, bool tabStop) {
    const Qt::FocusPolicy policy = tabStop ? Qt::StrongFocus : Qt::ClickFocus;
    if (control->property(SavedPolicy).isValid())
        control->setProperty(SavedPolicy, static_cast<int>(policy));
    else
        control->setFocusPolicy(policy);
}

void labelField(QLabel* label, QWidget* field) {
    label->setBuddy(field);
}

void keepCoveredControlsUnfocused(QWidget* window) {
    new CoverWatch(window);
}

void setButtonEnabled(QWidget* button, bool enabled) {
    if (!enabled && button->isEnabled()) {
        QWidget* window = button->window();
        if (window->focusWidget() == button) {
            QWidget* heir = nullptr;
            for (QWidget* w = button->previousInFocusChain(); w && w != button && !heir;
                 w = w->previousInFocusChain()) {
                if (w->window() == window && !qobject_cast<QPushButton*>(w) && w->isEnabled() &&
                    w->isVisibleTo(window) && (w->focusPolicy() & Qt::TabFocus))
                    heir = w;
            }
            if (heir)
                heir->setFocus(Qt::OtherFocusReason);
            else
                button->clearFocus();
        }
    }
    button->setEnabled(enabled);
}

bool isCoveredControl(const QWidget* control) {
    return control->property(SavedPolicy).isValid();
}

} // namespace velmar
