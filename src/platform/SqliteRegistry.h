#pragma once
// The settings tree in an SQLite database. No cache: every read is a query and every
// write is committed at once (WAL, busy time-out), so two processes of the same user
// see each other's writes and never a torn value.
#include "platform/Registry.h"

#include <map>
#include <mutex>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

class CSqliteRegistry : public IRegistry
{
public:
    enum class State
    {
        Ok,
        Damaged
    };

    // Opens or creates the database. A file that is not a readable settings database
    // is left untouched: the registry then fails every operation (reads give defaults).
    explicit CSqliteRegistry(const std::string& path);
    ~CSqliteRegistry() override;
    CSqliteRegistry(const CSqliteRegistry&) = delete;
    CSqliteRegistry& operator=(const CSqliteRegistry&) = delete;

    State GetState() const { return m_state; }
    const std::string& Path() const { return m_path; }
    // Why the database could not be used, for the one notice the user gets.
    const std::string& ErrorText() const { return m_error; }

    RegKeyId OpenKey(const std::string& path, bool create) override;
    bool DeleteKey(const std::string& path) override;
    std::optional<RegValue> QueryValue(RegKeyId key, const std::string& name) override;
    bool SetNumber(RegKeyId key, const std::string& name, uint32_t value) override;
    bool SetString(RegKeyId key, const std::string& name, const std::string& value) override;
    bool DeleteValue(RegKeyId key, const std::string& name) override;
    std::vector<RegValue> EnumValues(RegKeyId key) override;
    std::vector<std::string> EnumSubkeys(RegKeyId key) override;

private:
    bool Fail(const std::string& what);
    sqlite3_stmt* Statement(const char* sql);
    RegKeyId FindChild(RegKeyId parent, const std::string& name);
    bool SetValue(RegKeyId key, const std::string& name, RegType type, uint32_t number,
                  const std::string& text);

    std::string m_path;
    std::string m_error;
    State m_state = State::Damaged;
    sqlite3* m_db = nullptr;
    std::map<const char*, sqlite3_stmt*> m_statements;
    std::recursive_mutex m_mutex;
};
