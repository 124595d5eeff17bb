#pragma once
// A captioned group of radio buttons in one column with an item index that may be -1 (nothing
// selected). The click handler runs on every change of the selection, by the user or by code,
// and not when the selected item is clicked again.
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
    // Values above the last index select the last item; negative values clear the selection.
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

    std::vector<QRadioButton*> buttons_;
    int index_ = -1;
};

} // namespace velmar
