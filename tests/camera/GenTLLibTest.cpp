#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "camera/GenTLLib.h"
#include "support/FormatString.h"
#include "testbed/Folders.h"

namespace {

TEST(CGenTLLibTest, TableHoldsTheNamesInOrder) {
    EXPECT_STREQ(gentl::kEntryPointNames[0], "GCGetInfo");
    EXPECT_STREQ(gentl::kEntryPointNames[static_cast<int>(gentl::Entry::IFOpenDevice)], "IFOpenDevice");
    EXPECT_STREQ(gentl::kEntryPointNames[51], "DSGetBufferChunkData");
    EXPECT_STREQ(gentl::kEntryPointNames[54], "DPLeaveUpgradeMode");
}

// A path that is not a library, and one that does not exist: the binding is
// still usable, every entry is absent and every call yields -1.
TEST(CGenTLLibTest, UnloadableLibraryLeavesEveryEntryAbsent) {
    const testbed::TempFolder folder;
    const std::filesystem::path text = folder.Path() / "not-a-library.cti";
    std::ofstream(text) << "not a shared object";
    for (const std::filesystem::path& path : {text, text.parent_path() / "no-such.cti"}) {
        CGenTLLib binding(path.wstring());
        EXPECT_FALSE(binding.IsLoaded());
        EXPECT_FALSE(binding.LoadError().empty());
        for (std::size_t i = 0; i < gentl::kEntryPointCount; ++i)
            EXPECT_FALSE(binding.Has(static_cast<gentl::Entry>(i)));
        gentl::TL_HANDLE hTL = nullptr;
        EXPECT_EQ(binding.Call<gentl::Entry::GCInitLib>(), -1);
        EXPECT_EQ(binding.Call<gentl::Entry::TLOpen>(&hTL), -1);
        gentl::bool8_t changed = 0;
        EXPECT_EQ(binding.TLUpdateInterfaceList(hTL, &changed), -1);
        EXPECT_EQ(binding.IFUpdateDeviceList(nullptr, &changed), -1);
        std::size_t size = 0;
        EXPECT_EQ(binding.IFGetDeviceInfo(nullptr, "id", 2, nullptr, nullptr, &size), -1);
        EXPECT_EQ(GetProducerErrorText(&binding), L"{0}{GCGetLastError failed}");
    }
    std::filesystem::remove(text);
}

TEST(ProducerErrorTextTest, NoBindingStillGivesACompleteText) {
    EXPECT_EQ(GetProducerErrorText(nullptr), L"{0}{GCGetLastError failed}");
}

TEST(FailureTextTest, LoadErrorIsFormattedUnchanged) {
    EXPECT_EQ(FormatString(L"Load TL library error!"), L"Load TL library error!");
}

}  // namespace
