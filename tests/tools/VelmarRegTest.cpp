// velmar-reg run as a child process against a hive store in a temporary XDG_CONFIG_HOME.
#include "platform/registry/RegistryBackend.h"
#include "tests/support/TempConfig.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include <cstdlib>
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

// A file velmar-reg exported (UTF-16LE with a byte order mark) as UTF-8 text.
std::string utf16File(const std::string& bytes) {
    EXPECT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    if (bytes.size() < 2)
        return {};
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.data() + 2),
                              static_cast<qsizetype>((bytes.size() - 2) / 2))
        .toStdString();
}

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
    // A key without values prints no line of its own, only its subkeys.
    EXPECT_EQ(r.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Other\n");
    refused({"query", Key, "/v", "Nope"}, "unable to find the specified registry key or value");
    refused({"query", "HKCU\\Software\\Nope"}, "unable to find");
}

TEST_F(VelmarReg, AddOverwritesOnlyWithF) {
    ok({"add", Key, "/v", "GameType", "/t", "REG_DWORD", "/d", "1"});
    refused({"add", Key, "/v", "GAMETYPE", "/t", "REG_DWORD", "/d", "0"}, "GAMETYPE");
    ok({"add", Key, "/v", "GameType2", "/t", "REG_DWORD", "/d", "0xffffffff"}); // another name
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
    EXPECT_EQ(queryOut(), "\nHKEY_CURRENT_USER\\Software\\Tobrel\\VelmarLauncher\\Sub\n");
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
        {"add", Key, "/v", "A", "/t", "REG_BINARY", "/d", "0x00"},
        {"add", Key, "/v", "A", "/t", "REG_BINARY", "/d", "x01"},
        {"add", Key, "/v", "A", "/t", "REG_DWORD"},
        {"add", Key, "/v", "A", "/t", "REG_DWORD", "/d", "-1"},
        {"add", Key, "/v", "A", "/t", "REG_DWORD", "/d", "00x123"},
        {"add", Key, "/ve", "/t", "REG_DWORD_BIG_ENDIAN"},
        {"add", Key, "/v", "A", "/t", "REG_QWORD", "/d", "-0x1"},
        {"add", Key, "/v", "A", "/t", "REG_QWORD", "/d", "18446744073709551616"},
        {"add", Key, "/v", "A", "/t", "REG_MULTI_SZ", "/d", "two\\0\\0strings"},
        {"add", Key, "/v", "A", "/t", "REG_MULTI_SZ", "/s", "#", "/d", "#a"},
        {"add", Key, "/v", "A", "/t", "REG_MULTI_SZ", "/s", "##", "/d", "a"},
        {"add", Key, "/v", "A", "/t", "REG_SZ", "/s", "#", "/d", "a"},
        {"add", Key, "/v", "A", "/t", "", "/d", "a"},
        {"add", Key, "/v", "A", "/t", "REG_LINK", "/d", "a"},
        {"add", Key, "/v", "A", "/d", "a", "/reg:32", "/reg:64"},
        {"add", Key, "/v", "A", "/d", "a", "/reg:64", "/reg:64"},
        {"add", Key, "/v", "A", "/a"},
        {"add", Key, "/v", "A", "-"},
        {"add", Key, "/f", "/f"},
        {"add", "/v", "A", Key},
        {"add", "\\HKCU\\Software\\x"},
        {"add", "\\\\remote\\HKCU\\Software\\x"},
        {"add", Key + "\\x\\\\"},
        {"add", "HKCU\\", "/v", "A", "/d", "a"},
        {"add", "HKEY_CURRENT_USER", "/d", "a"},
        {"add", "/?", Key},
        {"query", Key, "/v"},
        {"query", Key, "/v", "A", "/ve"},
        {"query", Key, "/s", "/s"},
        {"query", Key, "/f", "x", "/k", "/d"},
        {"query", Key, "/f", "x", "/v", "A"},
        {"query", Key, "/t", "REG_FOO"},
        {"query", Key, "/se", "ab"},
        {"export", "/y", Key, "file.reg"},
        {"export", Key, "/y", "file.reg"},
        {"export", Key, "file.reg", "file2.reg"},
        {"import", "a.reg", "b.reg"},
        {"import", "a.reg", "/reg:32", "/reg:32"},
        {"add", Key, "/v", "A", "/t", "REG_DWORD", "/d", "4294967296"},
        {"add", Key, "/v", "A", "/t", "REG_DWORD", "/d", "0x100000000"},
        {"add", Key, "/v", "A", "/t", "REG_DWORD", "/d", "12abc"},
        {"add", Key, "/v", "A", "/t", "REG_DWORD", "/d", "-2147483649"},
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
    const std::string bytes = test::readFile(first);
    const std::string text = utf16File(bytes);
    EXPECT_EQ(
        text.rfind(
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Tobrel]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Tobrel\\VelmarLauncher]\r\n"
            "\"GameType\"=dword:00000001\r\n"
            "\"Quote \\\"and\\\" back\\\\slash\"=\"C:\\\\Games\\\\\\\"x\\\"\\\\\"\r\n"
            "@=\"default\"\r\n"
            "\"Path\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,2f,00,56,00,65,00,6c,00,6d,\\\r\n"
            "  00,61,00,72,00,00,00\r\n",
            0),
        0u)
        << text;
    EXPECT_NE(text.find("\"Äpfel\"=\"/spiele/äpfel\"\r\n"), std::string::npos) << text;
    // Text a quoted string can not carry goes as hex(1), in UTF-16 like every text.
    EXPECT_NE(text.find("\"Cut\"=hex(1):61,00,00,00,62,00,00,00\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Line\"=hex(1):61,00,0a,00,00,00\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Q\"=hex(b):01,02,03,04,05,06,07,08\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(",\\\r\n  "), std::string::npos) << "long hex data is not wrapped";

    const std::string before = queryOut();
    ok({"delete", "HKCU\\Software\\Tobrel", "/f"});
    ok({"import", first});
    EXPECT_EQ(queryOut(), before);
    ok({"export", "HKCU\\Software\\Tobrel", second});
    EXPECT_EQ(test::readFile(second), bytes);
    // HKLM was not part of the export and is untouched.
    EXPECT_NE(velmarReg({"query", "HKLM\\Software\\Holmgard\\VELMARTIDES"}).out.find("/opt/v"),
              std::string::npos);
    // An existing file is overwritten only with /y.
    refused({"export", Key, second}, "not a terminal");
    EXPECT_EQ(test::readFile(second), bytes);
    // Through a link, the file it names is replaced and the link stays; a pipe is written to.
    const std::string linked = config.dir() + "/linked.reg";
    const std::string direct = config.dir() + "/direct.reg";
    fs::create_symlink(second, linked);
    ok({"export", Key, direct});
    ok({"export", Key, linked, "/y"});
    EXPECT_TRUE(fs::is_symlink(linked));
    EXPECT_EQ(test::readFile(second), test::readFile(direct));
    const std::string piped = "XDG_CONFIG_HOME='" + config.dir() +
                              "' " VELMAR_BIN_DIR "/velmar-reg export '" + Key +
                              "' /dev/stderr /y 2>&1 >/dev/null | cmp -s - '" + direct + "'";
    EXPECT_EQ(std::system(piped.c_str()), 0);
    ok({"export", "HKCU\\Software\\Tobrel", second, "/y"});

    // An export that can not be written whole (here: a file size limit below it, as a full disk
    // would) leaves the old file as it was, and no half-written one beside it.
    const std::string command = "XDG_CONFIG_HOME='" + config.dir() + "' sh -c \"trap '' XFSZ; " +
                                "ulimit -f 1; exec " VELMAR_BIN_DIR "/velmar-reg export " +
                                "'HKCU\\Software\\Tobrel' '" + second + "' /y\" >/dev/null 2>&1";
    EXPECT_NE(std::system(command.c_str()), 0);
    EXPECT_EQ(test::readFile(second), bytes);
    for (const auto& entry : fs::directory_iterator(config.dir()))
        EXPECT_EQ(entry.path().filename().string().rfind(".second.reg", 0), std::string::npos);
    // A file cut off inside a line is refused whole; nothing of it is imported.
    test::writeFile(second, bytes.substr(0, bytes.size() / 2 & ~std::size_t(1)));
    ok({"delete", "HKCU\\Software\\Tobrel", "/f"});
    refused({"import", second}, "ends in the middle of a line");
    refused({"query", Key}, "unable to find");
}

TEST_F(VelmarReg, ImportReadsHandWrittenFiles) {
    const std::string file = config.dir() + "/hand.reg";
    const std::string windowsMade =
        "\"Odd\"=hex(1):41,00,42,00,43\r\n"
        "\"Lone\"=hex(2):00,d8,42,00,00,dc,00,d8,00,d8,00,dc,ff,df,80,dc,00,00\r\n"
        "\"Multi\"=hex(7):41,00,00,00,00,d8,00,00,00,00\r\n";
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
                          "[-HKEY_CURRENT_USER\\Software\\Tobrel\\Old]\r\n"
                          "[HKEY_CURRENT_USER\\Software\\Tobrel\\Win]\r\n" +
                              windowsMade);
    ok({"import", file});
    // String data made on Windows that is no text (an odd last byte, lone surrogates, also next
    // to a pair and to what stands for a byte) goes back out as it came in.
    ok({"export", "HKCU\\Software\\Tobrel\\Win", file, "/y"});
    EXPECT_NE(utf16File(test::readFile(file)).find(windowsMade), std::string::npos)
        << utf16File(test::readFile(file));
    EXPECT_EQ(queryOut(), "\nHKEY_CURRENT_USER\\Software\\Tobrel\\VelmarLauncher\n"
                          "    IpTimeout    REG_DWORD    0x1b58\n"
                          "    Bytes    REG_BINARY    DEADBEEF\n"
                          "    IpServerUrl    REG_SZ    http://127.0.0.1/whatismyip.php\n\n");
    refused({"query", "HKCU\\Software\\Tobrel\\Old"}, "unable to find");
}

