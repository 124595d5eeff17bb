// libFuzzer target: the visible text of a fetched page. The first byte picks the Content-Type the
// page comes with, the rest is the page. Whatever the bytes, the text is UTF-8 without NUL
// characters, no text comes of an empty page, and only an HTML page can ask for a refresh.
#include "address/VisibleText.h"

#include <QString>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const char* const types[] = {"",
                                        "text/html",
                                        "text/plain; charset=utf-8",
                                        "text/html; charset=windows-1252",
                                        "text/html; charset=UTF-16LE",
                                        "text/plain; charset=ISO-2022-JP",
                                        "text/html; charset=no-such-charset"};
    if (size == 0 || size > 65536)
        return 0;
    const std::string type = types[data[0] % (sizeof types / sizeof *types)];
    const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
    const velmar::PageText page = velmar::ReadPage(body, type);
    const QString text = QString::fromStdString(page.text);
    if (text.toStdString() != page.text || page.text.find('\0') != std::string::npos)
        std::abort();
    if (body.empty() && !page.text.empty())
        std::abort();
    if (type.rfind("text/plain", 0) == 0 && !page.refresh.empty())
        std::abort();
    return 0;
}
