#pragma once
// A drop-down list whose items all have one fixed height.
#include <QComboBox>

namespace velmar {

// Every item is `itemHeight` pixels high in the list that drops down. That list (with its view
// and the view's item delegate) is made when it first drops down, not with the window: made
// with the window it would cost every start-up time and half a megabyte of memory.
class DropDownList : public QComboBox {
public:
    explicit DropDownList(int itemHeight, QWidget* parent = nullptr);
    void showPopup() override;

private:
    int itemHeight_;
    bool heightSet_ = false;
};

} // namespace velmar