TEST_F(VelmarReg, UnreadableImportLinesAreSkippedAndTheRestImported) {
    // As reg.exe does: a line that can not be read is skipped, the rest is imported, exit 0;
    // velmar-reg names each skipped line on standard error.
    const std::string file = config.dir() + "/bad.reg";
    test::writeFile(file, "Windows Registry Editor Version 5.00\n\n"
                          "[HKEY_CURRENT_USER\\Software\\T]\n"
                          "\"A\"=\"1\"\n"
                          "\"B\"=dword:123456789\n"
                          "\"C\"=hex:zz\n"
                          "\"D\"=\"unterminated\n"
                          "E=1\n"
                          "\"F\"=hex:01,\\\n"
                          "\"G\"=\"swallowed by F\"\n"
                          "\"H\"=\"2\" # not a comment here\n"
                          "\"I\"=\"3\" ; a comment\n"
                          "[HKEY_CLASSES_ROOT\\x]\n"
                          "\"J\"=\"under no key\"\n"
                          "[HKEY_CURRENT_USER\\Software\\T]\n"
                          "\"K\"=dword:1 ;end\n");
    ToolRun r = velmarReg({"import", file});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const char* line : {"line 5 ", "line 6 ", "line 7 ", "line 8 ", "line 9 ", "line 11 ",
                             "line 13 ", "line 14 "})
        EXPECT_NE(r.err.find(line), std::string::npos) << line << " in " << r.err;
    EXPECT_EQ(r.err.find("line 4 "), std::string::npos) << r.err;
    ToolRun q = velmarReg({"query", "HKCU\\Software\\T"});
    EXPECT_EQ(q.out, "\nHKEY_CURRENT_USER\\Software\\T\n"
                     "    A    REG_SZ    1\n"
                     "    I    REG_SZ    3\n"
                     "    K    REG_DWORD    0x1\n\n");

    // Headers: reg.exe refuses these files (exit 1, nothing imported) ...
    for (const std::string head : {"regedit4", "\nREGEDIT4", "Windows Registry Editor Version 4.00",
                                   "WINDOWS REGISTRY EDITOR VERSION 5.00", "AREGEDIT4", ""}) {
        test::writeFile(file, head + "\n[HKEY_CURRENT_USER\\Software\\U]\n\"X\"=\"1\"\n");
        SCOPED_TRACE(head);
        refused({"import", file}, "not a registry file");
    }
    // ... and reads these as empty (exit 0, nothing imported).
    for (const std::string head : {"REGEDIT", "REGEDIT3", "REGEDIT5", "REGEDIT4 FOO"}) {
        test::writeFile(file, head + "\n[HKEY_CURRENT_USER\\Software\\U]\n\"X\"=\"1\"\n");
        SCOPED_TRACE(head);
        EXPECT_EQ(velmarReg({"import", file}).exitCode, 0);
    }
    refused({"query", "HKCU\\Software\\U"}, "unable to find");
    refused({"import", config.dir() + "/missing.reg"}, "missing.reg");
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
    // 120 values and the empty default value that "add KEY" writes, as reg.exe does.
    EXPECT_EQ(store->values(Hive::CurrentUser, "Software\\Tobrel\\VelmarLauncher").size(), 121u);
}

} // namespace

