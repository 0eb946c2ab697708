// flashwright-cli list | upgrade: the attached cameras, driven through the
// same device manager and camera objects as the dialog.
#include <csignal>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CommandGroups.h"
#include "camera/DeviceManager.h"
#include "package/PackageConfig.h"
#include "support/Platform.h"

namespace {

// The producer file name, as the dialog's string table gives it.
const wchar_t* const kProducerFileName = L"ZvU3VTL.cti";

[[noreturn]] void Fail(int status, const std::string& message) {
    std::cerr << "flashwright-cli: " << message << '\n';
    throw CLI::RuntimeError(status);
}

std::string Narrow(const std::wstring& text) { return platform::WideToAnsi(text); }

// Camera text as valid UTF-8: bytes that are not become U+FFFD.
template <std::size_t N>
std::string Clean(const char (&field)[N]) {
    return Narrow(platform::AnsiToWide(FieldText(field)));
}

// Loads the producer and the package's model list and enumerates, as the
// dialog's start-up does; releases the producer and the instance when it goes.
class CameraSession {
public:
    CameraSession() : m_manager(CDeviceManager::GetInstance()) {}
    ~CameraSession() {
        m_manager->ReleaseEnvironment();
        CDeviceManager::ReleaseInstance();
    }
    CameraSession(const CameraSession&) = delete;
    CameraSession& operator=(const CameraSession&) = delete;

    void Open() {
        if (!m_manager->InitEnvironment(kProducerFileName)) Fail(1, Narrow(m_manager->GetErrorText()));
        if (!LoadPackageConfig(m_manager->ModelList())) Fail(1, "Failed to parse resource file!");
        m_manager->UpdateDeviceList();
        m_models = m_manager->GetModelList();
    }

    std::vector<CU3VDevice*> Cameras() const { return m_manager->GetDeviceList(); }
    // Opened and of a package model; an unsupported model gets its status 28,
    // as the dialog's row does.
    bool IsEligible(CU3VDevice& camera) const {
        return camera.IsOpened() && IsModelSupported(m_models, camera);
    }

private:
    CDeviceManager* m_manager;
    std::vector<std::wstring> m_models;
};

void PrintTable(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], platform::AnsiToWide(row[i]).size());
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size())
                line += std::string(widths[i] - platform::AnsiToWide(row[i]).size() + 2, ' ');
        }
        line.erase(line.find_last_not_of(' ') + 1);
        std::cout << line << '\n';
    }
}

void ListCameras(bool asJson) {
    CameraSession session;
    session.Open();
    nlohmann::json list = nlohmann::json::array();
    std::vector<std::vector<std::string>> rows = {{"MODEL", "SN", "GUID", "DEVICE", "FIRMWARE",
                                                   "FACTORY", "XML", "OPENED", "ELIGIBLE",
                                                   "STATUS"}};
    for (CU3VDevice* camera : session.Cameras()) {
        const bool eligible = session.IsEligible(*camera);
        const DeviceInfo info = camera->GetDeviceInfo();
        const std::string status = Narrow(camera->GetStatusText());
        if (asJson) {
            list.push_back({{"device_id", Narrow(platform::AnsiToWide(camera->GetDeviceID()))},
                            {"model", Clean(info.modelName)},
                            {"serial", Clean(info.serialNumber)},
                            {"guid", Clean(info.guid)},
                            {"device_version", Clean(info.deviceVersion)},
                            {"firmware_version", Clean(info.firmwareVersion)},
                            {"factory_version", Clean(info.factoryVersion)},
                            {"xml_version", Clean(info.xmlVersion)},
                            {"opened", camera->IsOpened()},
                            {"eligible", eligible},
                            {"status", status}});
        } else {
            rows.push_back({Clean(info.modelName), Clean(info.serialNumber), Clean(info.guid),
                            Clean(info.deviceVersion), Clean(info.firmwareVersion),
                            Clean(info.factoryVersion), Clean(info.xmlVersion),
                            camera->IsOpened() ? "yes" : "no", eligible ? "yes" : "no", status});
        }
    }
    if (asJson)
        std::cout << list.dump(2) << '\n';
    else
        PrintTable(rows);
}

// Ending the process while flash is written can leave a camera that no longer
// boots: while the workers run, stop requests are answered and ignored.
class StopRequestGuard {
public:
    StopRequestGuard() {
        struct sigaction action {};
        action.sa_handler = &StopRequestGuard::Refuse;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &action, &m_saved[i]);
    }
    ~StopRequestGuard() {
        for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &m_saved[i], nullptr);
    }
    StopRequestGuard(const StopRequestGuard&) = delete;
    StopRequestGuard& operator=(const StopRequestGuard&) = delete;

private:
    static void Refuse(int) {
        static const char kText[] = "Upgrading is proceeding, please close later!\n";
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, kText, sizeof kText - 1);
    }
    static constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};
    std::array<struct sigaction, 3> m_saved{};
};

