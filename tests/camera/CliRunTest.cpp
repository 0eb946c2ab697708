// flashwright-cli as a production line drives it: usage errors, the dry run,
// cameras already up to date, and the history the runs leave.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "testbed/Cameras.h"
#include "testbed/Files.h"
#include "testbed/Process.h"

namespace {

using testbed::Camera;
using testbed::Description;
using testbed::json;
using testbed::SimulatedCameras;

using testbed::kReleaseFirmware;

using testbed::ProcessResult;
using testbed::RunCli;

std::vector<std::string> Calls(const SimulatedCameras& sim) {
    std::vector<std::string> calls;
    for (const json& event : sim.Events()) calls.push_back(event["call"]);
    return calls;
}

bool Contains(const std::vector<std::string>& calls, const std::string& call) {
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

TEST(CliUsageTest, UsageErrorsExit64NamingTheWordAndTheNearestCommand) {
    testbed::SimulatedCameras sim(Description({Camera("A1")}));
    const struct {
        const char* arguments;
        const char* message;
    } cases[] = {
        {"lst", "unknown command \"lst\"; did you mean \"list\"?"},
        {"upgarde --all", "unknown command \"upgarde\"; did you mean \"upgrade\"?"},
        {"package modls", "unknown command \"package modls\"; did you mean \"models\"?"},
        {"frobnicate", "unknown command \"frobnicate\"\n"},
        {"list --jsn", "unknown option \"--jsn\" for \"list\"; did you mean \"--json\"?"},
        {"upgrade --dryrun --all", "unknown option \"--dryrun\" for \"upgrade\"; did you mean \"--dry-run\"?"},
        {"upgrade", "--all or at least one SERIAL"},
        {"upgrade --all A1", "excludes"},
        {"history --since yesterday", "\"yesterday\" is not a date"},
        {"completion zsh", "zsh"},
    };
    for (const auto& c : cases) {
        const ProcessResult result = RunCli(c.arguments);
        EXPECT_EQ(result.exitCode, 64) << c.arguments << "\n" << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << c.arguments << "\n" << result.err;
        EXPECT_EQ(result.out, "") << c.arguments;
    }
    // Nothing reached a camera.
    EXPECT_FALSE(Contains(Calls(sim), "IFOpenDevice"));

    // A bare call prints the usage, with the exit table, and is a usage error too.
    const ProcessResult bare = RunCli("");
    EXPECT_EQ(bare.exitCode, 64);
    EXPECT_NE(bare.out.find("Usage: flashwright-cli"), std::string::npos) << bare.out;
    EXPECT_NE(bare.out.find("64  usage error"), std::string::npos) << bare.out;
    const ProcessResult help = RunCli("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out, bare.out);

    const ProcessResult version = RunCli("--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_NE(version.out.find("ORV-2M-L  V01.03.002.001:V01.06\n"), std::string::npos) << version.out;
}

TEST(CliDryRunTest, DryRunChecksWithoutUpgradeModeFlashOrParameterPass) {
    json tooNew = Camera("B2");
    tooNew["firmware_version"] = "V01.04.001.002:V01.05";
    SimulatedCameras sim(Description({Camera("A1", "ORV-2M"), tooNew}));
    const ProcessResult result = RunCli("upgrade --all --dry-run --json");
    EXPECT_EQ(result.exitCode, 1) << result.err;
    const json rows = json::parse(result.out);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]["serial"], "A1");
    EXPECT_EQ(rows[0]["status"], "Ready to upgrade");
    EXPECT_EQ(rows[0]["dry_run"], true);
    EXPECT_EQ(rows[0]["target_version"], kReleaseFirmware);
    EXPECT_EQ(rows[1]["status_code"], 13);
    EXPECT_EQ(rows[1]["status"], "File version mismatch");

    const auto calls = Calls(sim);
    for (const char* forbidden :
         {"DPEnterUpgradeMode", "DPWriteUpgradeFile", "DPLeaveUpgradeMode", "ZvIAPI_700", "ZvIAPI_701"})
        EXPECT_FALSE(Contains(calls, forbidden)) << forbidden;
    // The flash vendor rule was checked on the camera itself.
    EXPECT_FALSE(sim.Events({.deviceId = "SIM-A1", .call = "GCReadPort"}).empty());
    EXPECT_FALSE(std::filesystem::exists(sim.ProgramStateFolder() / "history.jsonl"));

    // A camera that passes alone makes a clean dry run.
    const ProcessResult clean = RunCli("upgrade A1 --dry-run");
    EXPECT_EQ(clean.exitCode, 0) << clean.err;
    EXPECT_NE(clean.out.find("A1  Ready to upgrade"), std::string::npos) << clean.out;
}

TEST(CliUpToDateTest, UpToDateCamerasAreSkippedUnlessReinstalled) {
    json current = Camera("B2");
    current["firmware_version"] = kReleaseFirmware;
    SimulatedCameras sim(Description({current}));

    const ProcessResult skipped = RunCli("upgrade --all --json");
    EXPECT_EQ(skipped.exitCode, 2) << skipped.err;
    const json rows = json::parse(skipped.out);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["skipped"], true);
    EXPECT_EQ(rows[0]["status"], "Up to date");
    EXPECT_NE(skipped.err.find("--reinstall"), std::string::npos) << skipped.err;
    EXPECT_FALSE(Contains(Calls(sim), "DPEnterUpgradeMode"));
    EXPECT_FALSE(Contains(Calls(sim), "ZvIAPI_700"));

    const ProcessResult again = RunCli("upgrade B2 --reinstall --json");
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(json::parse(again.out)[0]["status"], "Success");
    EXPECT_EQ(sim.Events({.deviceId = "SIM-B2", .call = "DPEnterUpgradeMode"}).size(), 1u);
}

TEST(CliHistoryTest, EachRunLeavesOneRecordWithEveryCameraAndItsVersions) {
    json failing = Camera("C3");
    failing["faults"] = {{"write_fails_at", "0x1200000"}};
    SimulatedCameras sim(Description({Camera("A1"), Camera("B2", "ORV-2M"), failing}));

    EXPECT_EQ(RunCli("history").exitCode, 2);
    const ProcessResult first = RunCli("upgrade A1 C3");
    ASSERT_EQ(first.exitCode, 1) << first.err;
    // B2 alone, named by its device id.
    const ProcessResult second = RunCli("upgrade SIM-B2");
    ASSERT_EQ(second.exitCode, 0) << second.err;

    const ProcessResult history = RunCli("history --json");
    ASSERT_EQ(history.exitCode, 0) << history.err;
    const json records = json::parse(history.out);
    ASSERT_EQ(records.size(), 2u);
    // Newest first.
    ASSERT_EQ(records[0]["cameras"].size(), 1u);
    ASSERT_EQ(records[1]["cameras"].size(), 2u);
    EXPECT_GE(records[0]["started"].get<std::string>(), records[1]["ended"].get<std::string>());
    EXPECT_EQ(records[0]["front_end"], "cli");
    const json& b2 = records[0]["cameras"][0];
    EXPECT_EQ(b2["serial"], "B2");
    EXPECT_EQ(b2["model"], "ORV-2M");
    EXPECT_EQ(b2["device_id"], "SIM-B2");
    EXPECT_EQ(b2["version_before"], "V01.03.001.002:V01.05");
    EXPECT_EQ(b2["firmware_version"], kReleaseFirmware);
    EXPECT_EQ(b2["outcome"], "upgraded");
    EXPECT_EQ(b2["status_code"], 0);
    EXPECT_EQ(b2["back"], true);
    EXPECT_EQ(b2["verified"], true);
    const json& c3 = records[1]["cameras"][1];
    EXPECT_EQ(c3["serial"], "C3");
    EXPECT_EQ(c3["status"], "Burning the FPGA failed");
    EXPECT_EQ(c3["version_before"], "V01.03.001.002:V01.05");
    // It came back with its old firmware, which is not the package's.
    EXPECT_EQ(c3["firmware_version"], "V01.03.001.002:V01.05");
    EXPECT_EQ(c3["outcome"], "failed");
    EXPECT_EQ(c3["verified"], false);

    // One camera's history, by serial or device id; --since filters by start.
    for (const char* name : {"C3", "SIM-C3"}) {
        const json one = json::parse(RunCli(std::string("history --json ") + name).out);
        ASSERT_EQ(one.size(), 1u) << name;
        ASSERT_EQ(one[0]["cameras"].size(), 1u);
        EXPECT_EQ(one[0]["cameras"][0]["serial"], "C3");
    }
    const std::string secondStart = records[0]["started"];
    EXPECT_EQ(json::parse(RunCli("history --json --since " + secondStart.substr(0, 19) + "Z").out).size(), 1u);
    EXPECT_EQ(RunCli("history --since 2999-01-01").exitCode, 2);
    EXPECT_EQ(RunCli("history NO-SUCH").exitCode, 2);
    const ProcessResult table = RunCli("history A1");
    EXPECT_NE(table.out.find("A1  ORV-2C  V01.03.001.002:V01.05  V01.03.002.001:V01.06  Success"), std::string::npos)
        << table.out;
}

}  // namespace

