#include "platform/SqliteRegistry.h"

#include "platform/PrivateFiles.h"

#include <fcntl.h>
#include <filesystem>
#include <sqlite3.h>
#include <unistd.h>

namespace {

constexpr RegKeyId kRootKey = 1;

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS keys(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,
    name TEXT NOT NULL COLLATE NOCASE,
    UNIQUE(parent, name));
CREATE TABLE IF NOT EXISTS vals(
    key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
    name TEXT NOT NULL COLLATE NOCASE,
    type INTEGER NOT NULL,
    data BLOB,
    UNIQUE(key, name));
INSERT OR IGNORE INTO keys(id, parent, name) VALUES(1, NULL, '');
)sql";

std::string ColumnText(sqlite3_stmt* statement, int column)
{
    auto data = static_cast<const char*>(sqlite3_column_blob(statement, column));
    return data ? std::string(data, sqlite3_column_bytes(statement, column)) : std::string();
}

RegValue ReadValueRow(sqlite3_stmt* statement)
{
    RegValue value;
    value.Name = ColumnText(statement, 0);
    value.Type = sqlite3_column_int(statement, 1) == 0 ? RegType::Number : RegType::String;
    if (value.Type == RegType::Number)
        value.Number = static_cast<uint32_t>(sqlite3_column_int64(statement, 2));
    else
        value.Text = ColumnText(statement, 2);
    return value;
}

// Resets a cached statement when the caller's scope ends, whatever path it takes.
struct StatementUse
{
    sqlite3_stmt* s;
    explicit StatementUse(sqlite3_stmt* statement) : s(statement) {}
    ~StatementUse()
    {
        if (s) {
            sqlite3_reset(s);
            sqlite3_clear_bindings(s);
        }
    }
    explicit operator bool() const { return s != nullptr; }
};

void BindText(sqlite3_stmt* statement, int index, const std::string& text)
{
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

} // namespace

CSqliteRegistry::CSqliteRegistry(const std::string& path) : m_path(path)
{
    // The settings hold the scrambled options password and the AutoType texts: the folder
    // and the database are the user's alone. SQLite gives its -wal and -shm files the
    // database's permissions.
    auto folder = std::filesystem::path(path).parent_path();
    if (!folder.empty())
        MakePrivateFolders(folder.string());
    int made = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode);
    if (made >= 0)
        ::close(made);
    for (const char* suffix : {"", "-wal", "-shm"})
        KeepFilePrivate(path + suffix);

    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        Fail("cannot open it");
        return;
    }
    sqlite3_busy_timeout(m_db, 5000);
    sqlite3_extended_result_codes(m_db, 1);
    // A quick check first: a damaged file must not be "repaired" by creating tables in it.
    sqlite3_stmt* check = nullptr;
    if (sqlite3_prepare_v2(m_db, "PRAGMA quick_check", -1, &check, nullptr) != SQLITE_OK) {
        Fail("it is not a settings database");
        return;
    }
    int rc = sqlite3_step(check);
    std::string verdict = rc == SQLITE_ROW ? ColumnText(check, 0) : std::string();
    sqlite3_finalize(check);
    if (rc != SQLITE_ROW || verdict != "ok") {
        Fail("it is damaged");
        return;
    }
    sqlite3_stmt* tables = nullptr;
    bool foreign = false;
    if (sqlite3_prepare_v2(m_db,
                           "SELECT count(*) FROM sqlite_master WHERE type='table' AND name NOT "
                           "IN ('keys','vals') AND name NOT LIKE 'sqlite!_%' ESCAPE '!'",
                           -1, &tables, nullptr) == SQLITE_OK &&
        sqlite3_step(tables) == SQLITE_ROW)
        foreign = sqlite3_column_int(tables, 0) != 0;
    sqlite3_finalize(tables);
    if (foreign) {
        Fail("it is a database of another program");
        return;
    }
    sqlite3_exec(m_db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (sqlite3_exec(m_db, "PRAGMA foreign_keys=ON; PRAGMA synchronous=NORMAL", nullptr, nullptr,
                     nullptr) != SQLITE_OK ||
        sqlite3_exec(m_db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
        // A read-only file still reads; only a file we cannot even query is refused.
        if (sqlite3_errcode(m_db) != SQLITE_READONLY) {
            Fail("it cannot be read");
            return;
        }
    }
    m_state = State::Ok;
}

CSqliteRegistry::~CSqliteRegistry()
{
    for (auto& [sql, statement] : m_statements)
        sqlite3_finalize(statement);
    if (m_db)
        sqlite3_close(m_db);
}

bool CSqliteRegistry::Fail(const std::string& what)
{
    m_error = what;
    if (m_db) {
        std::string detail = sqlite3_errmsg(m_db);
        if (!detail.empty() && detail != "not an error")
            m_error += " (" + detail + ")";
        sqlite3_close(m_db);
        m_db = nullptr;
    }
    m_state = State::Damaged;
    return false;
}

sqlite3_stmt* CSqliteRegistry::Statement(const char* sql)
{
    if (m_state != State::Ok)
        return nullptr;
    auto found = m_statements.find(sql);
    if (found != m_statements.end())
        return found->second;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
        SQLITE_OK)
        return nullptr;
    m_statements.emplace(sql, statement);
    return statement;
}

