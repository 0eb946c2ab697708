#include "testbed/Environment.h"

#include "platform/System.h"

namespace testbed {

std::optional<std::string> GetEnv(const std::string& name) { return system::GetEnv(name); }

std::vector<std::string> EnvironmentNamesLike(const std::string& name) {
    std::vector<std::string> names;
    for (const std::string& candidate : system::EnvironmentNames())
        if (system::NamesEqualNoCase(candidate, name)) names.push_back(candidate);
    return names;
}

ScopedEnvironment::ScopedEnvironment(const std::string& name, const std::optional<std::string>& value) {
    if (value)
        Set(name, *value);
    else
        Unset(name);
}

ScopedEnvironment::~ScopedEnvironment() {
    // Newest first, so a variable changed twice ends with its first value.
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
        if (it->value)
            system::SetEnv(it->name, *it->value);
        else
            system::UnsetEnv(it->name);
    }
}

void ScopedEnvironment::Remember(const std::string& name) {
    for (const Saved& saved : m_saved)
        if (saved.name == name) return;
    m_saved.push_back({name, system::GetEnv(name)});
}

void ScopedEnvironment::Set(const std::string& name, const std::string& value) {
    Remember(name);
    system::SetEnv(name, value);
}

void ScopedEnvironment::Unset(const std::string& name) {
    Remember(name);
    system::UnsetEnv(name);
}

void ScopedEnvironment::SetOnlySpelling(const std::string& name, const std::string& value) {
    for (const std::string& spelling : EnvironmentNamesLike(name)) Unset(spelling);
    Set(name, value);
}

}  // namespace testbed
