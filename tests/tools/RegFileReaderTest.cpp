// The .reg reader on its own: which lines reg.exe reads, which it skips, and what reaches the
// store.
#include "tools/RegFileReader.h"

#include <gtest/gtest.h>

#include <map>

using namespace velmar;
using namespace velmar::regtool;

namespace {

const std::string Head = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\T]\n";

std::vector<std::uint8_t> bytes(const std::string& s) {
    return std::vector<std::uint8_t>(s.begin(), s.end());
}

// The values a file sets, by name; a name that is skipped is missing.
std::map<std::string, RegValue> valuesOf(const std::string& file) {
    std::map<std::string, RegValue> out;
    for (const auto& step : readRegFile(file).steps)
        if (step.kind == ImportStep::SetValue)
            out[step.value.name] = step.value;
    return out;
}

TEST(RegFileReader, CommentsAndTrailingTextAsRegExeReadsThem) {
    auto v = valuesOf(Head + "#comment\n"
                             ";comment\n"
                             "\"Wine10\"=\"Value 1\"#comment\n"
                             "\"Wine11\"=\"Value 2\";comment\n"
                             "\"Wine12\"=dword:01020304 #comment\n"
                             "\"Wine13\"=dword:02040608 ;comment\n"
                             "\"Wine22\"=\"#comment1\"\n"
                             "\"Wine20\"=#\"Value 8\"\n"
                             "\"Wine36a\"=dword:1234;5678\n"
                             "\"Wine33c\"=dword:123456789\n"
                             "\"Wine35a\"=dword:0x123\n"
                             "\"Wine37a\"=\"foo\"bar\"\n"
                             "\"Wine39a\"=\"Value1\"  ;comment\n"
                             "\"Wine39c\"=\"Value3\"  #comment\n"
                             "NameNoQuotes=\"x\"\n"
                             "\"NameNoEndQuote=\"x\"\n"
                             "\"Wine\\\n42a\"=\"Value 1\"\n"
                             "\"double\\\"quote\"=\"valid \\\"or\\\" not\"\n"
                             "    \"Wine5d\"    \t    =    \t    \"More whitespace\"\n"
                             "\"Wine9a\"=dword:  00000008\n"
                             "\t@\t=\tdword:\t00000008\t\n"
                             "\"Zero1\"=\"a\\0b\"\n"
                             "\"Zero\\0\"=\"x\"\n"
                             "\"Zero2\"=\"a\\\\0b\"\n"
                             "\"Wine5\"=\"No newline\"");
    for (const char* missing : {"Wine10", "Wine12", "Wine20", "Wine33c", "Wine35a", "Wine37a",
                                "Wine39c", "NameNoQuotes", "Wine42a", "Zero1", "Zero\\0", "Zero"})
        EXPECT_EQ(v.count(missing), 0u) << missing;
    EXPECT_EQ(v["Wine11"].data, bytes(std::string("Value 2\0", 8)));
    EXPECT_EQ(v["Wine13"].data, bytes(std::string("\x08\x06\x04\x02", 4)));
    EXPECT_EQ(v["Wine22"].data, bytes(std::string("#comment1\0", 10)));
    EXPECT_EQ(v["Wine36a"].data, bytes(std::string("\x34\x12\0\0", 4)));
    EXPECT_EQ(v["Wine39a"].data, bytes(std::string("Value1\0", 7)));
    EXPECT_EQ(v["double\"quote"].data, bytes(std::string("valid \"or\" not\0", 15)));
    EXPECT_EQ(v["Wine5d"].data, bytes(std::string("More whitespace\0", 16)));
    EXPECT_EQ(v["Wine9a"].data, bytes(std::string("\x08\0\0\0", 4)));
    EXPECT_EQ(v[""].data, bytes(std::string("\x08\0\0\0", 4)));
    EXPECT_EQ(v["Zero2"].data, bytes(std::string("a\\0b\0", 5)));
    EXPECT_EQ(v["Wine5"].data, bytes(std::string("No newline\0", 11)));
}

TEST(RegFileReader, HexContinuationsAsRegExeReadsThem) {
    auto v = valuesOf(Head + "\"M1\"=hex(7):4c,69,6e,65,20,\\\n"
                             "  63,6f,6e,\\;comment\n"
                             "  ;comment line\n"
                             "\n"
                             "  63,61,74,65,6e,61,74,69,6f,6e,00,00\n"
                             "\"M2\"=hex(7):4c,69,6e,65,20,\\\n"
                             "  63,6f,6e,\\;comment\n"
                             "  63,61,74,;comment\n"
                             "  65,6e,61,74,69,6f,6e,00,00\n"
                             "\"M3\"=hex(7):4c,69,6e,65,20\\\n"
                             ",63,6f,6e\n"
                             "\"M9\"=hex(7):4c,69,\\#comment\n"
                             "  6e\n"
                             "\"B1\"=hex:11,22,33,4\\\n"
                             "  4,55\n"
                             "\"B2\"=hex:11,22,\\\n"
                             "#comment\n"
                             "\"B3\"=hex:11,22,\\\n"
                             "\"B4\"=\"swallowed\"\n"
                             "\"B5\"=hex:\\\n"
                             "  11,22\n"
                             "\"B6\"=hex:,\\\n"
                             "  11\n"
                             "\"B7\"=hex:11,\\\n"
                             "\\\n"
                             "  22\n"
                             "\"B8\"=hex:25,50,100\n"
                             "\"B9\"=hex:11,  \\\n"
                             "  22,\n"
                             "\"T1\"=hex(7fffffff):01\n"
                             "\"T2\"=hex(100000000):01\n"
                             "\"T3\"=hex(0x2):01\n"
                             "\"E\"=hex(2):25,50,41,54,48,25,00  ;comment\n"
                             "\"Last\"=hex:11,22,\\\n"
                             "  ;comment\n");
    EXPECT_EQ(v["M1"].type, RegMultiSz);
    EXPECT_EQ(v["M1"].data, bytes(std::string("Line concatenation\0\0", 20)));
    EXPECT_EQ(v["M2"].data, bytes("Line concat"));
    for (const char* missing : {"M3", "M9", "B1", "B2", "B3", "B4", "B6", "B7", "B8", "T2", "T3"})
        EXPECT_EQ(v.count(missing), 0u) << missing;
    EXPECT_EQ(v["B5"].data, bytes("\x11\x22"));
    EXPECT_EQ(v["B9"].data, bytes("\x11\x22"));
    EXPECT_EQ(v["T1"].type, 0x7fffffffu);
    EXPECT_EQ(v["E"].data, bytes(std::string("%PATH%\0", 7)));
    EXPECT_EQ(v["Last"].data, bytes("\x11\x22"));
}

