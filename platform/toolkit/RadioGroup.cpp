#include "platform/toolkit/RadioGroup.h"

#include "platform/toolkit/Application.h"
#include "platform/toolkit/Focus.h"

#include <QKeyEvent>
#include <QRadioButton>

#include <algorithm>

namespace velmar {

RadioGroup::RadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent) {
    for (int i = 0; i < items.size(); ++i) {
        auto* radio = new QRadioButton(items[i], this);
        // Qt's own exclusivity stays on: it is what makes an item a radio button (and not a check
        // box) to a screen reader. Clearing the selection lifts it for a moment (select).
        connect(radio, &QRadioButton::clicked, this, [this, i, radio] {
            if (index_ == i) {
                radio->setChecked(true); // a click on the selected item changes nothing
                return;
            }
            Guarded([this, i] { select(i, true); });
        });
        radio->installEventFilter(this);
        buttons_.push_back(radio);
    }
    layoutItems();
    updateTabStop();
}

void RadioGroup::setItemIndex(int index) {
    if (index >= count())
        index = count() - 1;
    if (index < 0) {
        select(-1, false); // no item selected: no handler runs
        return;
    }
    select(index, true);
}

void RadioGroup::select(int index, bool runHandler) {
    if (index == index_)
        return;
    index_ = index;
    for (int i = 0; i < count(); ++i) {
        QRadioButton* radio = buttons_[static_cast<std::size_t>(i)];
        if (i == index || !radio->isChecked()) {
            radio->setChecked(i == index);
            continue;
        }
        // Qt refuses to uncheck the checked item of an exclusive group.
        radio->setAutoExclusive(false);
        radio->setChecked(false);
        radio->setAutoExclusive(true);
    }
    updateTabStop();
    if (runHandler && onClick)
        onClick();
}

QWidget* RadioGroup::focusTarget() const {
    if (buttons_.empty())
        return const_cast<RadioGroup*>(this);
    return index_ >= 0 ? buttons_[static_cast<std::size_t>(index_)] : buttons_.front();
}

void RadioGroup::updateTabStop() {
    const QWidget* target = focusTarget();
    for (QRadioButton* radio : buttons_)
        setTabStop(radio, radio == target);
}

bool RadioGroup::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    int step = 0;
    if (key == Qt::Key_Up || key == Qt::Key_Left)
        step = -1;
    else if (key == Qt::Key_Down || key == Qt::Key_Right)
        step = 1;
    const auto it = std::find(buttons_.begin(), buttons_.end(), watched);
    if (step == 0 || it == buttons_.end())
        return false;
    const int next = static_cast<int>(it - buttons_.begin()) + step;
    if (next >= 0 && next < count()) {
        buttons_[static_cast<std::size_t>(next)]->setFocus(Qt::TabFocusReason);
        Guarded([this, next] { select(next, true); });
    }
    return true;
}

void RadioGroup::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    layoutItems();
}

void RadioGroup::layoutItems() {
    // Items share the area below the caption evenly, one column.
    const int top = fontMetrics().height() + 4;
    const int n = count();
    if (n == 0)
        return;
    const int each = (height() - top - 4) / n;
    for (int i = 0; i < n; ++i) {
        QRadioButton* radio = buttons_[static_cast<std::size_t>(i)];
        const int h = radio->sizeHint().height();
        radio->setGeometry(8, top + i * each + (each - h) / 2, width() - 16, h);
    }
}

} // namespace velmar
