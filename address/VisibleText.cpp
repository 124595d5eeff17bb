// The visible text of a page. litehtml builds the document (through the gumbo HTML5 parser, so
// scripts, styles, comments, attributes and character references are read as a browser reads
// them) and computes every element's style from the default style sheet below, the page's own
// <style> sheets and its style attributes. The text is then taken from the element tree by the
// computed display, visibility and white-space of each element; nothing is ever drawn or laid
// out, so the document container below answers litehtml's questions and draws nothing.
#include "address/VisibleText.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringDecoder>

#include <litehtml.h>
#include <litehtml/el_before_after.h>
#include <litehtml/el_break.h>
#include <litehtml/el_comment.h>
#include <litehtml/el_image.h>
#include <litehtml/el_space.h>
#include <litehtml/el_text.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <string_view>
#include <vector>

namespace velmar {

namespace {

// A browser's defaults for what the text depends on: which elements are never rendered, which
// are blocks, table parts or list items, and where white space is kept. Scripts run in the
// browser the page was written for, so <noscript> is not shown.
constexpr const char* DefaultStyleSheet = R"css(
area, base, basefont, datalist, head, link, meta, noembed, noframes, param, rp, script, style,
template, title, noscript, [hidden], input[type=hidden i], dialog:not([open]) { display: none }
html, body, address, blockquote, center, dialog, div, figure, figcaption, footer, form, header,
hr, legend, listing, main, p, plaintext, pre, search, xmp, article, aside, h1, h2, h3, h4, h5,
h6, hgroup, nav, section, dir, dd, dl, dt, menu, ol, ul, fieldset, details, summary, optgroup,
option, frameset, frame { display: block }
li { display: list-item }
table { display: table }
caption { display: table-caption }
colgroup { display: table-column-group }
col { display: table-column }
thead { display: table-header-group }
tbody { display: table-row-group }
tfoot { display: table-footer-group }
tr { display: table-row }
td, th { display: table-cell }
input, select, button, textarea, img, iframe, object, embed, video, audio, canvas, svg, math,
marquee, meter, progress { display: inline-block }
listing, plaintext, pre, xmp { white-space: pre }
textarea { white-space: pre-wrap }
nobr { white-space: nowrap }
td[nowrap], th[nowrap] { white-space: nowrap }
)css";

bool IsCollapsibleSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Collects text with the separators between pieces held back until the next visible text, so a
// page never starts or ends with a separator and separators never pile up.
class TextLayout {
public:
    enum Break { None = 0, Space = 1, Tab = 2, Line = 3 };

    void want(Break kind) { pending_ = std::max(pending_, kind); }

    void hardLineBreak() {
        pending_ = None;
        out_ += '\n';
    }

    // A piece of text whose white space collapses (runs of it are one space at most).
    void words(std::string_view piece) {
        std::size_t i = 0;
        while (i < piece.size()) {
            if (IsCollapsibleSpace(piece[i])) {
                while (i < piece.size() && IsCollapsibleSpace(piece[i]))
                    ++i;
                want(Space);
                continue;
            }
            std::size_t end = i;
            while (end < piece.size() && !IsCollapsibleSpace(piece[end]))
                ++end;
            flush();
            out_.append(piece.substr(i, end - i));
            i = end;
        }
    }

    // A piece of text whose white space is kept as it stands.
    void verbatim(std::string_view piece) {
        if (piece.empty())
            return;
        flush();
        out_.append(piece);
    }

    std::string result() {
        while (!out_.empty() && (out_.back() == '\n' || out_.back() == ' '))
            out_.pop_back();
        return std::move(out_);
    }

private:
    void flush() {
        const Break kind = pending_;
        pending_ = None;
        if (out_.empty())
            return;
        const bool atLineStart = out_.back() == '\n';
        switch (kind) {
        case None:
            break;
        case Space:
        case Tab:
            if (!atLineStart)
                out_ += kind == Space ? ' ' : '\t';
            break;
        case Line:
            if (!atLineStart)
                out_ += '\n';
            break;
        }
    }

