// flashwright-cli package ...: the upgrade package as the program sees it.

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "CommandGroups.h"
#include "package/CsvToData.h"
#include "package/PackageConfig.h"
#include "package/Release.h"
#include "package/Sha1.h"
#include "package/TempFiles.h"
#include "package/UpgradeFile.h"
#include "support/Platform.h"

namespace {

// The tool's output is UTF-8 on every system.
std::string Narrow(const std::wstring& text) { return platform::WideToUtf8(text); }

// A path given on the command line, in the system's 8-bit encoding.
std::filesystem::path ArgumentPath(const std::string& text) {
    return platform::FileSystemPath(platform::FromNativePath(text));
}

std::string HexAddress(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", address);
    return text;
}

bool WriteFile(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out.flush());
}

void FailOnRefusedTempFolder() {
    std::wstring reason;
    if (!package::CheckTempDirectory(reason))
        Fail(1,
             "the temporary folder " + Narrow(package::GetTempDirectoryPath()) + " cannot be used: " + Narrow(reason));
}

// The models in package order, each with the firmware version it is brought to.
void ListModels() {
    HoldInstanceLock("package models");
    FailOnRefusedTempFolder();
    std::vector<std::wstring> models;
    if (!LoadPackageConfig(models)) Fail(1, "Failed to parse resource file!");
    package::ReleaseInfo release;
    std::string error;
    if (!package::LoadReleaseInfo(release, error)) Fail(1, error);
    std::vector<std::vector<std::string>> rows;
    for (const auto& model : models) rows.push_back({Narrow(model), release.FirmwareVersionOf(Narrow(model))});
    PrintTable(rows);
}

// The table is compiled from a copy in the temporary folder, so the compiler's
// transient .bin never lands beside (or over) the user's own files.
void CompileTable(const std::string& tablePath, const std::string& imagePath) {
    // Only a plain file of a size the compiler takes is read at all.
    std::error_code error;
    const std::filesystem::path tableFile = ArgumentPath(tablePath);
    const auto status = std::filesystem::status(tableFile, error);
    if (error || !std::filesystem::exists(status))
        Fail(kCsvOpenFailed, "cannot open the table " + tablePath + ": no such file");
    if (std::filesystem::is_directory(status))
        Fail(kCsvOpenFailed, "the table " + tablePath + " is a folder, not a file");
    if (!std::filesystem::is_regular_file(status))
        Fail(kCsvOpenFailed, "the table " + tablePath + " is not a regular file");
    const std::uintmax_t size = std::filesystem::file_size(tableFile, error);
    if (error) Fail(kCsvOpenFailed, "cannot read the size of the table " + tablePath + ": " + error.message());
    if (size > kCsvMaxTableBytes)
        Fail(kCsvNoMemory, "the table " + tablePath + " has " + std::to_string(size) + " bytes, more than the " +
                               std::to_string(kCsvMaxTableBytes) + " a table may have");
    std::ifstream in(tableFile, std::ios::binary);
    if (!in) Fail(kCsvOpenFailed, "cannot open the table " + tablePath);
    const std::vector<std::uint8_t> table{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) Fail(kCsvOpenFailed, "cannot read the table " + tablePath);
    if (table.empty()) Fail(kCsvBadRow, "compiling " + tablePath + " failed (code 2): " + DescribeCsvConvertResult(2));

    CCsvFile copy(L"cli-compile-" + std::to_wstring(platform::CurrentProcessId()));
    if (!copy.WriteData(table.data(), static_cast<std::uint32_t>(table.size())))
        Fail(kCsvOpenFailed, "cannot write a working copy in " + Narrow(copy.GetFolderPath()));
    CCSVOrTXTToData compiler;
    const int code = compiler.Convert(copy.GetFilePath());
    if (code != kCsvSuccess)
        Fail(code, "compiling " + tablePath + " failed (code " + std::to_string(code) +
                       "): " + DescribeCsvConvertResult(code));
    if (!compiler.HasImage()) Fail(kCsvOpenFailed, "the compiled image of " + tablePath + " could not be read back");

    if (!imagePath.empty()) {
        if (!WriteFile(ArgumentPath(imagePath), compiler.GetImage(), compiler.GetImageSize()))
            Fail(1, "cannot write the image " + imagePath);
        std::cout << compiler.GetImageSize() << " bytes written to " << imagePath << '\n';
    } else {
        std::cout << package::ToHex(compiler.GetImage(), compiler.GetImageSize()) << '\n';
    }
}

struct PlanOptions {
    std::string model;
    std::string deviceId;
    std::string outputDir;
    bool json = false;
};

