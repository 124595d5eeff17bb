#include "platform/toolkit/Application.h"

#include "platform/toolkit/Dialogs.h"

namespace velmar {

std::string ErrorBoxText(const std::string& message) {
    std::string text = message;
    if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.'))
        text += '.';
    return text;
}

void ReportError(const std::exception& error) {
    if (dynamic_cast<const AbortError*>(&error))
        return;
    dialogs().errorBox(ErrorBoxText(error.what()));
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromLatin1(ApplicationTitle));
    setDesktopFileName(QString::fromLatin1(DesktopEntryName));
}

bool Application::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    Guarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

} // namespace velmar
