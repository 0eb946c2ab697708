#include "package/UpgradeFile.h"

#include <cstring>
#include <exception>

#include "package/CsvToData.h"
#include "package/IniFile.h"
#include "package/PackageConfig.h"
#include "package/Resources.h"
#include "package/Sha1.h"
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

bool CRegion::AdoptData(std::unique_ptr<std::uint8_t[]> data) {
    if (!data || m_size == 0) return false;
    m_data = std::move(data);
    m_shared = nullptr;
    m_sharedOwner.reset();
    return true;
}

bool CRegion::ShareData(const std::uint8_t* data, std::uint32_t length, std::shared_ptr<const void> owner) {
    if (data == nullptr || length == 0 || length != m_size) return false;
    m_data.reset();
    m_shared = data;
    m_sharedOwner = std::move(owner);
    return true;
}

bool CUpgradeFile::LoadBurnList(const std::wstring& model, const char* deviceId) {
    if (model.empty() || deviceId == nullptr) return false;
    m_items.clear();
    m_firmwareVersion.clear();

    package::CProfileFile profile;
    profile.Load(package::GetPackageConfigPath());
    std::int32_t total = 0;
    if (!profile.ReadInt(model, L"BurnFileTotal", total)) return false;
    for (std::int32_t i = 0; i < total; ++i) {
        BurnItem item;
        const std::wstring index = std::to_wstring(i);
        if (!profile.ReadInt(model, L"SourceID" + index, item.sourceId)) return false;
        if (!profile.ReadHex(model, L"Address" + index, item.address)) return false;
        if (!profile.ReadInt(model, L"FileType" + index, item.fileType)) return false;
        m_items.push_back(item);
    }
    std::wstring version;
    if (profile.ReadString(model, L"FIRMWARE_VERSION", version)) m_firmwareVersion = version;
    return true;
}

std::unique_ptr<CRegion> CUpgradeFile::__PrepareRegion(const BurnItem& item) const {
    const std::uint32_t address = static_cast<std::uint32_t>(item.address);
    ResourceBytes resource;
    if (!FindResourceBytes(package::kUpgradeFileResourceType, item.sourceId, resource)) return nullptr;

    switch (item.fileType) {
        case kBurnBinary:
        case kBurnXml: {
            // Burned as they are: the region points at the embedded bytes.
            auto region = std::make_unique<CRegion>(item.fileType, address, resource.size);
            if (!region->ShareData(resource.data, resource.size, resource.owner)) return nullptr;
            return region;
        }
        case kBurnImg: {
            CCSVOrTXTToData image;
            if (image.AddFileHeader(resource.data, resource.size) != kCsvSuccess) return nullptr;
            auto region = std::make_unique<CRegion>(item.fileType, address, image.GetImageSize());
            if (!region->AdoptData(image.TakeImage())) return nullptr;
            return region;
        }
        default: {
            CCSVOrTXTToData compiler;
            compiler.ConvertText(resource.data, resource.size);
            if (!compiler.HasImage() || compiler.GetImageSize() == 0) return nullptr;
            auto region = std::make_unique<CRegion>(item.fileType, address, compiler.GetImageSize());
            if (!region->AdoptData(compiler.TakeImage())) return nullptr;
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

    std::uint8_t* bytes = manifest->GetOwnData();
    if (bytes == nullptr) return false;
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
