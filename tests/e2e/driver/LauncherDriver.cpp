// The whole launcher, driven from outside for the whole-program tests: it runs the program's
// own start-up and event loop and then acts as a user would.
//   report  prints the window's state and whether the network libraries are loaded, then
//           closes the window
//   enter   presses Enter in the window; a start that fails prints its message box (a start
//           through Wine is waited for)
//   close   closes the window at once
//   test    starts a server test, then closes the window while the test runs
//   shots   starts a server test and saves pictures of both windows to the current folder
// Message boxes are printed instead of shown ("MESSAGE: ..." / "ERROR: ..."), so nothing waits
// for a person.
#include "app/Launcher.h"
#include "app/Launchform.h"
#include "app/Progbar.h"
#include "platform/toolkit/Dialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>

using namespace velmar;

namespace {

class PrintingDialogs : public Dialogs {
public:
    void messageBox(const std::string& text) override { print("MESSAGE", text); }
    void errorBox(const std::string& text) override { print("ERROR", text); }
    bool confirm(const std::string& text) override {
        print("CONFIRM", text);
        return false;
    }
    std::string browseFolder(const std::string&) override { return {}; }
    bool inputQuery(const std::string&, const std::string&, std::string&) override { return false; }

private:
    static void print(const char* kind, std::string text) {
        for (char& c : text)
            if (c == '\n')
                c = '|';
        std::printf("%s: %s\n", kind, text.c_str());
        std::fflush(stdout);
    }
};

void line(const char* key, const QString& value) {
    std::printf("%s=%s\n", key, value.toUtf8().constData());
}

// Whether a file whose path holds `part` is mapped into this process.
bool mapped(const char* part) {
    std::ifstream maps("/proc/self/maps");
    std::string entry;
    while (std::getline(maps, entry)) {
        if (entry.find(part) != std::string::npos)
            return true;
    }
    return false;
}

void report() {
    TMainForm* w = MainForm;
    // Painted at least once before the libraries are looked at.
    w->repaint();
    for (const auto& [key, part] : {std::pair{"mapped.network", "/libQt6Network.so"},
                                    std::pair{"mapped.html", "/liblitehtml.so"},
                                    std::pair{"mapped.module", "/velmar-network.so"},
                                    std::pair{"mapped.imageplugins", "/imageformats/"}})
        line(key, mapped(part) ? "1" : "0");
    line("caption", w->windowTitle());
    line("app", QApplication::applicationName());
    line("size", QString("%1x%2").arg(w->width()).arg(w->height()));
    line("fixed", w->minimumSize() == w->maximumSize() ? "yes" : "no");
    line("pos", QString("%1,%2").arg(w->x()).arg(w->y()));
    line("direction", QApplication::layoutDirection() == Qt::RightToLeft ? "rtl" : "ltr");
    // The window's own style draws on the style the application was given.
    const auto* proxy = qobject_cast<const QProxyStyle*>(QApplication::style());
    line("style",
         proxy && proxy->baseStyle() ? proxy->baseStyle()->name() : QApplication::style()->name());
    QWidget* focus = QApplication::focusWidget();
    line("focus", focus ? (focus->parentWidget() ? focus->parentWidget()->objectName() + "/" : "") +
                              focus->objectName() + ":" + focus->metaObject()->className()
                        : "none");
    for (QWidget* c : w->findChildren<QWidget*>()) {
        if (c->objectName().isEmpty() || c->objectName().startsWith("qt_"))
            continue;
        line(("widget." + c->objectName().toStdString()).c_str(),
             QString("enabled=%1 visible=%2 text=%3")
                 .arg(c->isEnabled() ? 1 : 0)
                 .arg(c->isVisibleTo(w) ? 1 : 0)
                 .arg(qobject_cast<QPushButton*>(c) ? qobject_cast<QPushButton*>(c)->text()
                      : qobject_cast<QLineEdit*>(c) ? qobject_cast<QLineEdit*>(c)->text()
                      : qobject_cast<QGroupBox*>(c) ? qobject_cast<QGroupBox*>(c)->title()
                      : qobject_cast<QComboBox*>(c) ? qobject_cast<QComboBox*>(c)->currentText()
                                                    : QString()));
    }
    line("testform.visible", srvTestForm && srvTestForm->isVisible() ? "1" : "0");
    line("testform.caption", srvTestForm ? srvTestForm->windowTitle() : QString());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    static PrintingDialogs dialogs;
    setDialogs(&dialogs);
    const std::string mode = argc > 1 ? argv[1] : "report";
    return RunLauncher(argc, argv, [mode] {
        // Let the start-up settle (the first idle pass of the update handlers) first.
        QTimer::singleShot(50, [mode] {
            if (mode == "report") {
                report();
            } else if (mode == "test") {
                MainForm->ActionList1->updateAll();
                MainForm->acTestSrv->execute();
                std::printf("TEST RUNNING %d\n", srvTestForm->isVisible() ? 1 : 0);
                std::fflush(stdout);
            } else if (mode == "shots") {
                MainForm->ActionList1->updateAll();
                MainForm->acTestSrv->execute();
                QApplication::processEvents();
                MainForm->grab().save(QStringLiteral("mainform.png"));
                srvTestForm->grab().save(QStringLiteral("servertest.png"));
            } else if (mode == "enter") {
                // A stored host role starts a page lookup at start-up; Start waits for its end.
                // Each round sleeps until the next event arrives (the lookup's reply, or its
                // time limit, IpTimeout, which bounds the wait); a round that does not wait
                // would end long before a loaded machine delivers the reply.
                while (MainForm->webTimer->Enabled())
                    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
                MainForm->ActionList1->updateAll();
                QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget()
                                                              : static_cast<QWidget*>(MainForm);
                QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
                QApplication::sendEvent(target, &press);
                // A start through Wine goes on in the background; the launcher ends when the
                // game's process exists, or reports why not.
                while (MainForm->startPending())
                    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
                std::printf("STILL RUNNING\n");
                std::fflush(stdout);
            }
            MainForm->close();
        });
    });
}
