#pragma once
// A main window on the offscreen platform over a fresh hive store, with scripted dialogs.
#include "app/Launchform.h"
#include "app/Progbar.h"
#include "app/WindowLook.h"
#include "platform/toolkit/AppCursor.h"
#include "settings/Registry.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TempConfig.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace velmar::test {

// The launcher key, opened for seeding and checking values behind the window's back.
inline Registry launcherKey() {
    Registry reg;
    reg.openKey(LauncherKeyPath, true);
    return reg;
}

inline Registry installationsKey() {
    Registry reg;
    reg.openKey(std::string(LauncherKeyPath) + InstallationsSuffix, true);
    return reg;
}

inline void setGamePath(const std::string& folder) {
    Registry reg;
    reg.setRootKey(Hive::LocalMachine);
    ASSERT_TRUE(reg.openKey(GameKeyPath, true));
    reg.writeString(ValGamePath, folder);
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        installWindowStyle();             // the program's own look
        setAppCursor(AppCursor::Default); // the cursor is application-wide: start each test clean
        // No test may reach the default page's host: refreshes go to a closed loopback port.
        launcherKey().writeString(ValIpServerUrl, "http://127.0.0.1:9/whatismyip.php");
    }
    void TearDown() override {
        form.reset();
        testForm.reset();
    }

    TMainForm& open() {
        form = std::make_unique<TMainForm>();
        testForm = std::make_unique<TsrvTestForm>();
        form->setServerTestForm(testForm.get());
        return *form;
    }
    // One idle pass of the update handlers, as the event loop runs it.
    void idle() { form->ActionList1->updateAll(); }

    TempConfig config;
    ScriptedDialogs dialogs;
    std::unique_ptr<TMainForm> form;
    std::unique_ptr<TsrvTestForm> testForm;
};

} // namespace velmar::test
