#include "package/Release.h"

#include "package/Resources.h"
#include "platform/IniText.h"

namespace package {

std::string ReleaseInfo::FirmwareVersionOf(const std::string& model) const {
    const auto it = firmwareVersions.find(model);
    return it == firmwareVersions.end() ? std::string() : it->second;
}

namespace {

struct ParseState {
    ReleaseInfo* info;
    std::string error;
};

int OnEntry(void* user, const char* section, const char* key, const char* value) {
    auto* state = static_cast<ParseState*>(user);
    const std::string name = key;
    if (*section == '\0') {
        state->error = "\"" + name + "\" is outside a model section";
        return 0;
    }
    if (name != "FirmwareVersion") {
        state->error = "unknown key \"" + name + "\" in section [" + section + "]";
        return 0;
    }
    if (*value == '\0') {
        state->error = "empty FirmwareVersion in section [" + std::string(section) + "]";
        return 0;
    }
    state->info->firmwareVersions[section] = value;
    return 1;
}

}  // namespace

bool ParseReleaseInfo(const std::string& text, ReleaseInfo& info, std::string& error) {
    info = ReleaseInfo{};
    ParseState state{&info, {}};
    if (text.find('\0') != std::string::npos) {
        error = "release metadata: a zero byte in the text";
        return false;
    }
    const int line = ini::ParseText(text.c_str(), &OnEntry, &state);
    if (line != 0) {
        error = "release metadata, line " + std::to_string(line) + ": " +
                (state.error.empty() ? std::string("not a key=value line") : state.error);
        info = ReleaseInfo{};
        return false;
    }
    return true;
}

bool LoadReleaseInfo(ReleaseInfo& info, std::string& error) {
    CSourceFile resource;
    if (!GetResourceData(kReleaseResourceType, kReleaseResourceId, resource)) {
        error = "the release metadata (RELEASE 132) is missing from the package";
        return false;
    }
    const std::string text(reinterpret_cast<const char*>(resource.GetData()), resource.GetSize());
    return ParseReleaseInfo(text, info, error);
}

}  // namespace package