namespace {

std::vector<std::uint8_t> bytesOf(const std::string& s) {
    return std::vector<std::uint8_t>(s.begin(), s.end());
}

// The bytes of `text` as a file of the registry editor: UTF-16LE with a byte order mark.
std::string utf16Bytes(const std::string& text) {
    const QString q = QString::fromStdString(text);
    std::string out = "\xFF\xFE";
    for (QChar c : q) {
        out += static_cast<char>(c.unicode() & 0xFF);
        out += static_cast<char>(c.unicode() >> 8);
    }
    return out;
}

} // namespace

TEST_F(VelmarReg, ExportIsByteForByteWhatRegExeWrites) {
    {
        auto store = openHiveStore(config.hiveFile());
        auto key = [&](const std::string& path) {
            ASSERT_TRUE(store->createKey(Hive::CurrentUser, "Software\\RegTest" + path));
        };
        auto set = [&](const std::string& path, const std::string& name, std::uint32_t type,
                       const std::string& data) {
            ASSERT_TRUE(store->writeValue(Hive::CurrentUser, "Software\\RegTest" + path,
                                          {name, type, bytesOf(data)}));
        };
        // Created out of order: the file lists subkeys as Windows does, by name.
        key("\\Subkey4");
        set("\\Subkey4", "", RegDword, std::string("\x78\x56\x34\x12", 4));
        set("\\Subkey4", "43981", 0xabcd, std::string("Value\0", 6));
        key("\\Subkey3a\\Subkey3b\\Subkey3c");
        set("\\Subkey3a\\Subkey3b\\Subkey3c", "String expansion", RegExpandSz,
            std::string("%HOME%\\%PATH%\0", 14));
        set("\\Subkey3a\\Subkey3b\\Subkey3c", "Zero data type", RegNone, std::string("Value\0", 6));
        set("\\Subkey3a", "Backslash", RegSz, std::string("Use \\\\ to escape a backslash\0", 29));
        key("\\Subkey2a\\Subkey2b");
        set("\\Subkey2a\\Subkey2b", "", RegSz, std::string("Default value name\0", 19));
        set("\\Subkey2a\\Subkey2b", "Multiple strings", RegMultiSz,
            std::string("Line1\0Line2\0Line3\0\0", 19));
        set("\\Subkey2a", "double\"quote", RegSz, std::string("\"Hello, World!\"\0", 16));
        set("\\Subkey2a", "single'quote", RegDword, std::string("\x08\0\0\0", 4));
        key("\\Subkey1");
        set("\\Subkey1", "Binary", RegBinary, "\x11\x22\x33\x44");
        set("\\Subkey1", "Undefined hex", 0x100, std::string("%PATH%\0", 7));
        set("", "DWORD", RegDword, std::string("\0\x01\0\0", 4));
        set("", "String", RegSz, std::string("Your text here...\0", 18));
        key("\\Empty");
        for (auto [name, type] :
             std::vector<std::pair<std::string, std::uint32_t>>{{"Wine1a", RegNone},
                                                                {"Wine1b", RegSz},
                                                                {"Wine1c", RegExpandSz},
                                                                {"Wine1d", RegBinary},
                                                                {"Wine1e", RegDword},
                                                                {"Wine1f", RegMultiSz},
                                                                {"Wine1g", 0x100},
                                                                {"Wine1h", 0xabcd}})
            set("\\Empty", name, type, "");
    }
    const std::string K = "[HKEY_CURRENT_USER\\Software\\RegTest";
    const std::string expected =
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n" + K +
        "]\r\n"
        "\"DWORD\"=dword:00000100\r\n"
        "\"String\"=\"Your text here...\"\r\n\r\n" +
        K +
        "\\Empty]\r\n"
        "\"Wine1a\"=hex(0):\r\n"
        "\"Wine1b\"=\"\"\r\n"
        "\"Wine1c\"=hex(2):\r\n"
        "\"Wine1d\"=hex:\r\n"
        "\"Wine1e\"=hex(4):\r\n"
        "\"Wine1f\"=hex(7):\r\n"
        "\"Wine1g\"=hex(100):\r\n"
        "\"Wine1h\"=hex(abcd):\r\n\r\n" +
        K +
        "\\Subkey1]\r\n"
        "\"Binary\"=hex:11,22,33,44\r\n"
        "\"Undefined hex\"=hex(100):25,50,41,54,48,25,00\r\n\r\n" +
        K +
        "\\Subkey2a]\r\n"
        "\"double\\\"quote\"=\"\\\"Hello, World!\\\"\"\r\n"
        "\"single'quote\"=dword:00000008\r\n\r\n" +
        K +
        "\\Subkey2a\\Subkey2b]\r\n"
        "@=\"Default value name\"\r\n"
        "\"Multiple strings\"=hex(7):4c,00,69,00,6e,00,65,00,31,00,00,00,4c,00,69,00,6e,\\\r\n"
        "  00,65,00,32,00,00,00,4c,00,69,00,6e,00,65,00,33,00,00,00,00,00\r\n\r\n" +
        K +
        "\\Subkey3a]\r\n"
        "\"Backslash\"=\"Use \\\\\\\\ to escape a backslash\"\r\n\r\n" +
        K + "\\Subkey3a\\Subkey3b]\r\n\r\n" + K +
        "\\Subkey3a\\Subkey3b\\Subkey3c]\r\n"
        "\"String expansion\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,5c,00,25,00,50,\\\r\n"
        "  00,41,00,54,00,48,00,25,00,00,00\r\n"
        "\"Zero data type\"=hex(0):56,61,6c,75,65,00\r\n\r\n" +
        K +
        "\\Subkey4]\r\n"
        "@=dword:12345678\r\n"
        "\"43981\"=hex(abcd):56,61,6c,75,65,00\r\n\r\n";
    const std::string file = config.dir() + "/out.reg";
    ok({"export", "HKCU\\Software\\RegTest", file});
    EXPECT_EQ(test::readFile(file), utf16Bytes(expected.substr(3)));

    // Importing the file and exporting again gives the same bytes.
    ok({"delete", "HKCU\\Software\\RegTest", "/f"});
    ok({"import", file});
    ok({"export", "HKCU\\Software\\RegTest", file, "/y"});
    EXPECT_EQ(test::readFile(file), utf16Bytes(expected.substr(3)));
}

