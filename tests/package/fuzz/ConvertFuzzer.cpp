// Any table: Convert returns one of its codes, keeps inside its buffers (ASan),
// leaves no .bin behind and holds an image only on success.
#include <cstring>

#include "FuzzSupport.h"
#include "package/CsvToData.h"
#include "support/Platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path table = fuzz::WriteInput("table.csv", data, size);
    const std::filesystem::path bin = fuzz::ScratchFolder() / "table.bin";

    CCSVOrTXTToData compiler;
    const int code = compiler.Convert(platform::FromNativePath(table.string()));
    FUZZ_CHECK(code >= kCsvSuccess && code <= kCsvBadTable);
    FUZZ_CHECK(!std::filesystem::exists(bin));
    if (code != kCsvSuccess) {
        FUZZ_CHECK(!compiler.HasImage());
    } else if (compiler.HasImage()) {
        FUZZ_CHECK(compiler.GetImageSize() <= kCsvMaxImageBytes);
        // Touch every byte so a short image shows up under ASan.
        std::uint32_t sum = 0;
        for (std::uint32_t i = 0; i < compiler.GetImageSize(); ++i) sum += compiler.GetImage()[i];
        (void)sum;
    }

    // The number rule on the raw input as one field.
    (void)StrToUInt64(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
