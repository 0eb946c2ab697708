#include "run/ReleaseText.h"

#include <algorithm>

#include "package/Release.h"
#include "run/Version.h"

std::string VersionText(std::string_view programName) {
    std::string text(programName);
    text += ' ';
    text += version::kProgramVersion;
    text += '\n';
    package::ReleaseInfo release;
    std::string error;
    if (!package::LoadReleaseInfo(release, error)) return text + "Package release versions: unknown (" + error + ")\n";
    text += "Firmware versions of the embedded package:\n";
    std::size_t width = 0;
    for (const auto& [model, version] : release.firmwareVersions) width = std::max(width, model.size());
    for (const auto& [model, version] : release.firmwareVersions)
        text += "  " + model + std::string(width - model.size() + 2, ' ') + version + "\n";
    return text;
}