TEST_F(VelmarReg, ExportRefusesWhatAFileCanNotHoldAndKeepsUndecodableBytes) {
    const std::string k = "Software\\Names";
    {
        auto store = openHiveStore(config.hiveFile());
        ASSERT_TRUE(store->createKey(Hive::CurrentUser, k));
        ASSERT_TRUE(
            store->writeValue(Hive::CurrentUser, k, {"raw\xFF\xFE", RegSz, bytesOf("x\xE4y")}));
        ASSERT_TRUE(store->writeValue(Hive::CurrentUser, k, {"a ] [ \\ \"", RegSz, bytesOf("v")}));
        ASSERT_TRUE(store->createKey(Hive::CurrentUser, k + "\\odd ] key"));
    }
    const std::string file = config.dir() + "/names.reg";
    ok({"export", "HKCU\\" + k, file});
    ok({"delete", "HKCU\\" + k, "/f"});
    ok({"import", file});
    {
        auto store = openHiveStore(config.hiveFile());
        auto v = store->readValue(Hive::CurrentUser, k, "raw\xFF\xFE");
        ASSERT_TRUE(v);
        EXPECT_EQ(v->data, bytesOf("x\xE4y"));
        EXPECT_TRUE(store->readValue(Hive::CurrentUser, k, "a ] [ \\ \""));
        EXPECT_TRUE(store->keyExists(Hive::CurrentUser, k + "\\odd ] key"));
        ASSERT_TRUE(store->writeValue(Hive::CurrentUser, k, {"two\nlines", RegSz, bytesOf("v")}));
    }
    const std::string other = config.dir() + "/other.reg";
    refused({"export", "HKCU\\" + k, other}, "line break");
    EXPECT_FALSE(fs::exists(other));
}

