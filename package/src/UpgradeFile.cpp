#include "package/UpgradeFile.h"

#include <cstring>
#include <exception>
#include <new>

#include "package/CsvToData.h"
#include "package/IniFile.h"
#include "package/PackageConfig.h"
#include "package/Resources.h"
#include "package/Sha1.h"
#include "package/TempFiles.h"
#include "support/FormatString.h"
#include "support/Platform.h"

const char* BurnFileTypeName(std::int32_t fileType) {
    switch (fileType) {
    case kBurnBinary: return "Binary";
    case kBurnImg: return "Img";
    case kBurnCsv: return "Csv";
    case kBurnXml: return "XML";
    case kBurnManifestTable: return "ManifestTable";
    default: return "Csv";
    }
}

bool CRegion::SetData(const std::uint8_t* data, std::uint32_t length) {
    if (data == nullptr || length == 0 || length != m_size) return false;
    std::unique_ptr<std::uint8_t[]> copy(new (std::nothrow) std::uint8_t[length]);
    if (!copy) return false;
    std::memcpy(copy.get(), data, length);
    m_data = std::move(copy);
    return true;
}

bool CUpgradeFile::LoadBurnList(const std::wstring& model, const char* deviceId) {
    if (model.empty() || deviceId == nullptr) return false;
    m_deviceId = deviceId;
    m_items.clear();
    m_firmwareVersion.clear();

    const std::wstring path = package::GetPackageConfigPath();
    CINIFileBase reader;
    std::int32_t total = 0;
    if (!reader.ReadInt(path, L"BurnFileTotal", model, total)) return false;
    for (std::int32_t i = 0; i < total; ++i) {
        BurnItem item;
        if (!reader.ReadInt(path, FormatString(L"SourceID%d", i), model, item.sourceId)) return false;
        if (!reader.ReadHex(FormatString(L"Address%d", i), model, item.address)) return false;
        if (!reader.ReadInt(path, FormatString(L"FileType%d", i), model, item.fileType)) return false;
        m_items.push_back(item);
    }
    std::wstring version;
    if (reader.ReadString(model, L"FIRMWARE_VERSION", path, version)) m_firmwareVersion = version;
    return true;
}

std::unique_ptr<CRegion> CUpgradeFile::__PrepareRegion(const BurnItem& item) const {
    const std::uint32_t address = static_cast<std::uint32_t>(item.address);
    CSourceFile resource;

    switch (item.fileType) {
    case kBurnBinary:
    case kBurnXml: {
        if (!GetResourceData(package::kUpgradeFileResourceType, item.sourceId, resource)) return nullptr;
        auto region = std::make_unique<CRegion>(item.fileType, address, resource.GetSize());
        if (!region->SetData(resource.GetData(), resource.GetSize())) return nullptr;
        return region;
    }
    case kBurnImg: {
        if (!GetResourceData(package::kUpgradeFileResourceType, item.sourceId, resource)) return nullptr;
        CCSVOrTXTToData image;
        if (image.AddFileHeader(resource.GetData(), resource.GetSize()) != kCsvSuccess) return nullptr;
        auto region = std::make_unique<CRegion>(item.fileType, address, image.GetImageSize());
        if (!region->SetData(image.GetImage(), image.GetImageSize())) return nullptr;
        return region;
    }
    default: {
        // A table goes through a file of its own: device identifier + resource id,
        // hashed when that is not a safe, short name.
        CCsvFile table = CCsvFile::Named(
            package::MakeUniqueFileName(FormatString(L"%S%d", m_deviceId.c_str(), item.sourceId), L".csv"));
        if (!GetResourceData(package::kUpgradeFileResourceType, item.sourceId, resource)) return nullptr;
        if (!table.WriteData(resource.GetData(), resource.GetSize())) return nullptr;
        CCSVOrTXTToData compiler;
        compiler.Convert(table.GetFilePath());
        if (!compiler.HasImage() || compiler.GetImageSize() == 0) return nullptr;
        auto region = std::make_unique<CRegion>(item.fileType, address, compiler.GetImageSize());
        if (!region->SetData(compiler.GetImage(), compiler.GetImageSize())) return nullptr;
        return region;
    }
    }
}

bool CUpgradeFile::PrepareBurnFiles() {
    if (m_items.empty()) return false;
    ClearRegions();
    for (const BurnItem& item : m_items) {
        if (item.sourceId < 0 || item.address == 0 || item.fileType < 0) return false;
        try {
            std::unique_ptr<CRegion> region = __PrepareRegion(item);
            if (!region) return false;
            m_regions.push_back(std::move(region));
        } catch (const std::exception&) {
            return false;  // out of memory for a region
        }
    }
    if (m_regions.empty()) return false;
    try {
        return __CompleteManifest();
    } catch (const std::exception&) {
        return false;
    }
}

bool CUpgradeFile::__CompleteManifest() {
    CRegion* xml = nullptr;
    CRegion* manifest = nullptr;
    for (const auto& region : m_regions) {
        if (region->GetFileType() == kBurnXml) xml = region.get();
        if (region->GetFileType() == kBurnManifestTable) manifest = region.get();
    }
    if (xml == nullptr || manifest == nullptr) return true;
    if (xml->GetData() == nullptr || manifest->GetData() == nullptr) return false;
    // A manifest too short to hold the entry would be burned incomplete.
    if (manifest->GetSize() < kManifestSize) return false;

    std::uint8_t* bytes = manifest->GetData();
    const std::uint32_t xmlSize = xml->GetSize();
    for (int i = 0; i < 4; ++i) {
        bytes[kManifestXmlSizeOffset + i] = static_cast<std::uint8_t>(xmlSize >> (8 * i));
        bytes[kManifestXmlSizeOffset + 4 + i] = 0;
    }
    const package::Sha1Digest digest = package::ComputeSha1(xml->GetData(), xmlSize);
    std::memcpy(bytes + kManifestSha1Offset, digest.data(), digest.size());
    StoreCheckValue(bytes, CalcCRC16(bytes + 4, kManifestSize - 4));
    return true;
}

void CUpgradeFile::GetRegions(std::vector<CRegion*>& regions) const {
    for (const auto& region : m_regions) regions.push_back(region.get());
}

void CUpgradeFile::ClearRegions() { m_regions.clear(); }
