// Environment variables of the test process, changed for a scope and put back
// exactly as they were (set, empty or absent) when the scope ends.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace testbed {

// The variable's value, or nothing when it is not set.
std::optional<std::string> GetEnv(const std::string& name);

// Every variable name of the process environment that equals name without
// regard to case (the program looks some variables up that way).
std::vector<std::string> EnvironmentNamesLike(const std::string& name);

class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    // One variable set (a value) or removed (nothing) for the scope.
    ScopedEnvironment(const std::string& name, const std::optional<std::string>& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void Set(const std::string& name, const std::string& value);
    void Unset(const std::string& name);
    // Sets name after removing every other spelling of it, so the value set
    // here is the one a case-insensitive lookup finds.
    void SetOnlySpelling(const std::string& name, const std::string& value);

private:
    void Remember(const std::string& name);

    struct Saved {
        std::string name;
        std::optional<std::string> value;
    };
    std::vector<Saved> m_saved;
};

}  // namespace testbed
