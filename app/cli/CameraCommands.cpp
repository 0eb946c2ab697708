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

#include "CliProcess.h"
#include "CommandGroups.h"
#include "camera/DeviceManager.h"
#include "run/AppText.h"
#include "run/CameraSession.h"
#include "run/UpgradeRun.h"
#include "package/TempFiles.h"
#include "sdk/APIDeviceManager.h"
#include "support/Platform.h"

namespace {

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

// The process-wide device manager and the parameter manager, brought up as
// the dialog does; the producer and the instance are released when it goes.
class CameraSession {
public:
    // Takes the per-user lock and checks the temporary folder before anything
    // else: no SDK or producer call happens in a refused folder.
    explicit CameraSession(const char* command)
        : m_devices(CDeviceManager::GetInstance()), m_session(*m_devices, m_parameters) {
        HoldInstanceLock(command);
        NoticeUnfinishedRun();
        std::wstring reason;
        if (!package::CheckTempDirectory(reason))
            Fail(1, "the temporary folder " + Narrow(package::GetTempDirectoryPath()) + " cannot be used: " +
                        Narrow(reason));
    }
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
        StopIfRequested();
        m_session.Enumerate();
        StopIfRequested();
    }
    // The dialog's start-up: the parameter export pass first, then the rest.
    void OpenForUpgrade() {
        std::wstring error;
        if (!m_session.RunExportPass(error)) Fail(1, Narrow(error));
        StopIfRequested();
        if (!m_session.LoadProducer(error) || !m_session.LoadModelList(error)) Fail(1, Narrow(error));
        m_session.Enumerate();
        StopIfRequested();
    }
    EParameterBackup BackupOf(CU3VDevice& camera) const { return m_session.BackupOf(camera); }

    std::vector<CU3VDevice*> Cameras() const { return m_session.GetCameras(); }
    const std::vector<std::wstring>& Models() const { return m_session.GetModels(); }
    // Opened and of a package model; an unsupported model gets its status 28,
    // as the dialog's row does.
    bool IsEligible(CU3VDevice& camera) const { return CCameraSession::IsEligible(camera, Models()); }

    CCameraSession& Session() { return m_session; }
    CAPIDeviceManager& Parameters() { return m_parameters; }

private:
    CDeviceManager* m_devices;
    CAPIDeviceManager m_parameters;
    CCameraSession m_session;
};

