#include "platform/Registry.h"

CRegKey::CRegKey(IRegistry& registry, const std::string& path, bool create)
{
    Open(registry, path, create);
}

bool CRegKey::Open(IRegistry& registry, const std::string& path, bool create)
{
    m_registry = &registry;
    m_key = registry.OpenKey(path, create);
    return m_key != 0;
}

void CRegKey::Close()
{
    m_key = 0;
}

std::optional<RegValue> CRegKey::Query(const std::string& name) const
{
    if (!m_key)
        return std::nullopt;
    return m_registry->QueryValue(m_key, name);
}

int32_t CRegKey::GetNumber(const std::string& name, int32_t defaultValue) const
{
    auto value = Query(name);
    if (!value || value->Type != RegType::Number)
        return defaultValue;
    return static_cast<int32_t>(value->Number);
}

std::string CRegKey::GetString(const std::string& name, const std::string& defaultValue) const
{
    auto value = Query(name);
    if (!value || value->Type != RegType::String || value->Text.empty())
        return defaultValue;
    return value->Text;
}

bool CRegKey::SetNumber(const std::string& name, int32_t value)
{
    return m_key && m_registry->SetNumber(m_key, name, static_cast<uint32_t>(value));
}

bool CRegKey::SetString(const std::string& name, const std::string& value)
{
    return m_key && m_registry->SetString(m_key, name, value);
}

bool CRegKey::DeleteValue(const std::string& name)
{
    return m_key && m_registry->DeleteValue(m_key, name);
}

std::vector<RegValue> CRegKey::Values() const
{
    if (!m_key)
        return {};
    return m_registry->EnumValues(m_key);
}
