#pragma once
// TsrvTestForm: the small progress dialog of the server test. It has no close button and no
// handlers of its own; the server test shows it, hides it and moves its bar.
#include <QWidget>

class QCloseEvent;
class QLabel;
class QShowEvent;
class QProgressBar;

namespace velmar {

class TsrvTestForm : public QWidget {
    Q_OBJECT
public:
    explicit TsrvTestForm(QWidget* parent = nullptr);

    QLabel* Label1;
    QProgressBar* progBar;

protected:
    // The test shows and hides the dialog; a request to close it (from the window manager's
    // menu, Alt+F4) is refused, so the test never goes on without its dialog.
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool buttonsSet_ = false;
    bool quitting_ = false;
};

} // namespace velmar