void PrintTable(std::vector<std::vector<std::string>> rows) {
    for (auto& row : rows)
        for (std::string& cell : row) cell = EscapeControls(cell);
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
    CameraSession session("list");
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

struct UpgradeOptions {
    bool all = false;
    std::vector<std::string> serials;
    bool json = false;
    bool allowParameterLoss = false;
    // How long to wait at most for the upgraded cameras to come back.
    double rebootTimeoutSeconds = std::chrono::duration<double>(RunTiming{}.rebootTimeout).count();
};

constexpr const char* kParametersNotSaved = "User parameters not saved";

// The command line's part of the run: the burn time advanced and each status
// change printed while the workers run (the dialog's 20 ms refresh), and the
// results taken while the camera records still exist.
class CliRunObserver : public IUpgradeRunObserver {
public:
    struct Result {
        std::string deviceId;
        std::string serial;     // shown: valid UTF-8
        std::string serialRaw;  // as the camera reports it, for matching
        std::int32_t code = 0;
        std::string status;
        double seconds = 0;
        bool returned = false;
        std::string firmwareVersion;
        EParameterBackup backup = EParameterBackup::kSaved;
        bool upgraded = true;  // false: held back because its parameters were not saved
    };

    CliRunObserver(std::vector<CU3VDevice*> cameras, std::vector<EParameterBackup> backups,
                   std::vector<std::wstring> models, bool showProgress)
        : m_cameras(std::move(cameras)), m_backups(std::move(backups)), m_models(std::move(models)),
          m_showProgress(showProgress), m_lastStatus(m_cameras.size()) {}

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
        for (std::size_t i = 0; i < m_cameras.size(); ++i) {
            CU3VDevice* camera = m_cameras[i];
            Result result;
            result.backup = m_backups[i];
            std::wstring text;
            camera->GetStatus(result.code, text);
            result.status = Narrow(text);
            result.deviceId = Narrow(platform::AnsiToWide(camera->GetDeviceID()));
            const DeviceInfo info = camera->GetDeviceInfo();
            result.serial = Clean(info.serialNumber);
            result.serialRaw = FieldText(info.serialNumber);
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

    void OnRecordFailed(const std::wstring& text) override {
        std::cerr << "flashwright-cli: the unfinished-run record cannot be kept: " << Narrow(text) << '\n';
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
    std::vector<EParameterBackup> m_backups;
    std::vector<std::wstring> m_models;
    bool m_showProgress;
    std::vector<std::wstring> m_lastStatus;
    std::chrono::steady_clock::time_point m_lastLap;
    std::vector<Result> m_results;
    std::string m_importError;
};

CliRunObserver* CliRunObserver::s_active = nullptr;

// The parameters column and JSON field of a camera.
struct ParameterOutcome {
    nlohmann::json saved;     // true, false, or null when the SDK does not list the camera
    nlohmann::json restored;  // true, false, or null when no restore was attempted
    std::string text;
};

ParameterOutcome DescribeParameters(const CliRunObserver::Result& result, const CAPIDeviceManager& parameters) {
    ParameterOutcome outcome;
    switch (result.backup) {
    case EParameterBackup::kNotListed:
        outcome.saved = nullptr;
        outcome.restored = nullptr;
        outcome.text = "no backup: the SDK does not list the camera";
        return outcome;
    case EParameterBackup::kNotSaved:
        outcome.saved = false;
        outcome.restored = nullptr;
        outcome.text = result.upgraded ? "not saved: reset to factory values" : "not saved";
        return outcome;
    case EParameterBackup::kSaved: break;
    }
    outcome.saved = true;
    const CameraParameters* camera = parameters.FindBySerial(result.serialRaw);
    if (camera == nullptr || !camera->imported) {
        outcome.restored = nullptr;
        outcome.text = "saved, not restored";
    } else {
        outcome.restored = camera->imported->succeeded;
        outcome.text = camera->imported->succeeded ? "restored" : "NOT restored";
    }
    return outcome;
}

void UpgradeCameras(const UpgradeOptions& options) {
    if (!options.all && options.serials.empty())
        throw CLI::RequiredError("--all or at least one SERIAL");

    CameraSession session("upgrade");
    RunTiming timing = session.Session().GetRunTiming();
    timing.rebootTimeout = std::chrono::milliseconds(std::llround(options.rebootTimeoutSeconds * 1000.0));
    session.Session().SetRunTiming(timing);
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
        std::cerr << "flashwright-cli: no eligible camera has the serial number " << EscapeControls(options.serials[i])
                  << '\n';
    }
    if (selected.empty()) Fail(2, "no eligible camera matched");

    // A camera whose parameters could not be saved is not flashed unless the
    // user accepts losing them: its row says so and the exit status is 1.
    std::vector<CU3VDevice*> toUpgrade;
    std::vector<EParameterBackup> backups;
    std::vector<CliRunObserver::Result> heldBack;
    for (CU3VDevice* camera : selected) {
        const EParameterBackup backup = session.BackupOf(*camera);
        if (backup == EParameterBackup::kNotSaved && !options.allowParameterLoss) {
            CliRunObserver::Result result;
            result.deviceId = Narrow(platform::AnsiToWide(camera->GetDeviceID()));
            result.serial = Clean(camera->GetDeviceInfo().serialNumber);
            result.serialRaw = FieldText(camera->GetDeviceInfo().serialNumber);
            result.status = kParametersNotSaved;
            result.backup = backup;
            result.upgraded = false;
            const CameraParameters* record = session.Parameters().FindBySerial(result.serialRaw);
            std::cerr << "flashwright-cli: " << EscapeControls(result.serial)
                      << ": the user parameters could not be saved ("
                      << (record && record->exported ? Narrow(record->exported->Describe()) : std::string("unknown"))
                      << "); not upgraded (--allow-parameter-loss upgrades it anyway, resetting them to factory "
                         "values)\n";
            heldBack.push_back(result);
            continue;
        }
        toUpgrade.push_back(camera);
        backups.push_back(backup);
    }

    CliRunObserver observer(toUpgrade, backups, session.Models(), !options.json);
    if (!toUpgrade.empty()) {
        StopIfRequested();
        CUpgradeRun::EResult outcome;
        {
            // From the first worker to the restored parameters, as the dialog's
            // close guard does.
            CRefuseStops refuseStops;
            CUpgradeRun run(session.Session());
            outcome = run.Run(toUpgrade, observer);
        }
        switch (outcome) {
        case CUpgradeRun::EResult::kConfigMissing: Fail(1, Narrow(AppText::kParseResourceFailed));
        case CUpgradeRun::EResult::kConfigWriteFailed: Fail(1, Narrow(AppText::kCreateTempFileFailed));
        case CUpgradeRun::EResult::kCompleted: break;
        }
    }

    std::vector<CliRunObserver::Result> all = observer.Results();
    all.insert(all.end(), heldBack.begin(), heldBack.end());
    bool allSucceeded = !observer.ImportFailed();
    nlohmann::json results = nlohmann::json::array();
    std::vector<std::vector<std::string>> rows = {{"SN", "STATUS", "SECONDS", "BACK", "FIRMWARE", "PARAMETERS"}};
    for (const CliRunObserver::Result& result : all) {
        const ParameterOutcome parameters = DescribeParameters(result, session.Parameters());
        allSucceeded = allSucceeded && result.upgraded && result.code == StatusCode::kSuccess && result.returned &&
                       parameters.restored != false;
        if (options.json) {
            results.push_back({{"device_id", result.deviceId},
                               {"serial", result.serial},
                               {"status_code", result.upgraded ? nlohmann::json(result.code) : nlohmann::json()},
                               {"status", result.status},
                               {"seconds", std::round(result.seconds * 1000.0) / 1000.0},
                               {"returned", result.returned},
                               {"firmware_version", result.firmwareVersion},
                               {"parameters_saved", parameters.saved},
                               {"parameters_restored", parameters.restored}});
        } else {
            char formatted[32];
            std::snprintf(formatted, sizeof formatted, "%.3f", result.seconds);
            rows.push_back({result.serial, result.status, formatted, result.returned ? "yes" : "no",
                            result.firmwareVersion, parameters.text});
        }
    }
    if (options.json)
        std::cout << results.dump(2) << '\n';
    else
        PrintTable(rows);

    const std::vector<const CameraParameters*> unrestored = UnrestoredCameras(session.Parameters());
    for (const CameraParameters* camera : unrestored) {
        const std::string serial = EscapeControls(camera->serial);
        std::cerr << "flashwright-cli: the user parameters of " << serial << " were saved but not restored ("
                  << Narrow(camera->imported ? camera->imported->Describe() : std::wstring(L"not attempted")) << ")";
        if (camera->persistentCopy.empty())
            std::cerr << "; no persistent copy could be kept\n";
        else
            std::cerr << "; restore them with: flashwright-cli params restore " << serial << " --from "
                      << Narrow(camera->persistentCopy) << '\n';
    }
    if (!unrestored.empty()) allSucceeded = false;
    std::cout.flush();
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
        "and restore their user parameters. A camera whose parameters cannot be saved is not upgraded "
        "(row \"User parameters not saved\") unless --allow-parameter-loss is given. Exit status: 0 when "
        "every selected camera succeeded, came back and got its parameters back, 1 otherwise, 2 when no "
        "eligible camera matched.");
    auto options = std::make_shared<UpgradeOptions>();
    auto* all = upgrade->add_flag("--all", options->all, "Every eligible camera");
    auto* serials = upgrade->add_option("serials", options->serials, "Serial numbers of the cameras");
    all->excludes(serials);
    upgrade->add_flag("--json", options->json, "Print the results as JSON");
    upgrade->add_flag("--allow-parameter-loss", options->allowParameterLoss,
                      "Also upgrade cameras whose user parameters could not be saved (they are reset to factory "
                      "values)");
    upgrade
        ->add_option("--reboot-timeout", options->rebootTimeoutSeconds,
                     "Seconds after the last camera's writing to wait at most for the upgraded cameras to come "
                     "back (default 21); the wait ends as soon as every one is back")
        ->check(CLI::Range(0.001, 86400.0))
        ->type_name("SECONDS");
    upgrade->callback([options] { UpgradeCameras(*options); });
}