RegKeyId CSqliteRegistry::FindChild(RegKeyId parent, const std::string& name)
{
    StatementUse find(Statement("SELECT id FROM keys WHERE parent=?1 AND name=?2"));
    if (!find)
        return 0;
    sqlite3_bind_int64(find.s, 1, parent);
    BindText(find.s, 2, name);
    return sqlite3_step(find.s) == SQLITE_ROW ? sqlite3_column_int64(find.s, 0) : 0;
}

RegKeyId CSqliteRegistry::OpenKey(const std::string& path, bool create)
{
    std::lock_guard lock(m_mutex);
    if (m_state != State::Ok)
        return 0;
    RegKeyId key = kRootKey;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        std::string name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty())
            continue;
        RegKeyId child = FindChild(key, name);
        if (!child && create) {
            StatementUse insert(
                Statement("INSERT INTO keys(parent, name) VALUES(?1, ?2) ON CONFLICT DO NOTHING"));
            if (!insert)
                return 0;
            sqlite3_bind_int64(insert.s, 1, key);
            BindText(insert.s, 2, name);
            if (sqlite3_step(insert.s) != SQLITE_DONE)
                return 0;
            child = FindChild(key, name); // another process may have made it first
        }
        if (!child)
            return 0;
        key = child;
    }
    return key;
}

bool CSqliteRegistry::DeleteKey(const std::string& path)
{
    std::lock_guard lock(m_mutex);
    RegKeyId key = OpenKey(path, false);
    if (key == 0 || key == kRootKey)
        return false;
    StatementUse remove(Statement("DELETE FROM keys WHERE id=?1"));
    if (!remove)
        return false;
    sqlite3_bind_int64(remove.s, 1, key);
    return sqlite3_step(remove.s) == SQLITE_DONE && sqlite3_changes(m_db) > 0;
}

std::optional<RegValue> CSqliteRegistry::QueryValue(RegKeyId key, const std::string& name)
{
    std::lock_guard lock(m_mutex);
    StatementUse query(Statement("SELECT name, type, data FROM vals WHERE key=?1 AND name=?2"));
    if (!query)
        return std::nullopt;
    sqlite3_bind_int64(query.s, 1, key);
    BindText(query.s, 2, name);
    if (sqlite3_step(query.s) != SQLITE_ROW)
        return std::nullopt;
    return ReadValueRow(query.s);
}

bool CSqliteRegistry::SetValue(RegKeyId key, const std::string& name, RegType type, uint32_t number,
                               const std::string& text)
{
    std::lock_guard lock(m_mutex);
    // The upsert keeps the row (and so the value's place in the enumeration order).
    StatementUse upsert(
        Statement("INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4) "
                  "ON CONFLICT(key, name) DO UPDATE SET type=excluded.type, data=excluded.data"));
    if (!upsert)
        return false;
    sqlite3_bind_int64(upsert.s, 1, key);
    BindText(upsert.s, 2, name);
    sqlite3_bind_int(upsert.s, 3, type == RegType::Number ? 0 : 1);
    if (type == RegType::Number)
        sqlite3_bind_int64(upsert.s, 4, number);
    else
        sqlite3_bind_blob(upsert.s, 4, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    return sqlite3_step(upsert.s) == SQLITE_DONE;
}

bool CSqliteRegistry::SetNumber(RegKeyId key, const std::string& name, uint32_t value)
{
    return SetValue(key, name, RegType::Number, value, {});
}

bool CSqliteRegistry::SetString(RegKeyId key, const std::string& name, const std::string& value)
{
    return SetValue(key, name, RegType::String, 0, value);
}

bool CSqliteRegistry::DeleteValue(RegKeyId key, const std::string& name)
{
    std::lock_guard lock(m_mutex);
    StatementUse remove(Statement("DELETE FROM vals WHERE key=?1 AND name=?2"));
    if (!remove)
        return false;
    sqlite3_bind_int64(remove.s, 1, key);
    BindText(remove.s, 2, name);
    return sqlite3_step(remove.s) == SQLITE_DONE && sqlite3_changes(m_db) > 0;
}

std::vector<RegValue> CSqliteRegistry::EnumValues(RegKeyId key)
{
    std::lock_guard lock(m_mutex);
    std::vector<RegValue> values;
    StatementUse list(Statement("SELECT name, type, data FROM vals WHERE key=?1 ORDER BY rowid"));
    if (!list)
        return values;
    sqlite3_bind_int64(list.s, 1, key);
    while (sqlite3_step(list.s) == SQLITE_ROW)
        values.push_back(ReadValueRow(list.s));
    return values;
}

std::vector<std::string> CSqliteRegistry::EnumSubkeys(RegKeyId key)
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> names;
    StatementUse list(Statement("SELECT name FROM keys WHERE parent=?1 ORDER BY id"));
    if (!list)
        return names;
    sqlite3_bind_int64(list.s, 1, key);
    while (sqlite3_step(list.s) == SQLITE_ROW)
        names.push_back(ColumnText(list.s, 0));
    return names;
}
