// The event record: one JSON object per line in <state>/events.jsonl, each
// appended with a single write so lines from many threads and processes never
// interleave.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

namespace zvsim {

class EventLog {
public:
    EventLog(const std::filesystem::path& stateRoot, std::string source);

    // extra: further keys, such as "address" and "size" for reads and writes.
    void Record(const std::string& call, const std::string& deviceId, int32_t result,
                const nlohmann::json& extra = nlohmann::json::object()) const;

    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
    std::string m_source;
};

}  // namespace zvsim