TEST_F(VelmarReg, ImportReadsWindowsExportsWithTextIntact) {
    const std::string k = "Software\\Win";
    auto expectValue = [&](const std::string& name, std::uint32_t type, const std::string& data) {
        auto store = openHiveStore(config.hiveFile());
        auto v = store->readValue(Hive::CurrentUser, k, name);
        ASSERT_TRUE(v) << name;
        EXPECT_EQ(v->type, type) << name;
        EXPECT_EQ(v->data, bytesOf(data)) << name;
    };
    // As the registry editor of Windows writes it: UTF-16LE, text types in UTF-16.
    const std::string windows =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Win]\r\n"
        "\"Äpfel\"=\"Grüße €\"\r\n"
        "\"Exp\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,5c,00,e4,00,00,00\r\n"
        "\"Multi\"=hex(7):61,00,00,00,ac,20,00,00,00,00\r\n\r\n";
    const std::string file = config.dir() + "/win.reg";
    test::writeFile(file, utf16Bytes(windows));
    ok({"import", file});
    expectValue("Äpfel", RegSz, std::string("Grüße €\0", 12));
    expectValue("Exp", RegExpandSz, std::string("%HOME%\\ä\0", 10));
    expectValue("Multi", RegMultiSz, std::string("a\0€\0\0", 7));
    EXPECT_EQ(velmarReg({"query", "HKCU\\" + k, "/v", "Multi"}).out,
              "\nHKEY_CURRENT_USER\\Software\\Win\n    Multi    REG_MULTI_SZ    a\\0€\n\n");
    // Exported again, it is the same file.
    const std::string again = config.dir() + "/again.reg";
    ok({"export", "HKCU\\" + k, again});
    EXPECT_EQ(test::readFile(again), utf16Bytes(windows));

    // REGEDIT4 in the ANSI code page (Windows-1252), hex(2) and hex(7) in it too.
    ok({"delete", "HKCU\\" + k, "/f"});
    test::writeFile(file, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Win]\r\n"
                          "\"\xC4pfel\"=\"Gr\xFC\xDF"
                          "e \x80\"\r\n"
                          "\"Exp\"=hex(2):25,48,4f,4d,45,25,5c,e4,00\r\n"
                          "\"Multi\"=hex(7):61,00,80,00,00\r\n");
    ok({"import", file});
    expectValue("Äpfel", RegSz, std::string("Grüße €\0", 12));
    expectValue("Exp", RegExpandSz, std::string("%HOME%\\ä\0", 10));
    expectValue("Multi", RegMultiSz, std::string("a\0€\0\0", 7));

    // 5.00 in UTF-8, with and without a byte order mark.
    for (const std::string bom : {"\xEF\xBB\xBF", ""}) {
        test::writeFile(file, bom + "Windows Registry Editor Version 5.00\n\n"
                                    "[HKEY_CURRENT_USER\\Software\\Win]\n\"Ä\"=\"ü\"\n");
        ok({"import", file});
        expectValue("Ä", RegSz, std::string("ü\0", 3));
    }
}

