#include "zvsim/EventLog.h"

#include <cstdio>

#include "zvsim/Platform.h"
#include "zvsim/Clock.h"

namespace zvsim {

EventLog::EventLog(const std::filesystem::path& stateRoot, std::string source)
    : m_path(stateRoot / "events.jsonl"), m_source(std::move(source)) {}

void EventLog::Record(const std::string& call, const std::string& deviceId, int32_t result,
                      const nlohmann::json& extra) const {
    nlohmann::json event{{"ts_us", NowMicros()}, {"thread", ThreadId()},  {"source", m_source},
                         {"call", call},         {"device_id", deviceId}, {"result", result}};
    if (extra.is_object()) {
        for (auto it = extra.begin(); it != extra.end(); ++it) {
            event[it.key()] = it.value();
        }
    }
    // Camera strings may hold any bytes; never let one break the record.
    const std::string line = event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    if (!platform::AppendWhole(m_path, line)) {
        std::fprintf(stderr, "zvsim: could not append to %s\n", m_path.string().c_str());
    }
}

}  // namespace zvsim
