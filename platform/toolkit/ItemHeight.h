#pragma once
// A fixed height for the items of a drop-down list's list.
class QComboBox;

namespace velmar {

// Every item of `list` is `height` pixels high in its drop-down list.
void setItemHeight(QComboBox* list, int height);

} // namespace velmar
