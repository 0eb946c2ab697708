#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// File types of the burn list; any other value is prepared like kBurnCsv.
enum EBurnFileType : std::int32_t {
    kBurnBinary = 0,         // FPGA bitstream, burned as it is
    kBurnImg = 1,            // controller firmware image, given its 8-byte header
    kBurnCsv = 2,            // register table, compiled
    kBurnXml = 3,            // zipped GenICam device description, burned as it is
    kBurnManifestTable = 4,  // register table, compiled and completed with the XML's size and digest
};

// Short name of a file type for listings ("Binary", "Img", "Csv", "XML", "ManifestTable").
const char* BurnFileTypeName(std::int32_t fileType);

// One file of a model's burn list.
struct BurnItem {
    std::int32_t sourceId = 0;  // UPGRADEFILE resource id
    std::int32_t address = 0;   // flash address
    std::int32_t fileType = 0;  // EBurnFileType
};

// The exact bytes to write at one flash address.
class CRegion {
public:
    CRegion(std::int32_t fileType, std::uint32_t address, std::uint32_t size)
        : m_fileType(fileType), m_address(address), m_size(size) {}
    virtual ~CRegion() = default;
    CRegion(const CRegion&) = delete;
    CRegion& operator=(const CRegion&) = delete;

    // Takes over GetSize() bytes made for this region; false for none.
    bool AdoptData(std::unique_ptr<std::uint8_t[]> data);
    // Uses GetSize() bytes that stay where they are (an embedded resource) and
    // are never changed; owner, if any, keeps them alive. False for none.
    bool ShareData(const std::uint8_t* data, std::uint32_t length, std::shared_ptr<const void> owner);

    std::int32_t GetFileType() const { return m_fileType; }
    std::uint32_t GetAddress() const { return m_address; }
    std::uint32_t GetSize() const { return m_size; }
    const std::uint8_t* GetData() const { return m_data ? m_data.get() : m_shared; }
    // The region's own bytes, to complete them; null for shared bytes.
    std::uint8_t* GetOwnData() { return m_data.get(); }

private:
    std::int32_t m_fileType;
    std::uint32_t m_address;
    std::uint32_t m_size;
    std::unique_ptr<std::uint8_t[]> m_data;
    const std::uint8_t* m_shared = nullptr;
    std::shared_ptr<const void> m_sharedOwner;
};

// The burn plan of one model: the model's burn list from the run's package
// configuration, and the prepared regions in burn order. Built by one thread;
// once prepared, any number of workers may read it at the same time (a run
// shares one plan among the cameras of a model, see BurnPlans.h). Preparing
// needs no file: tables are compiled in memory, and the bitstream and XML
// regions use the embedded bytes where they lie.
class CUpgradeFile {
public:
    CUpgradeFile() = default;
    virtual ~CUpgradeFile() = default;
    CUpgradeFile(const CUpgradeFile&) = delete;
    CUpgradeFile& operator=(const CUpgradeFile&) = delete;

    // Reads the model's burn list and firmware version (the configuration file
    // is read once). deviceId names the camera the plan is for and may not be
    // null. Regions are not touched.
    bool LoadBurnList(const std::wstring& model, const char* deviceId);

    // Builds every region from the items; the first failure returns false and
    // leaves the regions made so far until the next ClearRegions.
    bool PrepareBurnFiles();

    // Appends the region pointers in burn order; they stay owned by the plan and
    // are valid until the next ClearRegions or PrepareBurnFiles.
    void GetRegions(std::vector<CRegion*>& regions) const;

    void ClearRegions();

    // FIRMWARE_VERSION of the model, as "03_01"; empty when the key is missing.
    std::wstring GetFirmwareVersion() const { return m_firmwareVersion; }
    const std::vector<BurnItem>& GetItems() const { return m_items; }

private:
    std::unique_ptr<CRegion> __PrepareRegion(const BurnItem& item) const;
    bool __CompleteManifest();

    std::vector<std::unique_ptr<CRegion>> m_regions;
    std::vector<BurnItem> m_items;
    std::wstring m_firmwareVersion;
};

// Offsets of the completed manifest table (the compiled MANIFEST table).
inline constexpr std::uint32_t kManifestSize = 76;
inline constexpr std::uint32_t kManifestXmlSizeOffset = 28;
inline constexpr std::uint32_t kManifestSha1Offset = 36;
