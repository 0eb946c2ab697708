// flashwright-cli params ...: the user-parameter passes on their own, as the
// program runs them before loading the producer and after releasing it, and the
// restore of saved copies.
#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "CommandGroups.h"
#include "sdk/APIDeviceManager.h"
#include "sdk/UnfinishedRun.h"
#include "support/Platform.h"

namespace {

[[noreturn]] void Fail(int status, const std::string& message) {
    std::cerr << "flashwright-cli: " << message << '\n';
    throw CLI::RuntimeError(status);
}

std::string Narrow(const std::wstring& text) { return platform::WideToAnsi(text); }

std::string Name(const std::string& serial, const std::string& identity) {
    const std::string shown = EscapeControls(serial.empty() ? identity : serial);
    return identity.empty() || identity == serial ? shown : shown + " (" + EscapeControls(identity) + ")";
}

// Prints one line per camera; exit status 1 when any failed, 2 when the SDK
// lists no camera.
void Finish(bool anyFailed, bool noCamera) {
    if (noCamera) Fail(2, "no camera is attached");
    if (anyFailed) throw CLI::RuntimeError(1);
}

void ExportCommand() {
    HoldInstanceLock("params export");
    NoticeUnfinishedRun();
    CAPIDeviceManager manager;
    if (!ExportUserParams(manager)) Fail(1, Narrow(manager.GetErrorText()));
    bool anyFailed = false;
    for (const CameraParameters& camera : manager.GetCameraParameters()) {
        const ParameterPassResult& result = *camera.exported;
        anyFailed = anyFailed || !result.succeeded;
        std::cout << Name(camera.serial, camera.identity) << ": ";
        if (result.succeeded)
            std::cout << "saved"
                      << (camera.persistentCopy.empty() ? std::string(" (no persistent copy could be kept)")
                                                        : " (copy " + Narrow(camera.persistentCopy) + ")");
        else
            std::cout << "NOT saved: " << Narrow(result.Describe());
        std::cout << '\n';
        anyFailed = anyFailed || camera.persistentCopy.empty();
    }
    Finish(anyFailed, manager.GetCameraParameters().empty());
}

void ImportCommand() {
    HoldInstanceLock("params import");
    NoticeUnfinishedRun();
    CAPIDeviceManager manager;
    if (!ImportUserParams(manager)) Fail(1, Narrow(manager.GetErrorText()));
    bool anyFailed = false;
    for (const CameraParameters& camera : manager.GetCameraParameters()) {
        const ParameterPassResult& result = *camera.imported;
        anyFailed = anyFailed || !result.succeeded;
        std::cout << Name(camera.serial, camera.identity) << ": "
                  << (result.succeeded ? std::string("restored") : "NOT restored: " + Narrow(result.Describe()))
                  << '\n';
    }
    Finish(anyFailed, manager.GetCameraParameters().empty());
}

struct RestoreOptions {
    std::vector<std::string> serials;
    std::string from;
    bool unfinished = false;
};

void RestoreCommand(const RestoreOptions& options) {
    if (!options.unfinished && options.serials.empty()) throw CLI::RequiredError("--unfinished or at least one SERIAL");
    if (!options.from.empty() && options.serials.size() != 1)
        throw CLI::ValidationError("--from", "takes exactly one SERIAL");
    HoldInstanceLock("params restore");
    if (!options.unfinished) NoticeUnfinishedRun();

    std::vector<RestoreRequest> requests;
    std::vector<UnfinishedRunEntry> recorded;
    if (options.unfinished) {
        std::wstring error;
        if (!ReadUnfinishedRun(recorded, error)) Fail(1, Narrow(error));
        if (recorded.empty()) {
            std::cout << "No unfinished run is recorded.\n";
            return;
        }
        for (const UnfinishedRunEntry& entry : recorded) requests.push_back({entry.serial, entry.persistentCopy});
    } else {
        for (const std::string& serial : options.serials)
            requests.push_back({serial, platform::AnsiToWide(options.from)});
    }

    CAPIDeviceManager manager;
    std::vector<RestoreResult> results;
    if (!RestoreUserParams(manager, requests, results)) Fail(1, Narrow(manager.GetErrorText()));
    bool anyFailed = false;
    std::vector<UnfinishedRunEntry> kept;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const RestoreResult& result = results[i];
        anyFailed = anyFailed || !result.result.succeeded;
        std::cout << Name(result.serial, result.identity) << ": "
                  << (result.result.succeeded ? "restored from " + Narrow(result.file)
                                              : "NOT restored: " + Narrow(result.result.Describe()))
                  << '\n';
        if (options.unfinished && !result.result.succeeded) kept.push_back(recorded[i]);
    }
    if (options.unfinished) {
        // Restored cameras leave the record; the others stay for a later try.
        std::wstring error;
        if (!WriteUnfinishedRun(kept, error)) Fail(1, Narrow(error));
    }
    Finish(anyFailed, manager.GetCameraParameters().empty());
}

}  // namespace

void AddParamsCommands(CLI::App& app) {
    CLI::App* params = app.add_subcommand(
        "params",
        "Save or restore the cameras' user parameters through the camera SDK. Each prints a line per "
        "camera. Exit status: 0 when every camera succeeded, 1 when any failed or the temporary folder "
        "cannot be used, 2 when no camera is attached.");
    params->require_subcommand(1);
    params
        ->add_subcommand("export",
                         "Save every camera's user parameters to its file in the temporary folder "
                         "and keep a dated copy in the parameter-backup folder")
        ->callback(ExportCommand);
    params
        ->add_subcommand("import",
                         "Load every camera's user parameters back from its file in the temporary "
                         "folder (the files of this process's export; the folder goes when the "
                         "program ends)")
        ->callback(ImportCommand);

    auto options = std::make_shared<RestoreOptions>();
    auto* restore = params->add_subcommand(
        "restore",
        "Load a camera's latest dated copy from the parameter-backup folder back into it, or the "
        "cameras an unfinished run recorded");
    auto* serials = restore->add_option("serials", options->serials, "Serial numbers of the cameras");
    auto* from = restore->add_option("--from", options->from, "Load this parameter file instead of the latest copy");
    auto* unfinished = restore->add_flag("--unfinished", options->unfinished,
                                         "Restore exactly the cameras the unfinished-run record names, then "
                                         "remove the record");
    unfinished->excludes(serials);
    unfinished->excludes(from);
    restore->callback([options] { RestoreCommand(*options); });
}
