#pragma once
// The per-user settings tree: keys form a tree of backslash-separated paths below a
// root, values are typed (32-bit number or byte string). Key and value names compare
// without regard to ASCII letter case; values enumerate in the order first written.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class RegType
{
    Number,
    String
};

struct RegValue
{
    std::string Name;
    RegType Type = RegType::String;
    uint32_t Number = 0;
    std::string Text;
};

using RegKeyId = int64_t; // 0 = no key

class IRegistry
{
public:
    virtual ~IRegistry() = default;
    // Opens the key at `path` ("A\B\C"); with `create`, makes missing keys. 0 when it cannot.
    virtual RegKeyId OpenKey(const std::string& path, bool create) = 0;
    // Deletes the key with its values and subkeys.
    virtual bool DeleteKey(const std::string& path) = 0;
    virtual std::optional<RegValue> QueryValue(RegKeyId key, const std::string& name) = 0;
    virtual bool SetNumber(RegKeyId key, const std::string& name, uint32_t value) = 0;
    virtual bool SetString(RegKeyId key, const std::string& name, const std::string& value) = 0;
    virtual bool DeleteValue(RegKeyId key, const std::string& name) = 0;
    virtual std::vector<RegValue> EnumValues(RegKeyId key) = 0;
    virtual std::vector<std::string> EnumSubkeys(RegKeyId key) = 0;
};

// An open key. A key that could not be opened reads every value as its default and
// fails every write quietly; closing is idempotent.
class CRegKey
{
public:
    CRegKey() = default;
    CRegKey(IRegistry& registry, const std::string& path, bool create);

    bool Open(IRegistry& registry, const std::string& path, bool create);
    void Close();
    bool IsOpen() const { return m_key != 0; }
    RegKeyId Id() const { return m_key; }

    int32_t GetNumber(const std::string& name, int32_t defaultValue) const;
    // Missing, empty or non-text values give the default.
    std::string GetString(const std::string& name, const std::string& defaultValue = {}) const;
    std::optional<RegValue> Query(const std::string& name) const;
    bool SetNumber(const std::string& name, int32_t value);
    bool SetString(const std::string& name, const std::string& value);
    bool DeleteValue(const std::string& name);
    std::vector<RegValue> Values() const;

private:
    IRegistry* m_registry = nullptr;
    RegKeyId m_key = 0;
};