    std::string out_;
    Break pending_ = None;
};

// Answers litehtml's questions about fonts, media and the viewport with fixed values, and draws
// nothing: only the computed styles of the elements are ever used.
class SilentContainer final : public litehtml::document_container {
public:
    litehtml::uint_ptr create_font(const litehtml::tchar_t*, int size, int, litehtml::font_style,
                                   unsigned int, litehtml::font_metrics* fm) override {
        if (fm) {
            fm->ascent = size;
            fm->descent = size / 4;
            fm->height = size + size / 4;
            fm->x_height = size / 2;
            fm->draw_spaces = false;
        }
        return 1;
    }
    void delete_font(litehtml::uint_ptr) override {}
    int text_width(const litehtml::tchar_t* text, litehtml::uint_ptr) override {
        return static_cast<int>(std::min<std::size_t>(std::strlen(text), 1 << 20)) * 8;
    }
    void draw_text(litehtml::uint_ptr, const litehtml::tchar_t*, litehtml::uint_ptr,
                   litehtml::web_color, const litehtml::position&) override {}
    int pt_to_px(int pt) const override { return pt * 96 / 72; }
    int get_default_font_size() const override { return 16; }
    const litehtml::tchar_t* get_default_font_name() const override { return "sans-serif"; }
    void draw_list_marker(litehtml::uint_ptr, const litehtml::list_marker&) override {}
    void load_image(const litehtml::tchar_t*, const litehtml::tchar_t*, bool) override {}
    void get_image_size(const litehtml::tchar_t*, const litehtml::tchar_t*,
                        litehtml::size& sz) override {
        sz.width = 0;
        sz.height = 0;
    }
    void draw_background(litehtml::uint_ptr, const litehtml::background_paint&) override {}
    void draw_borders(litehtml::uint_ptr, const litehtml::borders&, const litehtml::position&,
                      bool) override {}
    void set_caption(const litehtml::tchar_t*) override {}
    void set_base_url(const litehtml::tchar_t*) override {}
    void link(const std::shared_ptr<litehtml::document>&, const litehtml::element::ptr&) override {}
    void on_anchor_click(const litehtml::tchar_t*, const litehtml::element::ptr&) override {}
    void set_cursor(const litehtml::tchar_t*) override {}
    void transform_text(litehtml::tstring&, litehtml::text_transform) override {}
    // Style sheets of other addresses are not loaded: a lookup fetches the page and nothing else.
    void import_css(litehtml::tstring&, const litehtml::tstring&, litehtml::tstring&) override {}
    void set_clip(const litehtml::position&, const litehtml::border_radiuses&, bool,
                  bool) override {}
    void del_clip() override {}
    void get_client_rect(litehtml::position& client) const override {
        client.x = 0;
        client.y = 0;
        client.width = ViewWidth;
        client.height = ViewHeight;
    }
    std::shared_ptr<litehtml::element>
    create_element(const litehtml::tchar_t*, const litehtml::string_map&,
                   const std::shared_ptr<litehtml::document>&) override {
        return nullptr; // litehtml's own elements
    }
    void get_media_features(litehtml::media_features& media) const override {
        media.type = litehtml::media_type_screen;
        media.width = media.device_width = ViewWidth;
        media.height = media.device_height = ViewHeight;
        media.color = 8;
        media.color_index = 0;
        media.monochrome = 0;
        media.resolution = 96;
    }
    void get_language(litehtml::tstring& language, litehtml::tstring& culture) const override {
        language = "de";
        culture = "de-DE";
    }

private:
    static constexpr int ViewWidth = 1024;
    static constexpr int ViewHeight = 768;
};

litehtml::context& DefaultStyles() {
    static litehtml::context* const context = [] {
        auto* c = new litehtml::context; // kept for the life of the module
        c->load_master_stylesheet(DefaultStyleSheet);
        return c;
    }();
    return *context;
}

bool IsVisible(const litehtml::element& el) {
    return el.get_visibility() == litehtml::visibility_visible;
}

bool IsBlockLevel(litehtml::style_display display) {
    switch (display) {
    case litehtml::display_block:
    case litehtml::display_list_item:
    case litehtml::display_table:
    case litehtml::display_table_caption:
    case litehtml::display_table_row:
    case litehtml::display_table_row_group:
    case litehtml::display_table_header_group:
    case litehtml::display_table_footer_group:
        return true;
    default:
        return false;
    }
}

// One text element: a word, or one white-space character (litehtml splits text into both).
void AddText(litehtml::element& el, bool visible, TextLayout& layout) {
    litehtml::tstring text;
    el.get_text(text);
    const litehtml::white_space ws = el.get_white_space();
    const bool isSpace = el.is_white_space();
    if (!visible) {
        // Hidden text is not shown, but white space beside it still separates what is.
        if (isSpace)
            layout.want(TextLayout::Space);
        return;
    }
    if (ws == litehtml::white_space_pre || ws == litehtml::white_space_pre_wrap) {
        layout.verbatim(text);
    } else if (isSpace && ws == litehtml::white_space_pre_line &&
               text.find('\n') != litehtml::tstring::npos) {
        layout.hardLineBreak();
    } else {
        layout.words(text);
    }
}

// Walks the element tree in document order without recursion (pages may nest deeply).
std::string TextOf(const litehtml::element::ptr& root) {
    TextLayout layout;
    struct Open {
        litehtml::element* el;
        std::size_t next; // the next child to visit
        bool visible;
        TextLayout::Break after;
    };
    std::vector<Open> open;
    auto enter = [&](litehtml::element* el) {
        if (dynamic_cast<litehtml::el_comment*>(el) ||
            dynamic_cast<litehtml::el_before_after_base*>(el) ||
            dynamic_cast<litehtml::el_image*>(el))
            return; // generated content and images give no text
        if (dynamic_cast<litehtml::el_text*>(el)) {
            AddText(*el, open.empty() || open.back().visible, layout);
            return;
        }
        const litehtml::style_display display = el->get_display();
        if (display == litehtml::display_none)
            return;
        const bool visible = IsVisible(*el);
        if (dynamic_cast<litehtml::el_break*>(el)) {
            if (visible)
                layout.hardLineBreak();
            return;
        }
        TextLayout::Break around = TextLayout::None;
        if (IsBlockLevel(display))
            around = TextLayout::Line;
        else if (display == litehtml::display_table_cell)
            around = TextLayout::Tab;
        layout.want(around);
        open.push_back({el, 0, visible, around});
    };
    enter(root.get());
    while (!open.empty()) {
        Open& top = open.back();
        if (top.next < top.el->get_children_count()) {
            const litehtml::element::ptr child = top.el->get_child(static_cast<int>(top.next++));
            if (child)
                enter(child.get());
            continue;
        }
        layout.want(top.after);
        open.pop_back();
    }
    return layout.result();
}

bool IsAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return litehtml::t_tolower(static_cast<unsigned char>(x)) ==
                      litehtml::t_tolower(static_cast<unsigned char>(y));
           });
}

