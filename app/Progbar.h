#pragma once
// TsrvTestForm: the small progress dialog of the server test. It has no close button and no
// handlers of its own; the server test shows it, hides it and moves its bar.
#include <QWidget>

class QLabel;
class QProgressBar;

namespace velmar {

class TsrvTestForm : public QWidget {
    Q_OBJECT
public:
    explicit TsrvTestForm(QWidget* parent = nullptr);

    QLabel* Label1;
    QProgressBar* progBar;
};

} // namespace velmar
