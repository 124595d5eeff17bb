#include "tools/CommandSupport.h"

#include "platform/regtext/TextEncoding.h"
#include "tools/QueryOutput.h"

#include <QChar>

#include <algorithm>
#include <functional>
#include <ostream>

namespace velmar::regtool::cli {

namespace {

bool globMatch(const std::u16string& p, std::size_t pi, const std::u16string& s, std::size_t si) {
    // Iterative '*' / '?' matching with one backtrack point.
    std::size_t star = std::u16string::npos, mark = 0;
    while (si < s.size()) {
        if (pi < p.size() && (p[pi] == u'?' || p[pi] == s[si])) {
            ++pi, ++si;
        } else if (pi < p.size() && p[pi] == u'*') {
            star = pi++;
            mark = si;
        } else if (star != std::u16string::npos) {
            pi = star + 1;
            si = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == u'*')
        ++pi;
    return pi == p.size();
}

struct Search {
    std::u16string pattern;
    bool caseSensitive = false;
    bool keys = true, names = true, data = true;

    std::u16string fold(const std::string& s) const {
        std::u16string u = regtext::utf8ToUtf16(s);
        if (!caseSensitive)
            for (char16_t& c : u)
                c = static_cast<char16_t>(QChar::toUpper(c));
        return u;
    }
    bool matches(const std::string& text) const { return globMatch(pattern, 0, fold(text), 0); }
};

void walk(RegistryBackend& store, Hive hive, const std::string& path, const std::string& full,
          const std::function<void(const std::string&, const std::string&, bool)>& visit,
          bool root = true) {
    visit(path, full, root);
    auto subkeys = store.subkeys(hive, path);
    sortKeyNames(subkeys);
    for (const auto& sub : subkeys)
        walk(store, hive, path.empty() ? sub : path + "\\" + sub, full + "\\" + sub, visit, false);
}

} // namespace

int query(const std::vector<std::string>& words, std::ostream& out) {
    Options o =
        parseOptions("query", words, {"The key name"}, {" V SE F T ", " VE S K D C E Z "}, false);
    KeyName key = keyArgument("query", o.positional[0]);
    if (o.has("V") && o.has("VE"))
        syntaxError("query", "Only one of /v and /ve may be given.");
    if (o.has("K") && o.has("D"))
        syntaxError("query", "Only one of /k and /d may be given.");
    const bool search = o.has("F") || o.has("K") || o.has("D") || o.has("C") || o.has("E");
    if (search && (o.has("V") || o.has("VE")))
        syntaxError("query", "/f, /k, /d, /c and /e search; they do not go with /v or /ve.");
    std::string separator = "\\0";
    if (const auto* se = o.value("SE")) {
        if (regtext::utf8ToUtf16(*se).size() != 1)
            syntaxError("query", "The separator given with /se must be a single character.");
        separator = *se;
    }
    std::vector<std::uint32_t> types;
    if (const auto* t = o.value("T")) {
        std::size_t pos = 0;
        while (pos <= t->size()) {
            std::size_t comma = t->find(',', pos);
            if (comma == std::string::npos)
                comma = t->size();
            const std::string one = t->substr(pos, comma - pos);
            auto type = typeFromName(one);
            if (!type)
                syntaxError("query", "The type \"" + one + "\" given with /t is not known.");
            types.push_back(*type);
            pos = comma + 1;
        }
    }
    const bool numeric = o.has("Z");
    const bool recurse = o.has("S");
    auto typeOk = [&](const RegValue& v) {
        return types.empty() || std::find(types.begin(), types.end(), v.type) != types.end();
    };
    auto line = [&](const RegValue& v) {
        return valueLine(v, numeric, separator) + "\n";
    };

    RegistryBackend& store = defaultRegistryBackend();
    checkStore(store);
    requireKey(store, key);

    std::string text = "\n";
    std::size_t matches = 0;
    if (search) {
        Search s;
        s.caseSensitive = o.has("C");
        std::u16string pattern =
            regtext::utf8ToUtf16(o.value("F") ? *o.value("F") : std::string("*"));
        if (!s.caseSensitive)
            for (char16_t& c : pattern)
                c = static_cast<char16_t>(QChar::toUpper(c));
        s.pattern = o.has("E") ? pattern : u"*" + pattern + u"*";
        if (o.has("K"))
            s.names = s.data = false;
        if (o.has("D"))
            s.keys = s.names = false;
        auto visitKey = [&](const std::string& path, const std::string& full, bool root) {
            std::string block;
            const std::size_t slash = full.rfind('\\');
            const bool keyMatches = !root && s.keys && s.matches(full.substr(slash + 1));
            if (keyMatches)
                ++matches;
            std::size_t found = 0;
            if (s.names || s.data) {
                for (const auto& v : store.values(key.hive, path)) {
                    if (!typeOk(v))
                        continue;
                    if ((s.names && s.matches(v.name)) || (s.data && s.matches(dataText(v)))) {
                        block += line(v);
                        ++found;
                    }
                }
            }
            matches += found;
            if (keyMatches || found)
                text += full + "\n" + block + (found ? "\n" : "");
        };
        if (recurse) {
            walk(store, key.hive, key.path, key.full(), visitKey);
        } else {
            visitKey(key.path, key.full(), true);
            auto subkeys = store.subkeys(key.hive, key.path);
            sortKeyNames(subkeys);
            for (const auto& sub : subkeys)
                if (s.keys && s.matches(sub)) {
                    text += key.full() + "\\" + sub + "\n";
                    ++matches;
                }
        }
        text += "End of search: " + std::to_string(matches) + " match(es) found.\n";
        out << text;
        return 0;
    }

    if (o.has("V") || o.has("VE")) {
        const std::string name = o.value("V") ? *o.value("V") : std::string();
        if (!recurse) {
            auto v = store.readValue(key.hive, key.path, name);
            if (v && typeOk(*v))
                text += key.full() + "\n" + line(*v) + "\n";
            else if (!v && o.has("VE") && types.empty())
                text += key.full() + "\n    (Default)    REG_SZ    (value not set)\n\n";
            else
                throw Failure{NotFound};
            out << text;
            return 0;
        }
        walk(store, key.hive, key.path, key.full(),
             [&](const std::string& path, const std::string& full, bool) {
                 auto v = store.readValue(key.hive, path, name);
                 if (v && typeOk(*v)) {
                     text += full + "\n" + line(*v) + "\n";
                     ++matches;
                 }
             });
        text += "End of search: " + std::to_string(matches) + " match(es) found.\n";
        out << text;
        return 0;
    }

    // A key with no values prints no line of its own; its subkeys follow, each on a line of
    // its own, or (with /s) each with its values and a blank line.
    auto valuesBlock = [&](const std::string& path) {
        std::string block;
        for (const auto& v : store.values(key.hive, path))
            if (typeOk(v))
                block += line(v);
        return block;
    };
    if (recurse) {
        walk(store, key.hive, key.path, key.full(),
             [&](const std::string& path, const std::string& full, bool root) {
                 const std::string block = valuesBlock(path);
                 if (!root || !block.empty())
                     text += full + "\n" + block + "\n";
             });
    } else {
        const std::string block = valuesBlock(key.path);
        if (!block.empty())
            text += key.full() + "\n" + block + "\n";
        auto subkeys = store.subkeys(key.hive, key.path);
        sortKeyNames(subkeys);
        for (const auto& sub : subkeys)
            text += key.full() + "\\" + sub + "\n";
    }
    out << text;
    return 0;
}

} // namespace velmar::regtool::cli
