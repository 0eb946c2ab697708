// flashwright-cli list | upgrade: the attached cameras, driven through the
// same device manager, camera objects and upgrade run as the dialog.
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
#include "run/AppText.h"
#include "run/CameraSession.h"
#include "run/UpgradeRun.h"
#include "sdk/APIDeviceManager.h"
#include "support/Platform.h"

namespace {

[[noreturn]] void Fail(int status, const std::string& message) {
    std::cerr << "flashwright-cli: " << message << '\n';
    throw CLI::RuntimeError(status);
}

// The tool's output is UTF-8 on every system.
std::string Narrow(const std::wstring& text) { return platform::WideToUtf8(text); }

// Camera text as valid UTF-8: bytes that are not become U+FFFD.
template <std::size_t N>
std::string Clean(const char (&field)[N]) {
    return Narrow(platform::AnsiToWide(FieldText(field)));
}

// The process-wide device manager and the parameter manager, brought up as
// the dialog does; the producer and the instance are released when it goes.
class CameraSession {
public:
    CameraSession()
        : m_devices(CDeviceManager::GetInstance()), m_session(*m_devices, m_parameters) {}
    ~CameraSession() {
        m_session.ReleaseProducer();
        CDeviceManager::ReleaseInstance();
    }
    CameraSession(const CameraSession&) = delete;
    CameraSession& operator=(const CameraSession&) = delete;

    // Producer, package models and enumeration; the cameras' parameters are
    // left alone, as listing changes nothing.
    void OpenForListing() {
        std::wstring error;
        if (!m_session.LoadProducer(error) || !m_session.LoadModelList(error)) Fail(1, Narrow(error));
        m_session.Enumerate();
    }
    // The dialog's start-up: the parameter export pass first, then the rest.
    void OpenForUpgrade() {
        std::wstring error;
        if (!m_session.Start(error)) Fail(1, Narrow(error));
    }

    std::vector<CU3VDevice*> Cameras() const { return m_session.GetCameras(); }
    const std::vector<std::wstring>& Models() const { return m_session.GetModels(); }
    // Opened and of a package model; an unsupported model gets its status 28,
    // as the dialog's row does.
    bool IsEligible(CU3VDevice& camera) const { return CCameraSession::IsEligible(camera, Models()); }

    CDeviceManager& Devices() { return *m_devices; }
    CAPIDeviceManager& Parameters() { return m_parameters; }

private:
    CDeviceManager* m_devices;
    CAPIDeviceManager m_parameters;
    CCameraSession m_session;
};

void PrintTable(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], platform::Utf8ToWide(row[i]).size());
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size())
                line += std::string(widths[i] - platform::Utf8ToWide(row[i]).size() + 2, ' ');
        }
        line.erase(line.find_last_not_of(' ') + 1);
        std::cout << line << '\n';
    }
}