struct UpgradeOptions {
    bool all = false;
    std::vector<std::string> serials;
    bool json = false;
};

void UpgradeCameras(const UpgradeOptions& options) {
    if (!options.all && options.serials.empty())
        throw CLI::RequiredError("--all or at least one SERIAL");

    CameraSession session;
    session.Open();
    std::vector<CU3VDevice*> selected;
    std::vector<bool> matched(options.serials.size(), false);
    for (CU3VDevice* camera : session.Cameras()) {
        if (!session.IsEligible(*camera)) continue;
        const std::string serial = FieldText(camera->GetDeviceInfo().serialNumber);
        bool wanted = options.all;
        for (std::size_t i = 0; i < options.serials.size(); ++i) {
            if (options.serials[i] == serial) {
                wanted = true;
                matched[i] = true;
            }
        }
        if (wanted) selected.push_back(camera);
    }
    bool everyNameMatched = true;
    for (std::size_t i = 0; i < options.serials.size(); ++i) {
        if (matched[i]) continue;
        everyNameMatched = false;
        std::cerr << "flashwright-cli: no eligible camera has the serial number " << options.serials[i]
                  << '\n';
    }
    if (selected.empty()) Fail(2, "no eligible camera matched");

    std::wstring configPath;
    switch (package::WriteRunPackageConfig(configPath)) {
    case package::ERunConfigResult::kResourceMissing: Fail(1, "Failed to parse resource file!");
    case package::ERunConfigResult::kWriteFailed: Fail(1, "Failed to create temporary file!");
    case package::ERunConfigResult::kWritten: break;
    }
    // Deleted before the session releases the producer.
    struct RemoveConfig {
        std::wstring path;
        ~RemoveConfig() { std::remove(platform::ToNativePath(path).c_str()); }
    } removeConfig{configPath};

    if (!options.json) std::cerr << "Upgrading " << selected.size() << " camera(s)...\n";
    {
        StopRequestGuard refuseStops;
        for (CU3VDevice* camera : selected) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            camera->StartUpgrade();
        }
        // The burn time advances on each tick while a worker runs, as the
        // dialog's time column does.
        const auto anyRunning = [&] {
            return std::any_of(selected.begin(), selected.end(),
                               [](CU3VDevice* c) { return c->GetThread()->IsRunning(); });
        };
        while (anyRunning()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            for (CU3VDevice* camera : selected) {
                if (camera->IsRunning())
                    camera->GetBurnTime().AddElapsedSeconds(camera->GetBurnTime().Lap());
            }
        }
        for (CU3VDevice* camera : selected) camera->GetThread()->Join();
    }

    bool allSucceeded = true;
    nlohmann::json results = nlohmann::json::array();
    std::vector<std::vector<std::string>> rows = {{"SN", "STATUS", "SECONDS"}};
    for (CU3VDevice* camera : selected) {
        std::int32_t code = 0;
        std::wstring text;
        camera->GetStatus(code, text);
        allSucceeded = allSucceeded && code == StatusCode::kSuccess;
        const double seconds = camera->GetBurnTime().GetElapsedSeconds();
        const std::string serial = Clean(camera->GetDeviceInfo().serialNumber);
        if (options.json) {
            results.push_back({{"device_id", Narrow(platform::AnsiToWide(camera->GetDeviceID()))},
                               {"serial", serial},
                               {"status_code", code},
                               {"status", Narrow(text)},
                               {"seconds", std::round(seconds * 1000.0) / 1000.0}});
        } else {
            char formatted[32];
            std::snprintf(formatted, sizeof formatted, "%.3f", seconds);
            rows.push_back({serial, Narrow(text), formatted});
        }
    }
    if (options.json)
        std::cout << results.dump(2) << '\n';
    else
        PrintTable(rows);
    if (!allSucceeded || !everyNameMatched) throw CLI::RuntimeError(1);
}

}  // namespace

void AddCameraCommands(CLI::App& app) {
    auto* list = app.add_subcommand("list", "List the attached cameras with their identity and versions.");
    auto listJson = std::make_shared<bool>(false);
    list->add_flag("--json", *listJson, "List the cameras as JSON");
    list->callback([listJson] { ListCameras(*listJson); });

    auto* upgrade = app.add_subcommand(
        "upgrade",
        "Upgrade eligible cameras from the embedded package, all at once. Exit status: 0 when every "
        "selected camera succeeded, 1 otherwise, 2 when no eligible camera matched.");
    auto options = std::make_shared<UpgradeOptions>();
    auto* all = upgrade->add_flag("--all", options->all, "Every eligible camera");
    auto* serials = upgrade->add_option("serials", options->serials, "Serial numbers of the cameras");
    all->excludes(serials);
    upgrade->add_flag("--json", options->json, "Print the results as JSON");
    upgrade->callback([options] { UpgradeCameras(*options); });
}
