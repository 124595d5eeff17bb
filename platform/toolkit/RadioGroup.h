#pragma once
// A captioned group of radio buttons in one column with an item index that may be -1 (nothing
// selected). The click handler runs on every change of the selection to an item, by the user or
// by code, and not when the selected item is clicked again or the selection is cleared.
//
// The group is one stop in the tab order (the selected item, or the first one when none is
// selected); the arrow keys move the selection inside it. Its items are real radio buttons to a
// screen reader.
#include <QGroupBox>
#include <QStringList>

#include <functional>
#include <vector>

class QRadioButton;

namespace velmar {

class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    RadioGroup(const QString& caption, const QStringList& items, QWidget* parent = nullptr);

    int itemIndex() const { return index_; }
    // Values above the last index select the last item; negative values clear the selection
    // without running the handler.
    void setItemIndex(int index);
    int count() const { return static_cast<int>(buttons_.size()); }
    QRadioButton* button(int i) const { return buttons_.at(static_cast<std::size_t>(i)); }
    // The widget that takes the focus for the group: the selected item, or the first one.
    QWidget* focusTarget() const;

    std::function<void()> onClick;

protected:
    void resizeEvent(QResizeEvent* event) override;
    // The arrow keys move the selection to the neighbouring item, as in any radio group.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void select(int index, bool runHandler);
    void layoutItems();
    // Only the focus target is reached by Tab; the other items take the focus by click only.
    void updateTabStop();

    std::vector<QRadioButton*> buttons_;
    int index_ = -1;
};

} // namespace velmar