void ListCameras(bool asJson) {
    CameraSession session;
    session.OpenForListing();
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
constexpr char kStopRefusedText[] = "Upgrading is proceeding, please close later!\n";

struct UpgradeOptions {
    bool all = false;
    std::vector<std::string> serials;
    bool json = false;
};

// The command line's part of the run: the burn time advanced and each status
// change printed while the workers run (the dialog's 20 ms refresh), and the
// results taken while the camera records still exist.
class CliRunObserver : public IUpgradeRunObserver {
public:
    struct Result {
        std::string deviceId;
        std::string serial;
        std::int32_t code = 0;
        std::string status;
        double seconds = 0;
        bool returned = false;
        std::string firmwareVersion;
    };

    CliRunObserver(std::vector<CU3VDevice*> cameras, std::vector<std::wstring> models, bool showProgress)
        : m_cameras(std::move(cameras)), m_models(std::move(models)), m_showProgress(showProgress),
          m_lastStatus(m_cameras.size()) {}

    void OnWorkersStarting() override {
        if (m_showProgress) std::cerr << "Upgrading " << m_cameras.size() << " camera(s)...\n";
        s_active = this;
        m_lastLap = std::chrono::steady_clock::now();
        // The waits for the workers call the pump on this thread.
        platform::SetMessagePumpHook(&CliRunObserver::Tick);
    }

    void OnWorkersFinished() override {
        platform::SetMessagePumpHook(nullptr);
        s_active = nullptr;
        __Refresh();
        if (m_showProgress) std::cerr << "Waiting for the cameras to come back...\n";
    }

    void OnCamerasReturned() override {
        for (CU3VDevice* camera : m_cameras) {
            Result result;
            std::wstring text;
            camera->GetStatus(result.code, text);
            result.status = Narrow(text);
            result.deviceId = Narrow(platform::AnsiToWide(camera->GetDeviceID()));
            const DeviceInfo info = camera->GetDeviceInfo();
            result.serial = Clean(info.serialNumber);
            result.seconds = camera->GetBurnTime().GetElapsedSeconds();
            result.returned = CUpgradeRun::HasReturned(*camera, m_models);
            // The polls refreshed the identity of a camera found again.
            if (result.returned) result.firmwareVersion = Clean(info.firmwareVersion);
            m_results.push_back(result);
        }
        m_cameras.clear();
    }

    void OnImportFailed(const std::wstring& text) override {
        m_importError = Narrow(text);
        std::cerr << "flashwright-cli: " << m_importError << '\n';
    }

    const std::vector<Result>& Results() const { return m_results; }
    bool ImportFailed() const { return !m_importError.empty(); }

private:
    static void Tick() {
        if (s_active == nullptr) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - s_active->m_lastLap < std::chrono::milliseconds(20)) return;
        s_active->m_lastLap = now;
        s_active->__Refresh();
    }

    void __Refresh() {
        for (std::size_t i = 0; i < m_cameras.size(); ++i) {
            CU3VDevice* camera = m_cameras[i];
            if (camera->IsRunning()) camera->GetBurnTime().AddElapsedSeconds(camera->GetBurnTime().Lap());
            const std::wstring status = camera->GetStatusText();
            if (status == m_lastStatus[i]) continue;
            m_lastStatus[i] = status;
            if (m_showProgress && !status.empty())
                std::cerr << Clean(camera->GetDeviceInfo().serialNumber) << ": " << Narrow(status) << '\n';
        }
    }

    static CliRunObserver* s_active;
    std::vector<CU3VDevice*> m_cameras;
    std::vector<std::wstring> m_models;
    bool m_showProgress;
    std::vector<std::wstring> m_lastStatus;
    std::chrono::steady_clock::time_point m_lastLap;
    std::vector<Result> m_results;
    std::string m_importError;
};

CliRunObserver* CliRunObserver::s_active = nullptr;

void UpgradeCameras(const UpgradeOptions& options) {
    if (!options.all && options.serials.empty())
        throw CLI::RequiredError("--all or at least one SERIAL");

    CameraSession session;
    session.OpenForUpgrade();
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

    CliRunObserver observer(selected, session.Models(), !options.json);
    CUpgradeRun::EResult outcome;
    {
        // From the first worker to the restored parameters, as the dialog's
        // close guard does.
        platform::StopRequestRefusal refuseStops(kStopRefusedText);
        CUpgradeRun run(session.Devices(), session.Parameters());
        outcome = run.Run(selected, observer);
    }
    switch (outcome) {
    case CUpgradeRun::EResult::kConfigMissing: Fail(1, Narrow(AppText::kParseResourceFailed));
    case CUpgradeRun::EResult::kConfigWriteFailed: Fail(1, Narrow(AppText::kCreateTempFileFailed));
    case CUpgradeRun::EResult::kCompleted: break;
    }

    bool allSucceeded = !observer.ImportFailed();
    nlohmann::json results = nlohmann::json::array();
    std::vector<std::vector<std::string>> rows = {{"SN", "STATUS", "SECONDS", "BACK", "FIRMWARE"}};
    for (const CliRunObserver::Result& result : observer.Results()) {
        allSucceeded = allSucceeded && result.code == StatusCode::kSuccess && result.returned;
        if (options.json) {
            results.push_back({{"device_id", result.deviceId},
                               {"serial", result.serial},
                               {"status_code", result.code},
                               {"status", result.status},
                               {"seconds", std::round(result.seconds * 1000.0) / 1000.0},
                               {"returned", result.returned},
                               {"firmware_version", result.firmwareVersion}});
        } else {
            char formatted[32];
            std::snprintf(formatted, sizeof formatted, "%.3f", result.seconds);
            rows.push_back({result.serial, result.status, formatted, result.returned ? "yes" : "no",
                            result.firmwareVersion});
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
        "Upgrade eligible cameras from the embedded package, all at once, wait for them to come back "
        "and restore their user parameters. Exit status: 0 when every selected camera succeeded and "
        "came back, 1 otherwise, 2 when no eligible camera matched.");
    auto options = std::make_shared<UpgradeOptions>();
    auto* all = upgrade->add_flag("--all", options->all, "Every eligible camera");
    auto* serials = upgrade->add_option("serials", options->serials, "Serial numbers of the cameras");
    all->excludes(serials);
    upgrade->add_flag("--json", options->json, "Print the results as JSON");
    upgrade->callback([options] { UpgradeCameras(*options); });
}
