// Where Linux game launchers keep their Wine prefixes, as each project documents its layout:
//   Lutris   installs a game into ~/Games/<game>/ unless told otherwise; the settings file of
//            each game (~/.config/lutris/games/*.yml, in newer versions
//            ~/.local/share/lutris/games/*.yml, and the same below the Flatpak's
//            ~/.var/app/net.lutris.Lutris/) names its prefix in a line "prefix: PATH"
//   Bottles  one prefix per bottle: ~/.local/share/bottles/bottles/<bottle>/, for the Flatpak
//            ~/.var/app/com.usebottles.bottles/data/bottles/bottles/<bottle>/
//   Heroic   ~/Games/Heroic/Prefixes/<game>/ (older versions: Prefixes/default/<game>/); the
//            settings of each game (~/.config/heroic/GamesConfig/*.json, for the Flatpak below
//            ~/.var/app/com.heroicgameslauncher.hgl/config/) name its "winePrefix"
//   Steam    Proton's prefix of a game is <library>/steamapps/compatdata/<app id>/pfx/, for the
//            Steam folders ~/.steam/steam, ~/.local/share/Steam and the Flatpak's
//            ~/.var/app/com.valvesoftware.Steam/.local/share/Steam, and for every further library
//            that <Steam folder>/steamapps/libraryfolders.vdf names ("path")
// A named folder that holds no system.reg itself but whose pfx/ does (a Proton prefix as Heroic
// names it) stands for that pfx/. Only folder listings and small settings files are read here,
// and system.reg files for the game key; nothing below a drive_c.
#include "platform/files/RegularFile.h"
#include "platform/wine/WinePrefix.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>

namespace velmar::wine {

namespace {

constexpr std::size_t MaxListed = 512;            // entries taken from one folder
constexpr std::size_t MaxPrefixes = 256;          // prefixes searched in all
constexpr std::size_t MaxSettingsBytes = 1 << 20; // a launcher's settings file read

// The names in a folder, sorted, at most MaxListed of them (those ending in `suffix`).
std::vector<std::string> listFolder(const std::string& folder, const std::string& suffix = {}) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (!dir)
        return names;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name.size() < suffix.size() ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        names.push_back(name);
        if (names.size() >= MaxListed)
            break;
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A small regular file's text; "" for anything else (never blocks on a FIFO or a device).
std::string readSettingsFile(const std::string& file) {
    files::RegularFile in(file);
    if (!in.isOpen())
        return {};
    std::string text;
    char block[4096];
    for (long n; (n = in.read(block, sizeof block)) > 0;) {
        text.append(block, static_cast<std::size_t>(n));
        if (text.size() > MaxSettingsBytes)
            return {};
    }
    return text;
}

std::string trimmed(std::string_view s) {
    const std::size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = s.find_last_not_of(" \t\r");
    return std::string(s.substr(first, last + 1 - first));
}

class Search {
public:
    explicit Search(std::string home) : home_(std::move(home)) {}

    // A folder that may be a prefix (or hold one in pfx/).
    void add(std::string path) {
        if (path.rfind("~/", 0) == 0)
            path = home_ + path.substr(1);
        if (path.empty() || path.front() != '/' || prefixes_.size() >= MaxPrefixes)
            return;
        if (!prefixExists(path) && prefixExists(path + "/pfx"))
            path += "/pfx";
        if (!prefixExists(path))
            return;
        char* real = realpath(path.c_str(), nullptr);
        const std::string key = real ? real : path;
        std::free(real);
        if (seen_.insert(key).second)
            prefixes_.push_back(path);
    }
    // Every folder in `folder` that is a prefix.
    void addEach(const std::string& folder) {
        for (const std::string& name : listFolder(folder))
            add(folder + "/" + name);
    }
    // The prefixes that Lutris' game files in `folder` name.
    void addLutris(const std::string& folder) {
        for (const std::string& name : listFolder(folder, ".yml")) {
            const std::string text = readSettingsFile(folder + "/" + name);
            std::size_t pos = 0;
            while (pos < text.size()) {
                std::size_t end = text.find('\n', pos);
                if (end == std::string::npos)
                    end = text.size();
                const std::string line = trimmed(std::string_view(text).substr(pos, end - pos));
                pos = end + 1;
                if (line.rfind("prefix:", 0) != 0)
                    continue;
                std::string value = trimmed(std::string_view(line).substr(7));
                if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                    value.back() == value.front())
                    value = value.substr(1, value.size() - 2);
                add(value);
            }
        }
    }
    // The prefixes that Heroic's game settings in `folder` name.
    void addHeroic(const std::string& folder) {
        for (const std::string& name : listFolder(folder, ".json")) {
            const std::string text = readSettingsFile(folder + "/" + name);
            const QJsonObject top =
                QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
            for (auto it = top.begin(); it != top.end(); ++it) {
                const QJsonValue prefix = it.value().toObject().value(QStringLiteral("winePrefix"));
                if (prefix.isString())
                    add(prefix.toString().toStdString());
            }
        }
    }
    // The Proton prefixes of one Steam folder and of the libraries it names.
    void addSteam(const std::string& steam) {
        std::vector<std::string> libraries{steam};
        const std::string vdf = readSettingsFile(steam + "/steamapps/libraryfolders.vdf");
        std::size_t pos = 0;
        while ((pos = vdf.find("\"path\"", pos)) != std::string::npos) {
            pos += 6;
            const std::size_t open = vdf.find('"', pos);
            const std::size_t lineEnd = vdf.find('\n', pos);
            if (open == std::string::npos || open > lineEnd)
                continue;
            std::string path;
            std::size_t i = open + 1;
            for (; i < vdf.size() && vdf[i] != '"' && vdf[i] != '\n'; ++i) {
                if (vdf[i] == '\\' && i + 1 < vdf.size())
                    ++i;
                path += vdf[i];
            }
            pos = i;
            libraries.push_back(path);
        }
        for (const std::string& library : libraries) {
            const std::string compat = library + "/steamapps/compatdata";
            for (const std::string& id : listFolder(compat))
                add(compat + "/" + id + "/pfx");
        }
    }