TEST(RegFileReader, KeyLinesAndDeletionsAsRegExeReadsThem) {
    const RegFileContent c = readRegFile("Windows Registry Editor Version 5.00\n\n"
                                         "[HKEY_CURRENT_USER\\Software\\A\\\\B\\]\n"
                                         "[ HKEY_CURRENT_USER\\Software\\Bad]\n"
                                         "\"X\"=\"under no key\"\n"
                                         "[HKEY_CURRENT_USERS\\Software\\Bad]\n"
                                         "[hkey_local_MACHINE\\Software\\Sub key ]\n"
                                         "\"Y\"=\"1\"\n"
                                         "\"Y\"=  -\n"
                                         "\"Z\"=-\"Test\"\n"
                                         "[-HKEY_CURRENT_USER\\Software\\Gone]\n"
                                         "\"W\"=\"after a deletion\"\n"
                                         "[- HKEY_CURRENT_USER\\Software\\Kept]\n"
                                         "[-HKEY_CURRENT_USER]\n"
                                         "[HKEY_CURRENT_USER\\No_Closing_Bracket\n");
    ASSERT_EQ(c.format, RegFileFormat::Version5);
    ASSERT_EQ(c.steps.size(), 5u);
    EXPECT_EQ(c.steps[0].kind, ImportStep::CreateKey);
    EXPECT_EQ(c.steps[0].path, "Software\\A\\B");
    EXPECT_EQ(c.steps[0].line, 3u);
    EXPECT_EQ(c.steps[1].hive, Hive::LocalMachine);
    EXPECT_EQ(c.steps[1].path, "Software\\Sub key ");
    EXPECT_EQ(c.steps[2].kind, ImportStep::SetValue);
    EXPECT_EQ(c.steps[3].kind, ImportStep::DeleteValue);
    EXPECT_EQ(c.steps[3].value.name, "Y");
    EXPECT_EQ(c.steps[4].kind, ImportStep::DeleteKey);
    EXPECT_EQ(c.steps[4].path, "Software\\Gone");
    std::vector<std::size_t> skipped;
    for (const auto& s : c.skipped)
        skipped.push_back(s.line);
    EXPECT_EQ(skipped, (std::vector<std::size_t>{4, 5, 6, 10, 12, 13, 14, 15}));
}

TEST(RegFileReader, KeepsTheFirstHundredReasonsAndCountsTheRest) {
    std::string file = Head;
    for (int i = 0; i < 1000; ++i)
        file += "garbage\n";
    const RegFileContent c = readRegFile(file);
    EXPECT_EQ(c.skippedCount, 1000u);
    ASSERT_EQ(c.skipped.size(), MaxSkippedLines);
    EXPECT_EQ(c.skipped.front().line, 4u);
}

TEST(RegFileReader, HeadersAndEncodings) {
    EXPECT_EQ(readRegFile("").format, RegFileFormat::Invalid);
    EXPECT_EQ(readRegFile(" \tREGEDIT4\r\n").format, RegFileFormat::Regedit4);
    EXPECT_EQ(readRegFile("REGEDIT4FOO\n").format, RegFileFormat::Ignored);
    EXPECT_EQ(readRegFile("Windows Registry Editor Version 5\n").format, RegFileFormat::Invalid);
    // UTF-16LE: text is converted to UTF-8, hex(1) included; 0xDC80..0xDCFF stand for bytes
    // that are not UTF-8.
    const std::u16string text = u"Windows Registry Editor Version 5.00\r\n"
                                u"[HKEY_CURRENT_USER\\\u00c4]\r\n"
                                u"\"\u20ac\xdcff\"=hex(1):56,00,e4,00,00,00\r\n";
    std::string file = "\xFF\xFE";
    for (char16_t c : text) {
        file += static_cast<char>(c & 0xFF);
        file += static_cast<char>(c >> 8);
    }
    const RegFileContent c = readRegFile(file);
    ASSERT_EQ(c.steps.size(), 2u);
    EXPECT_EQ(c.steps[0].path, "\xC3\x84");
    EXPECT_EQ(c.steps[1].value.name, "\xE2\x82\xAC\xFF");
    EXPECT_EQ(c.steps[1].value.type, RegSz);
    EXPECT_EQ(c.steps[1].value.data, bytes(std::string("V\xC3\xA4\0", 4)));
}

} // namespace