TEST_F(VelmarReg, AddWritesEveryTypeAsRegExeDoes) {
    const std::string k = "Software\\Types";
    const std::string K = "HKCU\\" + k;
    auto expectValue = [&](const std::string& name, std::uint32_t type, const std::string& data) {
        auto store = openHiveStore(config.hiveFile());
        auto v = store->readValue(Hive::CurrentUser, k, name);
        ASSERT_TRUE(v) << name;
        EXPECT_EQ(v->type, type) << name;
        EXPECT_EQ(v->data, bytesOf(data)) << name;
    };
    // Without /v the default value is written: empty text, or what /t and /d give.
    ok({"add", K});
    expectValue("", RegSz, std::string("\0", 1));
    ok({"add", K, "/t", "REG_DWORD", "/d", "0x5", "/f"});
    expectValue("", RegDword, std::string("\x05\0\0\0", 4));
    ok({"add", K, "/d", "WineTest", "/f"});
    expectValue("", RegSz, std::string("WineTest\0", 9));

    ok({"add", K, "/v", "none0", "/d", "ab", "/t", "REG_NONE"});
    expectValue("none0", RegNone, std::string("a\0b\0\0\0", 6));
    ok({"add", K, "/v", "none1", "/t", "REG_NONE"});
    expectValue("none1", RegNone, std::string("\0\0", 2));
    ok({"add", K, "/v", "sz", "/d", "foo\\0bar"});
    expectValue("sz", RegSz, std::string("foo\\0bar\0", 9));
    ok({"add", K, "/v", "exp", "/t", "REG_EXpand_sz", "/d", "dead%PATH%beef"});
    expectValue("exp", RegExpandSz, std::string("dead%PATH%beef\0", 15));
    ok({"add", K, "/v", "bin4", "/t", "REG_BINARY", "/d", "DeAdBeEf0DD"});
    expectValue("bin4", RegBinary, "\x0d\xea\xdb\xee\xf0\xdd");
    ok({"add", K, "/v", "bin5", "/t", "REG_BINARY"});
    expectValue("bin5", RegBinary, "");
    ok({"add", K, "/v", "dword6", "/t", "REG_DWORD", "/D", "0123"});
    expectValue("dword6", RegDword, std::string("\x7b\0\0\0", 4));
    ok({"add", K, "/v", "le", "/t", "REG_DWORD_LITTLE_ENDIAN", "/d", "456"});
    expectValue("le", RegDword, std::string("\xc8\x01\0\0", 4));
    ok({"add", K, "/v", "be", "/t", "REG_DWORD_BIG_ENDIAN", "/d", "0x456"});
    expectValue("be", 5, std::string("\x56\x04\0\0", 4));
    ok({"add", K, "/v", "q9", "/t", "REG_QWORD", "/d", "-1"});
    expectValue("q9", RegQword, std::string(8, '\xff'));
    ok({"add", K, "/v", "q1", "/t", "REG_QWORD"});
    expectValue("q1", RegQword, std::string(8, '\0'));
    ok({"add", K, "/v", "q12", "/t", "reg_qword", "/d", "0xffffffffffffffff"});
    expectValue("q12", RegQword, std::string(8, '\xff'));
    ok({"add", K, "/v", "m0", "/t", "REG_MULTI_SZ", "/d", "three\\0little\\0strings"});
    expectValue("m0", RegMultiSz, std::string("three\0little\0strings\0\0", 22));
    ok({"add", K, "/v", "m1", "/t", "REG_MULTI_SZ", "/s", "#", "/d", "a#"});
    expectValue("m1", RegMultiSz, std::string("a\0\0", 3));
    ok({"add", K, "/v", "m2", "/t", "REG_MULTI_SZ", "/s", "#", "/d", "#"});
    expectValue("m2", RegMultiSz, std::string("\0\0", 2));
    ok({"add", K, "/v", "m3", "/t", "REG_MULTI_SZ", "/d", ""});
    expectValue("m3", RegMultiSz, std::string("\0", 1));
    ok({"add", K, "/v", "m4", "/t", "REG_MULTI_SZ", "/s", "#", "/d", "two\\0#strings"});
    expectValue("m4", RegMultiSz, std::string("two\\0\0strings\0\0", 15));

    // A trailing '\' names the same key; /reg:32 and /reg:64 are accepted.
    ok({"add", K + "\\keytest3\\", "/reg:64"});
    ok({"add", K + "\\https://winehq.org", "/reg:32"});
    auto store = openHiveStore(config.hiveFile());
    EXPECT_TRUE(store->keyExists(Hive::CurrentUser, k + "\\keytest3"));
    EXPECT_TRUE(store->keyExists(Hive::CurrentUser, k + "\\https://winehq.org"));
}

