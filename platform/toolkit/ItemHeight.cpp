#include "platform/toolkit/ItemHeight.h"

#include <QComboBox>
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

void setItemHeight(QComboBox* list, int height) {
    list->setItemDelegate(new FixedHeightDelegate(height, list));
}

} // namespace velmar
