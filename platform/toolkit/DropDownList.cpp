#include "platform/toolkit/DropDownList.h"

#include <QStyledItemDelegate>

namespace velmar {

namespace {

class FixedHeightDelegate : public QStyledItemDelegate {
public:
    FixedHeightDelegate(int height, QObject* parent)
        : QStyledItemDelegate(parent), height_(height) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(height_);
        return size;
    }

private:
    int height_;
};

} // namespace

DropDownList::DropDownList(int itemHeight, QWidget* parent)
    : QComboBox(parent), itemHeight_(itemHeight) {}

void DropDownList::showPopup() {
    if (!heightSet_) {
        setItemDelegate(new FixedHeightDelegate(itemHeight_, this));
        heightSet_ = true;
    }
    QComboBox::showPopup();
}

} // namespace velmar