TEST_F(VelmarReg, QueryOptionsAsRegExe) {
    const std::string K = "HKCU\\Software\\Q";
    const std::string F = "HKEY_CURRENT_USER\\Software\\Q";
    ok({"add", K, "/v", "Test1", "/d", "Hello, World"});
    ok({"add", K, "/v", "Test2", "/t", "REG_DWORD", "/d", "0x123"});
    ok({"add", K, "/v", "Wine", "/d", "First instance"});
    ok({"add", K + "\\subkey", "/v", "Test3", "/d", "Some string data"});
    ok({"add", K + "\\subkey", "/v", "Test4", "/t", "REG_DWORD", "/d", "0xabc"});
    ok({"add", K + "\\subkey", "/v", "Wine", "/d", "Second instance"});
    auto query = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "query");
        ToolRun r = velmarReg(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r.out;
    };
    const std::string all = "\n" + F +
                            "\n"
                            "    Test1    REG_SZ    Hello, World\n"
                            "    Test2    REG_DWORD    0x123\n"
                            "    Wine    REG_SZ    First instance\n\n" +
                            F +
                            "\\subkey\n"
                            "    Test3    REG_SZ    Some string data\n"
                            "    Test4    REG_DWORD    0xabc\n"
                            "    Wine    REG_SZ    Second instance\n\n";
    EXPECT_EQ(query({K, "/s"}), all);
    EXPECT_EQ(query({K + "\\", "/s", "/reg:64"}), all);
    EXPECT_EQ(query({K, "/v", "wine", "/s"}), "\n" + F +
                                                  "\n    Wine    REG_SZ    First instance\n\n" + F +
                                                  "\\subkey\n    Wine    REG_SZ    Second "
                                                  "instance\n\n"
                                                  "End of search: 2 match(es) found.\n");
    EXPECT_EQ(query({K, "/f", "INSTANCE", "/s"}),
              "\n" + F + "\n    Wine    REG_SZ    First instance\n\n" + F +
                  "\\subkey\n    Wine    REG_SZ    Second instance\n\n"
                  "End of search: 2 match(es) found.\n");
    EXPECT_EQ(query({K, "/f", "sub", "/k"}),
              "\n" + F + "\\subkey\nEnd of search: 1 match(es) found.\n");
    EXPECT_EQ(query({K, "/f", "Test3", "/e", "/s"}),
              "\n" + F +
                  "\\subkey\n    Test3    REG_SZ    Some string data\n\n"
                  "End of search: 1 match(es) found.\n");
    EXPECT_EQ(query({K, "/f", "hello, world", "/c", "/s"}),
              "\nEnd of search: 0 match(es) found.\n");
    EXPECT_EQ(query({K, "/f", "Hel*rld", "/d", "/e"}),
              "\n" + F +
                  "\n    Test1    REG_SZ    Hello, World\n\nEnd of search: 1 match(es) found.\n");
    EXPECT_EQ(query({K, "/t", "REG_DWORD", "/s"}),
              "\n" + F + "\n    Test2    REG_DWORD    0x123\n\n" + F +
                  "\\subkey\n    Test4    REG_DWORD    0xabc\n\n");
    EXPECT_EQ(query({K, "/v", "Test2", "/z"}),
              "\n" + F + "\n    Test2    REG_DWORD (4)    0x123\n\n");
    ok({"add", K, "/v", "M", "/t", "REG_MULTI_SZ", "/d", "a\\0b"});
    EXPECT_EQ(query({K, "/v", "M", "/se", "#"}), "\n" + F + "\n    M    REG_MULTI_SZ    a#b\n\n");
    // Subkeys are listed as Windows lists them: by name, without regard to letter case.
    ok({"add", K + "\\b"});
    ok({"add", K + "\\A"});
    ok({"add", K + "\\C"});
    const std::string subkeys = query({K, "/k", "/f", "*"});
    EXPECT_EQ(subkeys, "\n" + F + "\\A\n" + F + "\\b\n" + F + "\\C\n" + F +
                           "\\subkey\nEnd of search: 4 match(es) found.\n");

    // Help: /?, /h, -h, -? alone, with exit 0.
    for (const std::vector<std::string>& help :
         std::vector<std::vector<std::string>>{{"/?"},
                                               {"-h"},
                                               {"query", "/?"},
                                               {"add", "/h"},
                                               {"delete", "-H"},
                                               {"export", "-?"},
                                               {"import", "/?"}}) {
        ToolRun r = velmarReg(help);
        EXPECT_EQ(r.exitCode, 0) << help.back();
        EXPECT_NE(r.out.find("velmar-reg"), std::string::npos) << help.back();
    }
}

