#include "tools/CommandSupport.h"

#include "tools/QueryOutput.h"

#include <ostream>

namespace velmar::regtool::cli {

int remove(const std::vector<std::string>& words, std::ostream& out) {
    Options o = parseOptions("delete", words, {"The key name"}, {" V ", " VE VA F "}, false);
    KeyName key = keyArgument("delete", o.positional[0]);
    if (int(o.has("V")) + int(o.has("VE")) + int(o.has("VA")) > 1)
        syntaxError("delete", "Only one of /v, /ve and /va may be given.");
    const bool wholeKey = !o.has("V") && !o.has("VE") && !o.has("VA");
    const bool force = o.has("F");
    const std::string full = key.full();
    if (wholeKey && key.path.empty())
        throw Failure{"ERROR: The root of a hive can not be deleted."};
    RegistryBackend& store = defaultRegistryBackend();
    checkStore(store);
    requireKey(store, key);

    if (wholeKey) {
        if (!force && !confirm(out, "Permanently delete the registry key " + full + " (Yes/No)?",
                               "The key " + full + " was not deleted."))
            cancelled();
        if (!store.deleteKey(key.hive, key.path))
            storeFailure(store);
    } else if (o.has("VA")) {
        if (!force &&
            !confirm(out, "Delete all values under the registry key " + full + " (Yes/No)?",
                     "The values of " + full + " were not deleted."))
            cancelled();
        RegistryTransaction group(store);
        if (!group.active())
            storeFailure(store);
        for (const auto& v : store.values(key.hive, key.path))
            if (!store.deleteValue(key.hive, key.path, v.name))
                storeFailure(store);
        if (!group.commit())
            storeFailure(store);
    } else {
        const std::string name = o.value("V") ? *o.value("V") : std::string();
        if (!store.readValue(key.hive, key.path, name))
            throw Failure{NotFound};
        if (!force && !confirm(out, "Delete the registry value " + displayName(name) + " (Yes/No)?",
                               "The value " + displayName(name) + " was not deleted."))
            cancelled();
        if (!store.deleteValue(key.hive, key.path, name))
            storeFailure(store);
    }
    out << Done << "\n";
    return 0;
}

} // namespace velmar::regtool::cli
