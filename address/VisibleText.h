#pragma once
// What a browser shows of a fetched page, as its body.innerText would give it. An HTML page is
// laid out by litehtml (a CSS engine: the page's own style sheets and style attributes decide
// what is hidden and what is a block), with a document container that draws nothing; a
// text/plain page is its text.
#include <string>

namespace velmar {

struct PageText {
    // The visible text, UTF-8: blocks and <br> separate lines, table cells are separated by
    // tabs, inline elements join as they are shown, text that the page hides is left out.
    std::string text;
    // Where a <meta http-equiv="refresh"> sends the browser, as the page writes it (possibly
    // relative); "" when the page has none or only reloads itself.
    std::string refresh;
};

// `contentType` is the page's Content-Type header ("text/html; charset=ISO-8859-1"), or "" when
// there was none (the page is then taken as HTML). The bytes are read in the charset it names,
// else (HTML only) as the page itself declares (byte-order mark, <meta charset>), else as UTF-8.
// Never raises; bytes that are not text in that charset become U+FFFD.
PageText ReadPage(const std::string& body, const std::string& contentType);

// The visible text of an HTML document (see PageText::text), read in `charset` when given.
std::string VisibleText(const std::string& html);
std::string VisibleText(const std::string& html, const std::string& charset);

} // namespace velmar
