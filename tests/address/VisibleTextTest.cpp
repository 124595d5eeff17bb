#include "address/DottedQuad.h"
#include "address/VisibleText.h"

#include <gtest/gtest.h>

#include <string>

namespace velmar {
namespace {

std::string Quad(const std::string& text) {
    return FindFirstMatch(text, DottedQuadPattern);
}

TEST(VisibleText, PlainPageText) {
    EXPECT_EQ(VisibleText("<html><body><p>Ihre IP: 84.133.2.17</p></body></html>"),
              "Ihre IP: 84.133.2.17");
    EXPECT_EQ(VisibleText("84.133.2.17"), "84.133.2.17");
    EXPECT_EQ(VisibleText(""), "");
    EXPECT_EQ(VisibleText("<html><head><title>x</title></head></html>"), "");
}

TEST(VisibleText, HiddenPartsAreNotSeen) {
    const std::string page =
        "<!DOCTYPE html><html><head><title>1.1.1.1</title>"
        "<meta name='ip' content='2.2.2.2'>"
        "<style>/* 3.3.3.3 */ p { color: red }</style>"
        "<script>var ip = '4.4.4.4'; if (a < b) document.write('5.5.5.5');</script></head>"
        "<body><!-- 6.6.6.6 --><a href='http://7.7.7.7/' title='8.8.8.8'>link</a>"
        "<img alt='9.9.9.9' src='x.png'><script type='text/javascript'>// 10.10.10.10\n"
        "</script><noscript>11.11.11.11</noscript><template>12.12.12.12</template>"
        "<style>13.13.13.13</style>Ihre IP: 84.133.2.17</body></html>";
    const std::string text = VisibleText(page);
    EXPECT_EQ(Quad(text), "84.133.2.17");
    EXPECT_EQ(text, "linkIhre IP: 84.133.2.17");
}

TEST(VisibleText, TextThePageHidesIsNotSearched) {
    // Each decoy would win, or glue onto the real address, if it were searched.
    const char* const pages[] = {
        "<span style='display:none'>10.0.0.1</span>84.133.2.17",
        "<span style='visibility:hidden'>10.0.0.1</span>84.133.2.17",
        "<span hidden>10.0.0.1</span>84.133.2.17",
        "<style>.x { display: none }</style><span class=x>10.0.0.1</span>84.133.2.17",
        "<style>#a b { visibility: hidden }</style><p id=a><b>10.0.0.1</b>84.133.2.17</p>",
        "<div style='display:none'><p>10.0.0.1</p></div>84.133.2.17",
    };
    for (const char* page : pages)
        EXPECT_EQ(VisibleText(page), "84.133.2.17") << page;
    // What the page shows again inside a hidden part is seen.
    EXPECT_EQ(VisibleText("<div style='visibility:hidden'>1.1.1.1 <b style='visibility:visible'>"
                          "84.133.2.17</b></div>"),
              "84.133.2.17");
}

TEST(VisibleText, DisplayDecidesWhatIsALine) {
    EXPECT_EQ(VisibleText("<div style='display:inline'>84</div>.133.2.17"), "84.133.2.17");
    EXPECT_EQ(VisibleText("<style>i { display: block }</style>84.133.2.17<i>5</i>"),
              "84.133.2.17\n5");
    EXPECT_EQ(VisibleText("<p style='white-space:pre'>a  b</p><p style='white-space:pre-line'>c"
                          "  d\ne</p>"),
              "a  b\nc d\ne");
}

TEST(VisibleText, PlainTextPagesAreText) {
    EXPECT_EQ(ReadPage("<!-- 84.133.2.28 -->\r\n<b>x</b>", "text/plain; charset=utf-8").text,
              "<!-- 84.133.2.28 -->\n<b>x</b>");
    EXPECT_EQ(ReadPage("F\xfcr 1.2.3.4", "Text/Plain;charset=\"ISO-8859-1\"").text,
              "F\xc3\xbcr 1.2.3.4");
    EXPECT_EQ(ReadPage("<!-- 84.133.2.28 --><b>1.2.3.4</b>", "text/html").text, "1.2.3.4");
    EXPECT_EQ(ReadPage("<!-- 84.133.2.28 --><b>1.2.3.4</b>", "").text, "1.2.3.4");
}

TEST(VisibleText, RefreshDeclarations) {
    const auto refresh = [](const std::string& content) {
        return ReadPage("<head><meta http-equiv='Refresh' content=\"" + content + "\"></head>x", "")
            .refresh;
    };
    EXPECT_EQ(refresh("0; url=/next"), "/next");
    EXPECT_EQ(refresh("5;URL='http://a.example/b c'"), "http://a.example/b c");
    EXPECT_EQ(refresh("3 , next.html "), "next.html");
    EXPECT_EQ(refresh("1.5;url = 'x'y"), "x");
    EXPECT_EQ(refresh("60"), "");     // a reload of the page itself
    EXPECT_EQ(refresh("url=/x"), ""); // no time: not a refresh
    EXPECT_EQ(refresh("5x;url=/x"), "");
    EXPECT_EQ(ReadPage("<body><noscript><meta http-equiv=refresh content='0;url=/n'></noscript>"
                       "<meta http-equiv=refresh content='0;url=/b'>",
                       "")
                  .refresh,
              "/b");
    EXPECT_EQ(ReadPage("<meta http-equiv=refresh content='0;url=/n'>", "text/plain").refresh, "");
}

TEST(VisibleText, ScriptTextIsNotEndedByMarkupInsideIt) {
    EXPECT_EQ(VisibleText("<body><script>var s = '<p>1.2.3.4</p><!--';</script>ok</body>"), "ok");
}

TEST(VisibleText, CharacterReferencesAreDecoded) {
    EXPECT_EQ(VisibleText("<body>&#56;4.133.2.17</body>"), "84.133.2.17");
    EXPECT_EQ(VisibleText("<body>&#x38;4&#46;133.2.17</body>"), "84.133.2.17");
    EXPECT_EQ(VisibleText("<body>a &amp; b &lt;c&gt; &quot;d&quot;</body>"), "a & b <c> \"d\"");
    EXPECT_EQ(VisibleText("<body>Gr&ouml;&szlig;e&nbsp;1</body>"), "Gr\xc3\xb6\xc3\x9f"
                                                                   "e\xc2\xa0"
                                                                   "1");
    // An escaped tag is text, not markup.
    EXPECT_EQ(VisibleText("<body>&lt;b&gt;1.2.3.4&lt;/b&gt;</body>"), "<b>1.2.3.4</b>");
}

TEST(VisibleText, BlocksNeverRunTogether) {
    // Each case must keep the two numbers apart, or the address would grow by a digit.
    const char* const pages[] = {
        "<div>84.133.2.17</div>5",
        "<p>84.133.2.17</p>5",
        "84.133.2.17<br>5",
        "<ul><li>84.133.2.17</li><li>5</li></ul>",
        "<table><tr><td>84.133.2.17</td><td>5</td></tr></table>",
        "<table><tr><th>84.133.2.17</th></tr><tr><td>5</td></tr></table>",
        "<h1>84.133.2.17</h1>5",
        "84.133.2.17<div>5</div>",
        "<section>84.133.2.17</section><article>5</article>",
        "<div><span>84.133.2.17</span></div><span>5</span>",
        "84.133.2.17<hr>5",
        "<dl><dt>84.133.2.17</dt><dd>5</dd></dl>",
        "<blockquote>84.133.2.17</blockquote>5",
    };
    for (const char* page : pages) {
        const std::string text = VisibleText(page);
        EXPECT_EQ(Quad(text), "84.133.2.17") << page << " -> " << text;
    }
    EXPECT_EQ(VisibleText("<div>84.133.2.17</div>5"), "84.133.2.17\n5");
    EXPECT_EQ(VisibleText("x<div>a</div><div>b</div>y"), "x\na\nb\ny");
    EXPECT_EQ(VisibleText("<table><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table>"),
              "a\tb\nc");
}

TEST(VisibleText, InlineMarkupJoinsAsTheBrowserShowsIt) {
    EXPECT_EQ(VisibleText("<b>84</b>.<i>133</i>.<span>2.17</span>"), "84.133.2.17");
    EXPECT_EQ(VisibleText("<p>  Ihre\n\n   IP:\t 84.133.2.17  </p>"), "Ihre IP: 84.133.2.17");
    EXPECT_EQ(VisibleText("<pre>1.2.3.4\n  5</pre>"), "1.2.3.4\n  5");
}

TEST(VisibleText, BrokenMarkupStillGivesText) {
    EXPECT_EQ(Quad(VisibleText("<html><body><div><p>IP <b>84.133.2.17")), "84.133.2.17");
    EXPECT_EQ(Quad(VisibleText("<<<>>> 84.133.2.17 </div></span>")), "84.133.2.17");
    EXPECT_EQ(VisibleText(std::string("1.2.3.4\0<b>x", 12)), "1.2.3.4\xef\xbf\xbdx");
    // Nesting far deeper than any page's: what comes before it is read (and the read ends).
    std::string deep = "<p>84.133.2.17</p>";
    for (int n = 0; n < 100000; ++n)
        deep += "<div><span>";
    EXPECT_EQ(VisibleText(deep + "10.0.0.1"), "84.133.2.17");
    std::string wide = "<p>84.133.2.17</p>";
    for (int n = 0; n < 50000; ++n)
        wide += "<b>w</b> ";
    EXPECT_EQ(VisibleText(wide + "10.0.0.1").find("10.0.0.1"), std::string::npos);
    std::string words;
    for (int n = 0; n < 50000; ++n)
        words += "w ";
    for (const char* open : {"<textarea>", "<plaintext>"})
        EXPECT_EQ(VisibleText(open + words + "10.0.0.1").find("10.0.0.1"), std::string::npos)
            << open;
}

TEST(VisibleText, CharacterSets) {
    // Declared by the server.
    EXPECT_EQ(VisibleText("<body>Gr\xf6\xdf"
                          "e 1.2.3.4</body>",
                          "ISO-8859-1"),
              "Gr\xc3\xb6\xc3\x9f"
              "e 1.2.3.4");
    // Declared in the page.
    EXPECT_EQ(VisibleText("<html><head><meta charset='iso-8859-1'></head><body>\xe4</body></html>"),
              "\xc3\xa4");
    // Undeclared UTF-8 stays UTF-8.
    EXPECT_EQ(VisibleText("<body>\xc3\xa4 1.2.3.4</body>"), "\xc3\xa4 1.2.3.4");
    // A name nobody knows: the page is still read.
    EXPECT_EQ(VisibleText("<body>1.2.3.4</body>", "no-such-charset"), "1.2.3.4");
}

} // namespace
} // namespace velmar