// The target of a refresh declaration ("5; url=/next"), as a browser reads its content
// attribute; "" for one that only reloads the page or is not a refresh at all.
std::string RefreshTarget(std::string_view content) {
    std::size_t i = 0;
    const auto skipSpace = [&] {
        while (i < content.size() && IsAsciiSpace(content[i]))
            ++i;
    };
    const auto at = [&](char lower) {
        return i < content.size() && litehtml::t_tolower(static_cast<unsigned char>(content[i])) ==
                                         static_cast<unsigned char>(lower);
    };
    skipSpace();
    const std::size_t digits = i;
    while (i < content.size() && content[i] >= '0' && content[i] <= '9')
        ++i;
    if (i == digits && !(i < content.size() && content[i] == '.'))
        return {};
    while (i < content.size() && ((content[i] >= '0' && content[i] <= '9') || content[i] == '.'))
        ++i;
    if (i < content.size()) {
        if (content[i] != ';' && content[i] != ',' && !IsAsciiSpace(content[i]))
            return {};
        skipSpace();
        if (i < content.size() && (content[i] == ';' || content[i] == ','))
            ++i;
        skipSpace();
    }
    if (i >= content.size())
        return {};
    const std::size_t urlStart = i;
    if (at('u') && (++i, at('r')) && (++i, at('l'))) {
        ++i;
        skipSpace();
        if (i < content.size() && content[i] == '=') {
            ++i;
            skipSpace();
        } else {
            i = urlStart;
        }
    } else {
        i = urlStart;
    }
    char quote = 0;
    if (i < content.size() && (content[i] == '\'' || content[i] == '"'))
        quote = content[i++];
    std::string_view url = content.substr(i);
    if (quote) {
        const std::size_t end = url.find(quote);
        if (end != std::string_view::npos)
            url = url.substr(0, end);
    }
    while (!url.empty() && IsAsciiSpace(url.back()))
        url.remove_suffix(1);
    return std::string(url);
}

// The first refresh declaration of the document that a browser would act on.
std::string RefreshOf(const litehtml::element::ptr& root) {
    std::vector<litehtml::element*> pending{root.get()};
    while (!pending.empty()) {
        litehtml::element* el = pending.back();
        pending.pop_back();
        const char* tag = el->get_tagName();
        if (tag && EqualsIgnoringCase(tag, "noscript"))
            continue; // its content is not part of the page when scripts run
        if (tag && EqualsIgnoringCase(tag, "meta")) {
            const char* equiv = el->get_attr("http-equiv");
            const char* content = el->get_attr("content");
            if (equiv && content && EqualsIgnoringCase(equiv, "refresh"))
                return RefreshTarget(content);
            continue;
        }
        // Children pushed last to first, so they are taken in document order.
        for (std::size_t n = el->get_children_count(); n > 0; --n) {
            if (litehtml::element::ptr child = el->get_child(static_cast<int>(n - 1)))
                pending.push_back(child.get());
        }
    }
    return {};
}

