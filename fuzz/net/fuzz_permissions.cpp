// An administrator's permissions file of any content: loading either succeeds or gives an
// error text, and the loaded table answers questions without trouble.
#include "net/Permissions.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    CPermissions table;
    std::string error;
    if (!table.LoadPermissionsText(text, error)) {
        if (error.empty() || !table.UserEntries().empty() || !table.DefaultEntry().Rules.empty())
            std::abort();
        return 0;
    }
    for (const auto& [name, entry] : table.UserEntries()) {
        if (name.empty() || &table.EntryFor(name) != &entry)
            std::abort();
        for (const auto& rule : entry.Rules)
            CPermissions::Decide(table.EntryFor(rule.Target), name);
    }
    CPermissions::Decide(table.EntryFor("Owen"), "all users");
    return 0;
}