    std::vector<std::string> prefixes_;

private:
    std::string home_;
    std::set<std::string> seen_;
};

// Whether a registry file may hold the game's key: it has "Holmgard" in some letter case (Wine
// writes ASCII names as they are). For a file that seekRegistryKey can not decide (one made by
// hand, say), read much faster this way than by the registry reader; a file that can not be
// read here (not a regular file, say) is left to the reader. Read in pieces, letters folded, so
// memory stays bounded.
bool mayHoldGameKey(const std::string& file) {
    static constexpr std::string_view Mark = "holmgard";
    files::RegularFile in(file);
    if (!in.isOpen())
        return true; // the reader says what is wrong
    std::string buffer(1 << 16, '\0');
    std::size_t kept = 0; // the end of the previous piece, in case the mark spans two
    bool found = false;
    for (;;) {
        const long n = in.read(buffer.data() + kept, buffer.size() - kept);
        if (n < 0) {
            found = true; // let the reader say what is wrong
            break;
        }
        if (n == 0)
            break;
        const std::size_t end = kept + static_cast<std::size_t>(n);
        for (std::size_t i = kept; i < end; ++i)
            buffer[i] = static_cast<char>(buffer[i] | 0x20); // a filter: other bytes may merge
        if (memmem(buffer.data(), end, Mark.data(), Mark.size())) {
            found = true;
            break;
        }
        kept = std::min(end, Mark.size() - 1);
        std::memmove(buffer.data(), buffer.data() + end - kept, kept);
    }
    return found;
}

// The GAMEPATH of a Wine registry key's values, or "".
std::string gamePathIn(const std::vector<RegValue>& values) {
    for (const RegValue& v : values) {
        QString name = QString::fromStdString(v.name);
        if (name.compare(QStringLiteral("GAMEPATH"), Qt::CaseInsensitive) != 0 ||
            (v.type != RegSz && v.type != RegExpandSz))
            continue;
        std::string text(v.data.begin(), v.data.end());
        while (!text.empty() && text.back() == '\0')
            text.pop_back();
        return text;
    }
    return {};
}

} // namespace

std::vector<std::string> knownPrefixes() {
    const std::string home = homeFolder();
    Search search(home);
    if (const char* env = std::getenv("WINEPREFIX"); env && *env)
        search.add(env);
    search.add(home + "/.wine");
    for (const char* lutris : {"/.config/lutris/games", "/.local/share/lutris/games",
                               "/.var/app/net.lutris.Lutris/config/lutris/games",
                               "/.var/app/net.lutris.Lutris/data/lutris/games"})
        search.addLutris(home + lutris);
    search.addEach(home + "/Games");
    search.addEach(home + "/.local/share/bottles/bottles");
    search.addEach(home + "/.var/app/com.usebottles.bottles/data/bottles/bottles");
    search.addHeroic(home + "/.config/heroic/GamesConfig");
    search.addHeroic(home + "/.var/app/com.heroicgameslauncher.hgl/config/heroic/GamesConfig");
    search.addEach(home + "/Games/Heroic/Prefixes");
    search.addEach(home + "/Games/Heroic/Prefixes/default");
    for (const char* steam : {"/.steam/steam", "/.local/share/Steam",
                              "/.var/app/com.valvesoftware.Steam/.local/share/Steam"})
        search.addSteam(home + steam);
    return search.prefixes_;
}

std::optional<FoundGame> findInstalledGame() {
    static const char* const Keys[] = {"Software\\Holmgard\\VELMARTIDES",
                                       "Software\\Wow6432Node\\Holmgard\\VELMARTIDES"};
    for (const std::string& prefix : knownPrefixes()) {
        const std::string file = systemRegistryFile(prefix);
        // Most prefixes are a game's of its own; a search over the key lines of a file as Wine
        // wrote it tells in a few small reads that the game is not there.
        const std::vector<KeyPresence> presence = seekRegistryKeys(file, {Keys[0], Keys[1]});
        bool unknown = false;
        bool absent = true;
        for (KeyPresence p : presence) {
            unknown = unknown || p == KeyPresence::Unknown;
            absent = absent && p == KeyPresence::Absent;
        }
        if (absent || (unknown && !mayHoldGameKey(file)))
            continue;
        for (std::size_t i = 0; i < 2; ++i) {
            if (presence[i] == KeyPresence::Absent)
                continue;
            const auto values = readRegistryKey(file, Keys[i]);
            if (!values)
                continue;
            std::string folder = gamePathIn(*values);
            if (!folder.empty())
                return FoundGame{prefix, std::move(folder)};
        }
    }
    return std::nullopt;
}

} // namespace velmar::wine
