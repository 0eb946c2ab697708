// Any package configuration: the profile reader, the model list and the burn
// list read it without reading or writing out of bounds, and a burn list that
// loads is prepared from the embedded files without harm.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "package/IniFile.h"
#include "package/PackageConfig.h"
#include "package/UpgradeFile.h"
#include "support/Platform.h"

namespace {
// Loops over Total or BurnFileTotal read the file once per key; bound them so a
// huge count costs time, not a finding.
constexpr std::int32_t kMaxCount = 64;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring path = platform::FromNativePath(fuzz::WriteInput("Config.ini", data, size).string());
    package::SetPackageConfigPath(path);

    CINIFileBase reader;
    std::wstring text;
    std::int32_t value = 0;
    if (reader.ReadString(L"DeviceModel", L"DeviceModel0", path, text)) FUZZ_CHECK(!text.empty() && text.size() <= 259);
    reader.ReadHex(L"Address0", L"M", value);
    GetElfVersion(L"M", value);

    std::int32_t total = 0;
    if (reader.ReadInt(path, L"Total", L"DeviceTotal", total) && total <= kMaxCount) {
        std::vector<std::wstring> models;
        FUZZ_CHECK(ReadDeviceModels(path, models));
        FUZZ_CHECK(models.size() <= static_cast<std::size_t>(total < 0 ? 0 : total));
    }

    std::int32_t items = 0;
    if (reader.ReadInt(path, L"BurnFileTotal", L"M", items) && items <= kMaxCount) {
        CUpgradeFile plan;
        if (plan.LoadBurnList(L"M", "FUZZ")) {
            FUZZ_CHECK(plan.GetItems().size() == static_cast<std::size_t>(items < 0 ? 0 : items));
            const bool prepared = plan.PrepareBurnFiles();
            std::vector<CRegion*> regions;
            plan.GetRegions(regions);
            FUZZ_CHECK(regions.size() <= plan.GetItems().size());
            FUZZ_CHECK(!prepared || regions.size() == plan.GetItems().size());
            for (const CRegion* region : regions) FUZZ_CHECK(region->GetData() != nullptr && region->GetSize() != 0);
        }
    }
    return 0;
}