// The MIME type and the charset parameter of a Content-Type header, both lower case.
void SplitContentType(const std::string& contentType, std::string& mime, std::string& charset) {
    const QList<QByteArray> parts = QByteArray::fromStdString(contentType).split(';');
    mime = parts.isEmpty() ? std::string() : parts.front().trimmed().toLower().toStdString();
    charset.clear();
    for (qsizetype n = 1; n < parts.size(); ++n) {
        const QByteArray item = parts[n].trimmed();
        if (item.size() > 8 && item.left(8).toLower() == "charset=") {
            QByteArray name = item.mid(8).trimmed();
            if (name.size() >= 2 && (name.front() == '"' || name.front() == '\''))
                name = name.mid(1, name.size() - 2);
            charset = name.trimmed().toLower().toStdString();
            return;
        }
    }
}

// The page's bytes as UTF-8: a byte-order mark wins, then the charset the server named, then
// (HTML only) the page's own <meta charset>, then UTF-8. NUL characters become U+FFFD, as a
// browser's parser reads them, so no text after one is lost.
std::string Decode(const std::string& bytes, const std::string& charset, bool html) {
    const QByteArrayView data(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder decoder;
    if (data.startsWith("\xef\xbb\xbf"))
        decoder = QStringDecoder(QStringConverter::Utf8);
    else if (data.startsWith("\xff\xfe"))
        decoder = QStringDecoder(QStringConverter::Utf16LE);
    else if (data.startsWith("\xfe\xff"))
        decoder = QStringDecoder(QStringConverter::Utf16BE);
    if (!decoder.isValid() && !charset.empty())
        decoder = QStringDecoder(charset.c_str());
    if (!decoder.isValid() && html)
        decoder = QStringDecoder::decoderForHtml(data);
    if (!decoder.isValid())
        decoder = QStringDecoder(QStringConverter::Utf8);
    QString text = decoder.decode(data);
    text.replace(QChar(u'\0'), QChar(QChar::ReplacementCharacter));
    return text.toStdString();
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// How much of an HTML text is handed to the engine. The HTML parser's work grows with the number
// of elements times their nesting depth, and the engine keeps the styles of every element and
// word, so a page of a mebibyte of nested tags would hold the UI thread for minutes and take
// gigabytes. The text is cut before the tag or word that would take it past MaxPieces tags and
// words, or past MaxDepth open elements; what comes before is read as usual. The count is an
// estimate from the tags alone (no tree is built): an end tag closes its element and all opened
// inside it, and the elements that close themselves (p, li, td, ...) close an open one of their
// kind.
std::size_t ReadableLength(std::string_view html) {
    constexpr std::size_t MaxPieces = 10000;
    constexpr std::size_t MaxDepth = 128;
    static constexpr std::string_view voidElements[] = {
        "area", "base", "br",    "col",    "embed", "hr",  "img",      "input",   "keygen",
        "link", "meta", "param", "source", "track", "wbr", "basefont", "bgsound", "frame"};
    static constexpr std::string_view rawTextElements[] = {
        "script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes"};
    static constexpr std::string_view selfClosingKinds[] = {
        "p", "li",     "dt",   "dd", "option", "optgroup", "tr",    "td",    "th",
        "a", "button", "nobr", "rb", "rt",     "rp",       "thead", "tbody", "tfoot"};
    static constexpr std::string_view scopeBoundaries[] = {
        "html", "table", "td", "th", "caption", "marquee", "object", "applet", "template"};
    const auto in = [](std::string_view name, auto& list) {
        return std::any_of(std::begin(list), std::end(list),
                           [&](std::string_view n) { return EqualsIgnoringCase(n, name); });
    };
    std::vector<std::string> open;
    std::size_t pieces = 0;
    std::size_t i = 0;
    bool inWord = false;
    bool allText = false;    // after <plaintext>, nothing is markup
    std::size_t textEnd = 0; // inside a raw-text element's text up to here (counted as words)
    const auto skipTo = [&](std::string_view end) {
        const std::size_t at = html.find(end, i);
        i = at == std::string_view::npos ? html.size() : at + end.size();
    };
    while (i < html.size()) {
        const char c = html[i];
        if (c != '<' || allText || i < textEnd) {
            const bool space = IsAsciiSpace(c);
            if (!space && !inWord && ++pieces > MaxPieces)
                return i;
            inWord = !space;
            ++i;
            continue;
        }
        inWord = false;
        const std::string_view rest = html.substr(i);
        if (rest.substr(0, 4) == "<!--") {
            i += 4;
            skipTo("-->");
            continue;
        }
        const bool endTag = rest.size() > 2 && rest[1] == '/' && IsAsciiLetter(rest[2]);
        if (!endTag && (rest.size() < 2 || !IsAsciiLetter(rest[1]))) {
            if (rest.size() >= 2 && (rest[1] == '!' || rest[1] == '?' || rest[1] == '/'))
                skipTo(">"); // a declaration, a processing instruction or a broken end tag
            else
                ++i; // a "<" in the text
            continue;
        }
        const std::size_t tagStart = i;
        std::size_t nameEnd = i + (endTag ? 2 : 1);
        while (nameEnd < html.size() && !IsAsciiSpace(html[nameEnd]) && html[nameEnd] != '/' &&
               html[nameEnd] != '>')
            ++nameEnd;
        const std::string_view name =
            html.substr(i + (endTag ? 2 : 1), nameEnd - i - (endTag ? 2 : 1));
        // The end of the tag, past quoted attribute values ("/>" closes nothing in HTML).
        i = nameEnd;
        char quote = 0;
        while (i < html.size() && (quote || html[i] != '>')) {
            if (quote) {
                if (html[i] == quote)
                    quote = 0;
            } else if (html[i] == '"' || html[i] == '\'') {
                quote = html[i];
            }
            ++i;
        }
        if (i < html.size())
            ++i;
        // The open element of this kind an end tag or a new element of the kind closes: only
        // one inside the nearest table, cell or the like, as the parser's scope rules say.
        const auto openAt = [&](std::string_view kind) {
            for (std::size_t n = open.size(); n > 0; --n) {
                if (EqualsIgnoringCase(open[n - 1], kind))
                    return n;
                if (in(open[n - 1], scopeBoundaries))
                    return std::size_t{0};
            }
            return std::size_t{0};
        };
        if (endTag) {
            if (const std::size_t n = openAt(name))
                open.resize(n - 1);
            continue;
        }
        if (++pieces > MaxPieces)
            return tagStart;
        if (EqualsIgnoringCase(name, "plaintext")) {
            allText = true;
            continue;
        }
        if (in(name, rawTextElements)) {
            // Text up to its end tag, which the parser does not read as markup. Scripts and
            // styles are kept whole; the text of the others is words like any other.
            const std::string end = "</" + std::string(name);
            std::size_t at = html.find('<', i);
            while (at != std::string_view::npos && !StartsWithIgnoringCase(html.substr(at), end))
                at = html.find('<', at + 1);
            const std::size_t stop = at == std::string_view::npos ? html.size() : at;
            if (EqualsIgnoringCase(name, "script") || EqualsIgnoringCase(name, "style"))
                i = stop;
            else
                textEnd = stop;
            continue;
        }
        if (in(name, voidElements))
            continue;
        if (in(name, selfClosingKinds)) {
            if (const std::size_t n = openAt(name))
                open.resize(n - 1);
        }
        if (open.size() >= MaxDepth)
            return tagStart;
        open.emplace_back(name);
    }
    return html.size();
}

PageText ReadHtml(const std::string& decoded) try {
    PageText page;
    SilentContainer container;
    const std::string utf8 = decoded.substr(0, ReadableLength(decoded));
    const litehtml::document::ptr doc =
        litehtml::document::createFromUTF8(utf8.c_str(), &container, &DefaultStyles());
    if (!doc || !doc->root())
        return page;
    page.text = TextOf(doc->root());
    page.refresh = RefreshOf(doc->root());
    return page;
} catch (const std::exception&) {
    // The engine ran out of memory or met something it could not read: nothing was seen.
    return PageText{};
}

} // namespace

PageText ReadPage(const std::string& body, const std::string& contentType) {
    std::string mime, charset;
    SplitContentType(contentType, mime, charset);
    if (mime == "text/plain") {
        // Shown as it stands; line ends read as a browser reads them.
        const QString text = QString::fromStdString(Decode(body, charset, false));
        PageText page;
        page.text = QString(text)
                        .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                        .replace(QChar(u'\r'), QChar(u'\n'))
                        .toStdString();
        return page;
    }
    return ReadHtml(Decode(body, charset, true));
}

std::string VisibleText(const std::string& html, const std::string& charset) {
    return ReadHtml(Decode(html, charset, true)).text;
}

std::string VisibleText(const std::string& html) {
    return VisibleText(html, std::string());
}

} // namespace velmar