namespace {

// What bash offers after the words typed so far (the last one may be partial).
std::string Complete(const std::filesystem::path& scratch, const std::string& words) {
    const std::filesystem::path script = scratch / "complete.sh";
    std::ofstream(script) << "source <(\"" << testbed::BuiltProgram("flashwright-cli").string()
                          << "\" completion bash)\n"
                          << "COMP_WORDS=(" << words << ")\n"
                          << "COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))\n"
                          << "[[ \"" << words
                          << "\" == *\" \" ]] && { COMP_WORDS+=(\"\"); COMP_CWORD=$(( COMP_CWORD + 1 )); }\n"
                          << "_flashwright_cli\n"
                          << "echo \"${COMPREPLY[*]}\"\n";
    std::string out = testbed::RunProcess("bash", {script.string()}).out;
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

TEST(CliCompletionTest, OffersTheCommandsAndOptionsTheProgramHas) {
    testbed::TempFolder scratch;
    const struct {
        const char* words;
        const char* offered;
    } cases[] = {
        {"flashwright-cli up", "upgrade"},
        {"flashwright-cli h", "history"},
        {"flashwright-cli upgrade --d", "--dry-run"},
        {"flashwright-cli upgrade --rei", "--reinstall"},
        {"flashwright-cli upgrade --re", "--reinstall --reboot-timeout"},
        {"flashwright-cli package p", "plan"},
        {"flashwright-cli package plan --o", "--output-dir"},
        {"flashwright-cli history --s", "--since"},
        {"flashwright-cli list --verb", "--verbose"},
        {"flashwright-cli --vers", "--version"},
    };
    for (const auto& c : cases) EXPECT_EQ(Complete(scratch.Path(), c.words), c.offered) << c.words;

    // Every command the help lists is offered, and nothing else.
    const std::string top = Complete(scratch.Path(), "flashwright-cli ");
    for (const char* command : {"package", "params", "list", "upgrade", "history", "completion"})
        EXPECT_NE((" " + top + " ").find(std::string(" ") + command + " "), std::string::npos) << top;
    const ProcessResult help = RunCli("--help");
    std::istringstream lines(help.out.substr(help.out.find("Subcommands:")));
    std::string line;
    std::getline(lines, line);
    int listed = 0;
    while (std::getline(lines, line) && line.rfind("  ", 0) == 0) {
        const std::string command = line.substr(2, line.find(' ', 2) - 2);
        EXPECT_NE((" " + top + " ").find(" " + command + " "), std::string::npos) << command;
        ++listed;
    }
    EXPECT_EQ(listed, 6);

    // The script the build installs is the one the program writes.
    const ProcessResult script = RunCli("completion bash");
    std::ifstream installed(testbed::BinDir().parent_path() / "share" / "bash-completion" / "completions" /
                            "flashwright-cli");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(installed), {}), script.out);
}

}  // namespace

