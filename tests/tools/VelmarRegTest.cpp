// velmar-reg run as a child process against a hive store in a temporary XDG_CONFIG_HOME.
#include "platform/registry/RegistryBackend.h"
#include "tests/support/TempConfig.h"

#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>

#include <filesystem>

using namespace velmar;
namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

ToolRun velmarReg(const std::vector<std::string>& args) {
    QProcess p;
    QStringList list;
    for (const auto& a : args)
        list << QString::fromStdString(a);
    p.start(QStringLiteral(VELMAR_BIN_DIR "/velmar-reg"), list);
    p.closeWriteChannel(); // standard input is a pipe, never a terminal
    EXPECT_TRUE(p.waitForFinished(30000));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            p.readAllStandardOutput().toStdString(), p.readAllStandardError().toStdString()};
}

const std::string Key = "HKCU\\Software\\Tobrel\\VelmarLauncher";

class VelmarReg : public ::testing::Test {
protected:
    test::TempConfig config;

    void ok(const std::vector<std::string>& args) {
        ToolRun r = velmarReg(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
    }
    void refused(const std::vector<std::string>& args, const std::string& text = "ERROR:") {
        ToolRun r = velmarReg(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err.rfind("ERROR:", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
    }
    std::string queryOut(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"query", Key};
        args.insert(args.end(), extra.begin(), extra.end());
        ToolRun r = velmarReg(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r.out;
    }
};

TEST_F(VelmarReg, QueryPrintsLikeRegExe) {
    ok({"add", Key, "/v", "GameType", "/t", "REG_DWORD", "/d", "27"});
    ok({"add", Key, "/v", "ClientServerAddr", "/d", "192.168.0.10"});
    ok({"add", Key, "/ve", "/d", "x"});
    ok({"add", Key, "/v", "Path", "/t", "reg_expand_sz", "/d", "%HOME%\\games"});
    ok({"add", Key, "/v", "IpTimeout", "/t", "REG_DWORD", "/d", "0xFFFFFFFF"});
    ok({"add", "hklm\\Software\\Other"});
    ok({"add", Key + "\\Installations"});
    ok({"add", Key + "\\Zeta"});

    EXPECT_EQ(queryOut(), "\n"
                          "HKEY_CURRENT_USER\\Software\\Tobrel\\VelmarLauncher\n"
                          "    GameType    REG_DWORD    0x1b\n"
                          "    ClientServerAddr    REG_SZ    192.168.0.10\n"
                          "    (Default)    REG_SZ    x\n"
                          "    Path    REG_EXPAND_SZ    %HOME%\\games\n"
                          "    IpTimeout    REG_DWORD    0xffffffff\n"
                          "\n"
                          "HKEY_CURRENT_USER\\Software\\Tobrel\\VelmarLauncher\\Installations\n"
                          "HKEY_CURRENT_USER\\Software\\Tobrel\\VelmarLauncher\\Zeta\n");
    EXPECT_EQ(queryOut({"/v", "gametype"}),
              "\nHKEY_CURRENT_USER\\Software\\Tobrel\\VelmarLauncher\n"
              "    GameType    REG_DWORD    0x1b\n\n");
    EXPECT_EQ(queryOut({"/ve"}), "\nHKEY_CURRENT_USER\\Software\\Tobrel\\VelmarLauncher\n"
                                 "    (Default)    REG_SZ    x\n\n");

    ToolRun r = velmarReg({"query", "HKEY_LOCAL_MACHINE\\SOFTWARE"});
    EXPECT_EQ(r.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Other\n");
    refused({"query", Key, "/v", "Nope"}, "unable to find the specified registry key or value");
    refused({"query", "HKCU\\Software\\Nope"}, "unable to find");
}

TEST_F(VelmarReg, AddOverwritesOnlyWithF) {
    ok({"add", Key, "/v", "GameType", "/t", "REG_DWORD", "/d", "1"});
    refused({"add", Key, "/v", "GAMETYPE", "/t", "REG_DWORD", "/d", "0"}, "GAMETYPE");
    ok({"add", Key, "/v", "GameType2", "/t", "REG_DWORD", "/d", "-1"}); // another name
    EXPECT_NE(queryOut({"/v", "GameType"}).find("0x1\n"), std::string::npos);
    ok({"add", Key, "/v", "GAMETYPE", "/t", "REG_DWORD", "/d", "2", "/f"});
    EXPECT_NE(queryOut({"/v", "GameType"}).find("    GameType    REG_DWORD    0x2\n"),
              std::string::npos);
}

TEST_F(VelmarReg, DeleteAsksUnlessF) {
    ok({"add", Key, "/v", "A", "/d", "1"});
    ok({"add", Key, "/v", "B", "/d", "2"});
    ok({"add", Key + "\\Sub", "/v", "C", "/d", "3"});
    refused({"delete", Key, "/v", "A"}, "not a terminal");
    refused({"delete", Key}, "not a terminal");
    refused({"delete", Key, "/va"}, "not a terminal");
    EXPECT_NE(queryOut().find("    A    REG_SZ    1\n"), std::string::npos);

    ok({"delete", Key, "/v", "a", "/f"});
    refused({"delete", Key, "/v", "A", "/f"}, "unable to find");
    ok({"delete", Key, "/va", "/f"});
    EXPECT_EQ(queryOut(), "\nHKEY_CURRENT_USER\\Software\\Tobrel\\VelmarLauncher\n"
                          "HKEY_CURRENT_USER\\Software\\Tobrel\\VelmarLauncher\\Sub\n");
    ok({"delete", "HKCU\\Software\\Tobrel", "/f"});
    refused({"query", Key}, "unable to find");
    refused({"delete", "HKCU", "/f"});
}

TEST_F(VelmarReg, BadArgumentsWriteNothing) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate", Key},
        {"add"},
        {"add", "HKXX\\Software"},
        {"add", "Software\\Tobrel"},
        {"add", Key, "/v"},
        {"add", Key, "/v", "A", "/ve"},
        {"add", Key, "/v", "A", "/t", "REG_BINARY", "/d", "00"},
        {"add", Key, "/v", "A", "/t", "REG_DWORD", "/d", "4294967296"},
        {"add", Key, "/v", "A", "/t", "REG_DWORD", "/d", "0x100000000"},
        {"add", Key, "/v", "A", "/t", "REG_DWORD", "/d", "12abc"},
        {"add", Key, "/v", "A", "/t", "REG_DWORD", "/d", "-2147483649"},
        {"add", Key, "/d", "data"},
        {"add", Key, "/v", "A", "/v", "B"},
        {"add", Key, "extra"},
        {"add", Key, "/y"},
        {"delete", Key, "/v", "A", "/va"},
        {"export", Key},
        {"import"},
    };
    for (const auto& args : bad) {
        ToolRun r = velmarReg(args);
        std::string line;
        for (const auto& a : args)
            line += a + " ";
        EXPECT_EQ(r.exitCode, 1) << line;
        EXPECT_EQ(r.err.rfind("ERROR:", 0), 0u) << line << "-> " << r.err;
    }
    // Not even an empty store was made.
    EXPECT_FALSE(fs::exists(config.hiveFile()));
}

TEST_F(VelmarReg, ExportAndImportRoundTrip) {
    ok({"add", Key, "/v", "GameType", "/t", "REG_DWORD", "/d", "1"});
    ok({"add", Key, "/v", "Quote \"and\" back\\slash", "/d", "C:\\Games\\\"x\"\\"});
    ok({"add", Key, "/ve", "/d", "default"});
    ok({"add", Key, "/v", "Path", "/t", "REG_EXPAND_SZ", "/d", "%HOME%/Velmar"});
    ok({"add", Key, "/v", "Empty", "/d", ""});
    ok({"add", Key + "\\Installations", "/v", "Äpfel", "/d", "/spiele/äpfel"});
    ok({"add", "HKLM\\Software\\Holmgard\\VELMARTIDES", "/v", "GAMEPATH", "/d", "/opt/v"});
    {
        // Values the tool can not add but the store can hold.
        auto store = openHiveStore(config.hiveFile());
        const std::string k = "Software\\Tobrel\\VelmarLauncher";
        std::vector<std::uint8_t> bin(100);
        for (std::size_t i = 0; i < bin.size(); ++i)
            bin[i] = static_cast<std::uint8_t>(i * 37);
        ASSERT_TRUE(store->writeValue(Hive::CurrentUser, k, {"Bin", RegBinary, bin}));
        ASSERT_TRUE(store->writeValue(Hive::CurrentUser, k, {"Cut", RegSz, {'a', 0, 'b', 0}}));
        ASSERT_TRUE(store->writeValue(Hive::CurrentUser, k, {"Line", RegSz, {'a', '\n', 0}}));
        ASSERT_TRUE(
            store->writeValue(Hive::CurrentUser, k, {"Q", RegQword, {1, 2, 3, 4, 5, 6, 7, 8}}));
    }
    const std::string first = config.dir() + "/first.reg";
    const std::string second = config.dir() + "/second.reg";
    ok({"export", "HKCU\\Software\\Tobrel", first});
    const std::string text = test::readFile(first);
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n\n"
                         "[HKEY_CURRENT_USER\\Software\\Tobrel]\n\n"
                         "[HKEY_CURRENT_USER\\Software\\Tobrel\\VelmarLauncher]\n"
                         "\"GameType\"=dword:00000001\n"
                         "\"Quote \\\"and\\\" back\\\\slash\"=\"C:\\\\Games\\\\\\\"x\\\"\\\\\"\n"
                         "@=\"default\"\n"
                         "\"Path\"=hex(2):25,48,4f,4d,45,25,2f,56,65,6c,6d,61,72,00\n",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("\"Äpfel\"=\"/spiele/äpfel\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Cut\"=hex(1):61,00,62,00\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Q\"=hex(b):01,02,03,04,05,06,07,08\n"), std::string::npos) << text;
    EXPECT_NE(text.find(",\\\n  "), std::string::npos) << "long hex data is not wrapped";

    const std::string before = queryOut();
    ok({"delete", "HKCU\\Software\\Tobrel", "/f"});
    ok({"import", first});
    EXPECT_EQ(queryOut(), before);
    ok({"export", "HKCU\\Software\\Tobrel", second});
    EXPECT_EQ(test::readFile(second), text);
    // HKLM was not part of the export and is untouched.
    EXPECT_NE(velmarReg({"query", "HKLM\\Software\\Holmgard\\VELMARTIDES"}).out.find("/opt/v"),
              std::string::npos);
    // An existing file is overwritten only with /y.
    refused({"export", Key, second}, "not a terminal");
    EXPECT_EQ(test::readFile(second), text);
}

TEST_F(VelmarReg, ImportReadsHandWrittenFiles) {
    const std::string file = config.dir() + "/hand.reg";
    test::writeFile(file, "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
                          "; a comment\r\n"
                          "[HKEY_CURRENT_USER\\Software\\Tobrel\\VelmarLauncher]\r\n"
                          "\"IpTimeout\"=dword:00001B58\r\n"
                          "\"Gone\"=\"soon\"\r\n"
                          "\"Gone\"=-\r\n"
                          "\"Bytes\"=hex:de,ad,\\\r\n"
                          "  be,ef\r\n"
                          "\"IpServerUrl\"=\"http://127.0.0.1/whatismyip.php\"\r\n"
                          "[HKEY_CURRENT_USER\\Software\\Tobrel\\Old]\r\n"
                          "[-HKEY_CURRENT_USER\\Software\\Tobrel\\Old]\r\n");
    ok({"import", file});
    EXPECT_EQ(queryOut(), "\nHKEY_CURRENT_USER\\Software\\Tobrel\\VelmarLauncher\n"
                          "    IpTimeout    REG_DWORD    0x1b58\n"
                          "    Bytes    REG_BINARY    DEADBEEF\n"
                          "    IpServerUrl    REG_SZ    http://127.0.0.1/whatismyip.php\n\n");
    refused({"query", "HKCU\\Software\\Tobrel\\Old"}, "unable to find");
}

TEST_F(VelmarReg, AFaultyImportFileWritesNothing) {
    const std::string head = "Windows Registry Editor Version 5.00\n\n[" +
                             std::string("HKEY_CURRENT_USER\\Software\\T") + "]\n\"A\"=\"1\"\n";
    const std::vector<std::pair<std::string, std::string>> faulty = {
        {"REGEDIT5\n[HKEY_CURRENT_USER\\Software\\T]\n", "first line"},
        {head + "\"B\"=dword:123456789\n", "line 5"},
        {head + "\"B\"=hex:zz\n", "line 5"},
        {head + "\"B\"=\"unterminated\n", "line 5"},
        {head + "\"B\"=\"single \\ backslash\"\n", "line 5"},
        {head + "[HKEY_CLASSES_ROOT\\x]\n", "line 5"},
        {head + "B=1\n", "line 5"},
        {"Windows Registry Editor Version 5.00\n\"A\"=\"1\"\n", "line 2"},
        {head + "\"B\"=hex:01,\\\n", "breaks off"},
        {head + "\"B\"=hex:01,\n", "line 5"},
    };
    const std::string file = config.dir() + "/bad.reg";
    for (const auto& [content, where] : faulty) {
        test::writeFile(file, content);
        SCOPED_TRACE(content);
        refused({"import", file}, where);
    }
    refused({"import", config.dir() + "/missing.reg"}, "missing.reg");
    EXPECT_FALSE(fs::exists(config.hiveFile()));
}

TEST_F(VelmarReg, AnUnreadableHiveIsReportedAndLeftAlone) {
    fs::create_directories(config.dir() + "/VelmarLauncher");
    const std::string garbage = "this is not a database, but it is somebody's file\n";
    test::writeFile(config.hiveFile(), garbage);
    refused({"query", Key},
            "ERROR: The registry file " + config.hiveFile() + " is not a database.");
    refused({"add", Key, "/v", "A", "/d", "1", "/f"}, "is not a database");
    refused({"delete", Key, "/f"}, "is not a database");
    EXPECT_EQ(test::readFile(config.hiveFile()), garbage);
}

TEST_F(VelmarReg, TwoToolsWritingAtOnceLoseNothing) {
    ok({"add", Key});
    // Two shell loops started together, each adding its own names.
    const std::string script =
        "for p in a b; do ( i=0; while [ $i -lt 60 ]; do \"$0\" add '" + Key +
        "' /v \"$p$i\" /d $i >/dev/null || exit 1; i=$((i+1)); done ) & pids=\"$pids $!\"; "
        "done; rc=0; for c in $pids; do wait $c || rc=1; done; exit $rc";
    QProcess sh;
    sh.start("/bin/sh", {"-c", QString::fromStdString(script), VELMAR_BIN_DIR "/velmar-reg"});
    ASSERT_TRUE(sh.waitForFinished(120000));
    EXPECT_EQ(sh.exitCode(), 0) << sh.readAllStandardError().toStdString();
    auto store = openHiveStore(config.hiveFile());
    EXPECT_EQ(store->values(Hive::CurrentUser, "Software\\Tobrel\\VelmarLauncher").size(), 120u);
}

} // namespace
