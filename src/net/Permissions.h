#pragma once
// The server's permission table: who may send to whom. Loaded from the administrator's
// permissions file; without one everybody may send to everybody.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum class PermissionKind
{
    Allow,
    Deny,
};

enum class PermissionDecision
{
    None, // no rule speaks about the name; the server treats it as allowed
    Allow,
    Deny,
};

struct PermissionRule
{
    PermissionKind Kind = PermissionKind::Allow;
    std::string Target; // a user name; empty for all users

    bool operator==(const PermissionRule&) const = default;
};

// Rules in file order; the last one that matches decides.
struct PermissionEntry
{
    std::vector<PermissionRule> Rules;

    bool operator==(const PermissionEntry&) const = default;
};

class CPermissions
{
public:
    // Clears the table, then reads the file. On failure `error` holds the file's error
    // text, the XML reader's error or the first fault found in the content, and the table
    // is left empty.
    bool LoadPermissions(const std::string& path, std::string& error);
    // The same over a document already in memory.
    bool LoadPermissionsText(std::string_view text, std::string& error);
    void Clear();

    // The entry of the first user whose name equals `userName` ignoring case, else the
    // default entry.
    const PermissionEntry& EntryFor(const std::string& userName) const;
    // Scans the rules from the last to the first; the first one for all users or for
    // `name` (ignoring case) gives the answer.
    static PermissionDecision Decide(const PermissionEntry& entry, const std::string& name);
    static bool Denies(const PermissionEntry& entry, const std::string& name)
    {
        return Decide(entry, name) == PermissionDecision::Deny;
    }

    const PermissionEntry& DefaultEntry() const { return m_default; }
    const std::vector<std::pair<std::string, PermissionEntry>>& UserEntries() const
    {
        return m_users;
    }

private:
    friend class CPermissionsHandler;
    PermissionEntry m_default;
    std::vector<std::pair<std::string, PermissionEntry>> m_users;
};
