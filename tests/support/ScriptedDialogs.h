#pragma once
// Dialogs that answer from queues set by the test and record what was shown. Installed for
// the object's lifetime. A dialog asked for with no answer queued fails the test and answers
// as a cancel would.
#include "platform/toolkit/Dialogs.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace velmar::test {

class ScriptedDialogs : public Dialogs {
public:
    ScriptedDialogs();
    ~ScriptedDialogs() override;

    std::vector<std::string> messages; // message boxes, in order
    std::vector<std::string> errors;   // error boxes, in order
    std::vector<std::string> confirms; // texts of confirmation boxes
    std::vector<std::string> inputTitles;

    std::deque<bool> confirmAnswers;
    std::deque<std::string> folderAnswers;
    // nullopt-like: an entry with accepted == false cancels the prompt
    struct Input {
        bool accepted;
        std::string text;
    };
    std::deque<Input> inputAnswers;
    // Runs while a message box is "open", i.e. inside the nested loop of messageBox.
    std::function<void(const std::string&)> whileMessageOpen;

    void messageBox(const std::string& text) override;
    bool confirm(const std::string& text) override;
    std::string browseFolder(const std::string& prompt) override;
    bool inputQuery(const std::string& title, const std::string& prompt,
                    std::string& value) override;
    void errorBox(const std::string& text) override;
};

// Runs the event loop until `done()` or `ms` milliseconds have passed; true when done.
bool processUntil(const std::function<bool()>& done, int ms = 5000);
// Runs the event loop for `ms` milliseconds.
void processFor(int ms);

} // namespace velmar::test