namespace {

// A compressed manual page as text; empty when it cannot be read.
std::string ReadManualPage(const std::filesystem::path& page) {
    if (!std::filesystem::is_regular_file(page)) return {};
    const ProcessResult unpacked = testbed::RunProcess("gzip", {"-dc", page.string()});
    return unpacked.exitCode == 0 ? unpacked.out : std::string();
}

// The manual pages the build makes from the programs' help hold every command
// and option the help shows, and the files the programs keep.
TEST(CliManualPageTest, PagesHoldEveryCommandAndOptionOfTheHelp) {
    const std::filesystem::path man = testbed::BinDir().parent_path() / "share" / "man" / "man1";
    const std::string page = ReadManualPage(man / "flashwright-cli.1.gz");
    ASSERT_FALSE(page.empty()) << man;
    // help2man writes "-" as "\-".
    std::string plain;
    for (std::size_t i = 0; i < page.size(); ++i)
        if (!(page[i] == '\\' && i + 1 < page.size() && page[i + 1] == '-')) plain += page[i];

    testbed::TempFolder scratch;
    const ProcessResult help = RunCli("--help-all");
    ASSERT_EQ(help.exitCode, 0);
    std::istringstream words(help.out);
    std::string word;
    int options = 0;
    while (words >> word) {
        if (word.rfind("--", 0) != 0 || word.size() < 4) continue;
        word = word.substr(0, word.find_first_of(",:"));
        EXPECT_NE(plain.find(word), std::string::npos) << word;
        ++options;
    }
    EXPECT_GE(options, 12);  // every long option, each place it appears
    for (const char* text : {"history.jsonl", "usage error", "upgrade", "completion", ".SH FILES", ".SH ENVIRONMENT"})
        EXPECT_NE(plain.find(text), std::string::npos) << text;

    const std::string dialog = ReadManualPage(man / "flashwright.1.gz");
    EXPECT_NE(dialog.find("\\-\\-version"), std::string::npos);
    EXPECT_NE(dialog.find("history.jsonl"), std::string::npos);
}

}  // namespace