// Builds the plan exactly as a camera's upgrade worker does, then removes the
// run's Config.ini again as the end of a run does.
void ShowPlan(const PlanOptions& options) {
    HoldInstanceLock("package plan");
    FailOnRefusedTempFolder();
    std::wstring configPath;
    switch (package::WriteRunPackageConfig(configPath)) {
        case package::ERunConfigResult::kResourceMissing: Fail(1, "Failed to parse resource file!");
        case package::ERunConfigResult::kWriteFailed:
            Fail(1, "Failed to create temporary file! (" + Narrow(package::GetTempDirectoryPath()) + ")");
        case package::ERunConfigResult::kWritten: break;
    }
    struct RemoveConfig {
        std::wstring path;
        ~RemoveConfig() {
            std::error_code ignored;
            std::filesystem::remove(platform::FileSystemPath(path), ignored);
        }
    } removeConfig{configPath};

    const std::wstring model = platform::AnsiToWide(options.model);
    std::vector<std::wstring> models;
    if (!ReadDeviceModels(configPath, models)) Fail(1, "Failed to parse resource file!");
    if (std::find(models.begin(), models.end(), model) == models.end()) {
        std::string known;
        for (const auto& m : models) known += (known.empty() ? "" : ", ") + Narrow(m);
        Fail(1, "model \"" + options.model + "\" is not in the upgrade package (it holds: " + known + ")");
    }

    const std::string deviceId =
        options.deviceId.empty() ? "cli-" + std::to_string(platform::CurrentProcessId()) + "-" : options.deviceId;
    CUpgradeFile plan;
    if (!plan.LoadBurnList(model, deviceId.c_str()))
        Fail(1, "the burn list of " + options.model + " cannot be read from the package configuration");
    if (!plan.PrepareBurnFiles()) Fail(1, "preparing the burn plan of " + options.model + " failed");
    std::vector<CRegion*> regions;
    plan.GetRegions(regions);

    if (!options.outputDir.empty()) {
        std::error_code error;
        const std::filesystem::path outputDir = ArgumentPath(options.outputDir);
        std::filesystem::create_directories(outputDir, error);
        for (std::size_t i = 0; i < regions.size(); ++i) {
            char name[48];
            std::snprintf(name, sizeof name, "%02zu-0x%x.bin", i, regions[i]->GetAddress());
            const auto path = outputDir / name;
            if (!WriteFile(path, regions[i]->GetData(), regions[i]->GetSize()))
                Fail(1, "cannot write " + Narrow(path.wstring()));
        }
    }

    nlohmann::json list = nlohmann::json::array();
    for (std::size_t i = 0; i < regions.size(); ++i) {
        const CRegion& region = *regions[i];
        const auto digest = package::ComputeSha1(region.GetData(), region.GetSize());
        const std::string sha1 = package::ToHex(digest.data(), digest.size());
        if (options.json) {
            list.push_back({{"index", i},
                            {"address", HexAddress(region.GetAddress())},
                            {"type", region.GetFileType()},
                            {"type_name", BurnFileTypeName(region.GetFileType())},
                            {"size", region.GetSize()},
                            {"sha1", sha1}});
        } else {
            char line[160];
            std::snprintf(line, sizeof line, "%02zu  %-10s %d %-13s %7u  %s", i,
                          HexAddress(region.GetAddress()).c_str(), region.GetFileType(),
                          BurnFileTypeName(region.GetFileType()), region.GetSize(), sha1.c_str());
            std::cout << line << '\n';
        }
    }
    if (options.json) std::cout << list.dump(2) << '\n';
}

}  // namespace

void AddPackageCommands(CLI::App& app) {
    CLI::App* group = app.add_subcommand("package", "The embedded upgrade package.");
    group->require_subcommand(1);

    group
        ->add_subcommand("models",
                         "List the camera models of the package, as start-up reads them, each with the "
                         "firmware version a camera reports once upgraded.")
        ->callback(ListModels);

    auto* compile =
        group->add_subcommand("compile", "Compile one register table (CSV). Exit status: the compiler's result code.");
    auto tablePath = std::make_shared<std::string>();
    auto imagePath = std::make_shared<std::string>();
    compile->add_option("table", *tablePath, "Table file")->required();
    compile->add_option("-o,--output", *imagePath, "Write the image to this file instead of printing it as hex");
    compile->callback([tablePath, imagePath] { CompileTable(*tablePath, *imagePath); });

    auto* plan =
        group->add_subcommand("plan", "Build a model's burn plan as a camera's upgrade does and list its regions.");
    auto options = std::make_shared<PlanOptions>();
    plan->add_option("model", options->model, "Model name, exactly as the camera reports it")->required();
    plan->add_option("--device-id", options->deviceId,
                     "Device identifier the plan is made for; it does not change the regions, which are the "
                     "model's (accepted for scripts that pass it)");
    plan->add_option("-o,--output-dir", options->outputDir, "Write each region to DIR/NN-0xADDRESS.bin");
    plan->add_flag("--json", options->json, "List the regions as JSON");
    plan->callback([options] { ShowPlan(*options); });
}
