// The visible text of an HTML page, close to what a browser's body.innerText gives: the page is
// parsed by libxml2's HTML parser (which knows where scripts, styles, comments and attributes
// end and decodes character references), and the tree is walked to lay the text out in lines.
#include "address/PageFetcher.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <string_view>

namespace velmar {

namespace {

bool NameIs(const xmlNode* node, std::initializer_list<std::string_view> names) {
    if (!node->name)
        return false;
    const std::string_view name(reinterpret_cast<const char*>(node->name));
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Elements whose content is never shown on the page.
bool IsHidden(const xmlNode* node) {
    return NameIs(node, {"head", "title", "script", "style", "noscript", "template", "meta", "link",
                         "base", "iframe", "object", "embed", "applet", "frameset"});
}

// Elements that sit on lines of their own.
bool IsBlock(const xmlNode* node) {
    return NameIs(node, {"address", "article", "aside",     "blockquote", "body",    "caption",
                         "center",  "dd",      "details",   "dialog",     "dir",     "div",
                         "dl",      "dt",      "fieldset",  "figcaption", "figure",  "footer",
                         "form",    "h1",      "h2",        "h3",         "h4",      "h5",
                         "h6",      "header",  "hgroup",    "hr",         "html",    "legend",
                         "li",      "listing", "main",      "menu",       "nav",     "ol",
                         "option",  "p",       "plaintext", "pre",        "section", "select",
                         "summary", "table",   "tbody",     "tfoot",      "thead",   "tr",
                         "ul",      "xmp",     "textarea",  "optgroup",   "frame"});
}

bool IsCell(const xmlNode* node) {
    return NameIs(node, {"td", "th"});
}

bool KeepsWhitespace(const xmlNode* node) {
    return NameIs(node, {"pre", "listing", "plaintext", "xmp", "textarea"});
}

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

    void text(std::string_view piece, bool keepWhitespace) {
        if (keepWhitespace) {
            if (!piece.empty()) {
                flush();
                out_.append(piece);
            }
            return;
        }
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

void Walk(const xmlNode* node, TextLayout& layout, bool keepWhitespace) {
    for (; node; node = node->next) {
        switch (node->type) {
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
            if (node->content)
                layout.text(reinterpret_cast<const char*>(node->content), keepWhitespace);
            break;
        case XML_ELEMENT_NODE: {
            if (IsHidden(node))
                break;
            if (NameIs(node, {"br"})) {
                layout.hardLineBreak();
                break;
            }
            const bool block = IsBlock(node);
            const bool cell = IsCell(node);
            if (block)
                layout.want(TextLayout::Line);
            else if (cell)
                layout.want(TextLayout::Tab);
            Walk(node->children, layout, keepWhitespace || KeepsWhitespace(node));
            if (block)
                layout.want(TextLayout::Line);
            else if (cell)
                layout.want(TextLayout::Tab);
            break;
        }
        default: // comments, processing instructions, document types: nothing visible
            break;
        }
    }
}

const xmlNode* FindElement(const xmlNode* node, std::string_view name) {
    for (; node; node = node->next) {
        if (node->type != XML_ELEMENT_NODE)
            continue;
        if (NameIs(node, {name}))
            return node;
        if (const xmlNode* found = FindElement(node->children, name))
            return found;
    }
    return nullptr;
}

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

} // namespace

std::string VisibleText(const std::string& html, const std::string& charset) {
    if (html.empty() || html.size() > static_cast<std::size_t>(INT_MAX))
        return {};
    constexpr int options =
        HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET;
    const int size = static_cast<int>(html.size());
    std::unique_ptr<xmlDoc, DocFree> doc(htmlReadMemory(
        html.data(), size, nullptr, charset.empty() ? nullptr : charset.c_str(), options));
    if (!doc && !charset.empty()) // a character set the parser does not know: let it guess
        doc.reset(htmlReadMemory(html.data(), size, nullptr, nullptr, options));
    if (!doc)
        return {};
    const xmlNode* root = xmlDocGetRootElement(doc.get());
    const xmlNode* body = FindElement(root, "body");
    if (!body) // a page without a body has no visible text
        return {};
    TextLayout layout;
    Walk(body->children, layout, false);
    return layout.result();
}

std::string VisibleText(const std::string& html) {
    return VisibleText(html, std::string());
}

} // namespace velmar