TEST_F(VelmarReg, ImportRefusesEndlessOrHugeInput) {
    ToolRun r = velmarReg({"import", "/dev/zero"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("larger than 64 MiB"), std::string::npos) << r.err;
    const std::string big = config.dir() + "/big.reg";
    {
        test::writeFile(big, "Windows Registry Editor Version 5.00\n");
        fs::resize_file(big, 64u * 1024 * 1024 + 1);
    }
    refused({"import", big}, "larger than 64 MiB");
    refused({"import", config.dir()}, "can not be read");
    EXPECT_FALSE(fs::exists(config.hiveFile()));
}

TEST_F(VelmarReg, AnImportTheStoreCanNotFinishLeavesNothingApplied) {
    ok({"add", Key, "/v", "Keep", "/d", "1"});
    // Many large values: more than the file size limit below lets the store write.
    std::string text =
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Big]\n";
    std::string bytes;
    for (int i = 0; i < 65536; ++i)
        bytes += (i ? "," : "") + std::string(i % 2 ? "a5" : "5a");
    for (int i = 0; i < 48; ++i)
        text += "\"v" + std::to_string(i) + "\"=hex:" + bytes + "\n";
    text += "[HKEY_CURRENT_USER\\Software\\Tobrel\\VelmarLauncher]\n\"Keep\"=-\n";
    const std::string file = config.dir() + "/big.reg";
    test::writeFile(file, text);
    // The shell's file size limit (in 512-byte blocks) stands in for a full disk.
    QProcess sh;
    sh.start("/bin/sh", {"-c", "ulimit -f 1024; trap '' XFSZ; exec \"$0\" import \"$1\"",
                         VELMAR_BIN_DIR "/velmar-reg", QString::fromStdString(file)});
    sh.closeWriteChannel();
    ASSERT_TRUE(sh.waitForFinished(120000));
    EXPECT_EQ(sh.exitCode(), 1);
    const std::string err = sh.readAllStandardError().toStdString();
    EXPECT_NE(err.find("ERROR: "), std::string::npos) << err;
    EXPECT_NE(err.find("Nothing of " + file + " was imported."), std::string::npos) << err;
    auto store = openHiveStore(config.hiveFile());
    EXPECT_FALSE(store->keyExists(Hive::CurrentUser, "Software\\Big"));
    EXPECT_TRUE(store->readValue(Hive::CurrentUser, "Software\\Tobrel\\VelmarLauncher", "Keep"));
}

TEST_F(VelmarReg, TheStoresLimitsAreReportedAndAnImportBreakingThemAppliesNothing) {
    const std::string longName(256, 'k');
    refused({"add", "HKCU\\Software\\" + longName}, "ERROR: The parameter is incorrect.");
    refused({"add", Key, "/v", std::string(16384, 'v'), "/d", "x"},
            "ERROR: The filename or extension is too long.");
    ok({"add", Key, "/v", "Keep", "/d", "1"});
    const std::string file = config.dir() + "/limits.reg";
    test::writeFile(file, "Windows Registry Editor Version 5.00\n\n"
                          "[HKEY_CURRENT_USER\\Software\\Tobrel\\VelmarLauncher]\n"
                          "\"Keep\"=-\n"
                          "\"New\"=\"value\"\n"
                          "[HKEY_CURRENT_USER\\Software\\Fine]\n"
                          "[HKEY_CURRENT_USER\\Software\\" +
                              longName + "]\n");
    ToolRun r = velmarReg({"import", file});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("ERROR: " + file + ", line 7: The parameter is incorrect.", 0), 0u)
        << r.err;
    EXPECT_NE(r.err.find("Nothing of " + file + " was imported."), std::string::npos) << r.err;
    auto store = openHiveStore(config.hiveFile());
    const std::string k = "Software\\Tobrel\\VelmarLauncher";
    EXPECT_TRUE(store->readValue(Hive::CurrentUser, k, "Keep"));
    EXPECT_FALSE(store->readValue(Hive::CurrentUser, k, "New"));
    EXPECT_FALSE(store->keyExists(Hive::CurrentUser, "Software\\Fine"));
}
