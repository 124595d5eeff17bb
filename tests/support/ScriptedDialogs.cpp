#include "tests/support/ScriptedDialogs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

namespace velmar::test {

ScriptedDialogs::ScriptedDialogs() {
    setDialogs(this);
}
ScriptedDialogs::~ScriptedDialogs() {
    setDialogs(nullptr);
}

void ScriptedDialogs::messageBox(const std::string& text) {
    messages.push_back(text);
    if (whileMessageOpen)
        whileMessageOpen(text);
}

bool ScriptedDialogs::confirm(const std::string& text) {
    confirms.push_back(text);
    if (confirmAnswers.empty()) {
        ADD_FAILURE() << "unexpected confirmation: " << text;
        return false;
    }
    const bool answer = confirmAnswers.front();
    confirmAnswers.pop_front();
    return answer;
}

std::string ScriptedDialogs::browseFolder(const std::string& prompt) {
    if (folderAnswers.empty()) {
        ADD_FAILURE() << "unexpected folder browser: " << prompt;
        return {};
    }
    std::string answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
}

bool ScriptedDialogs::inputQuery(const std::string& title, const std::string& /*prompt*/,
                                 std::string& value) {
    inputTitles.push_back(title);
    if (inputAnswers.empty()) {
        ADD_FAILURE() << "unexpected name prompt: " << title;
        return false;
    }
    const Input answer = inputAnswers.front();
    inputAnswers.pop_front();
    if (answer.accepted)
        value = answer.text;
    return answer.accepted;
}

void ScriptedDialogs::errorBox(const std::string& text) {
    errors.push_back(text);
}

bool processUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

void processFor(int ms) {
    processUntil([] { return false; }, ms);
}

} // namespace velmar::test
