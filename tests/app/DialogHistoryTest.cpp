// The dialog's runs in the upgrade history, and "Upgrade History..." showing
// them and saving them as CSV.
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QTableWidget>
#include <QTimer>

#include <fstream>
#include <iterator>

#include "DialogFixture.h"
#include "dialog/HistoryDlg.h"
#include "run/History.h"

namespace apptest {
namespace {

class DialogHistoryTest : public DialogFixture {
protected:
    void SetUp() override {
        DialogFixture::SetUp();
        // A history of this test's own: the other dialog tests record runs too.
        m_environment.Set("XDG_STATE_HOME", m_folder.Path().string());
    }
    void TearDown() override {
        CHistoryDlg::SetSaveFileChooser({});
        DialogFixture::TearDown();
    }

    testbed::TempFolder m_folder;
    ScopedEnvironment m_environment;
};

TEST_F(DialogHistoryTest, RunIsRecordedAndShownBesideAboutAndSavedAsCsv) {
    json upToDate = Camera("B0002", "ORV-2M", 6e5);
    upToDate["firmware_version"] = "V01.03.002.001:V01.06";
    Start(Description({Camera("A0001", "ORV-2C", 6e5), upToDate, Camera("C0003", "ORV-2C-L", 6e5)}));
    // The dialog upgrades what is ticked, up to date or not.
    ClickCheckbox(0);
    ClickCheckbox(1);
    Button(CFlashwrightDlg::IDC_BEGIN_UPGRADE)->click();
    ASSERT_TRUE(NeedsReenumeration());
    EXPECT_TRUE(messages.empty()) << messages.front().toStdString();

    std::vector<RunReport> records;
    std::size_t skipped = 0;
    std::wstring error;
    ASSERT_TRUE(ReadHistory(HistoryFilePath(), HistoryQuery{}, records, skipped, error));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].frontEnd, "dialog");
    ASSERT_EQ(records[0].cameras.size(), 2u);
    const struct {
        const char* serial;
        const char* before;
    } expected[] = {{"A0001", "V01.03.001.002:V01.05"}, {"B0002", "V01.03.002.001:V01.06"}};
    for (std::size_t i = 0; i < 2; ++i) {
        const CameraReport& camera = records[0].cameras[i];
        EXPECT_EQ(camera.name, expected[i].serial);
        EXPECT_EQ(camera.versionBefore, expected[i].before);
        EXPECT_EQ(camera.FirmwareVersion(), "V01.03.002.001:V01.06");
        EXPECT_EQ(camera.outcome, ECameraOutcome::kUpgraded);
        EXPECT_EQ(camera.ResultText(), "Success");
        EXPECT_EQ(camera.back, std::optional<bool>(true));
        EXPECT_EQ(camera.verified, std::optional<bool>(true));
        EXPECT_GT(camera.seconds, 0.0);
    }

    // The menu item sits right before About.
    std::unique_ptr<QMenu> menu(dialog->CreateSystemMenu(dialog.get()));
    const QList<QAction*> actions = menu->actions();
    QAction* history = nullptr;
    for (int i = 0; i + 1 < actions.size(); ++i) {
        if (actions[i]->text() != "Upgrade History...") continue;
        history = actions[i];
        EXPECT_EQ(actions[i + 1]->text(), "About Flashwright(&A)...");
    }
    ASSERT_NE(history, nullptr);

    const std::filesystem::path csvPath = m_folder.Path() / "saved.csv";
    CHistoryDlg::SetSaveFileChooser([&](QWidget*) { return QString::fromStdString(csvPath.string()); });
    QStringList cells;
    QString title;
    QTimer::singleShot(0, [&] {
        auto* shown = qobject_cast<CHistoryDlg*>(QApplication::activeModalWidget());
        if (shown == nullptr) return;
        title = shown->windowTitle();
        QTableWidget* table = shown->GetTable();
        for (int row = 0; row < table->rowCount(); ++row)
            cells << table->item(row, 1)->text() + " " + table->item(row, 3)->text();
        shown->GetSaveButton()->click();
        shown->close();
    });
    history->trigger();
    EXPECT_EQ(title, "Upgrade History");
    EXPECT_EQ(cells, (QStringList{"A0001 Success", "B0002 Success"}));

    std::ifstream csv(csvPath, std::ios::binary);
    const std::string saved{std::istreambuf_iterator<char>(csv), {}};
    EXPECT_EQ(saved, HistoryCsv(records));
    EXPECT_EQ(saved.substr(0, saved.find("\r\n")),
              "Started (UTC),SN,Model,Status,Time(s),Back,Firmware before,Firmware after,Verified,Parameters saved,"
              "Parameters restored,Run,From,Device ID,Status code,Ended (UTC),Parameter copy,Failure text");
}

TEST(HistoryCsvTest, FieldsWithCommasQuotesOrLineBreaksAreQuoted) {
    RunReport record;
    record.state = ERunState::kCompleted;
    record.started = "2026-01-01T00:00:00.000Z";
    record.frontEnd = "cli";
    CameraReport camera;
    camera.name = "A,1";
    camera.outcome = ECameraOutcome::kFailed;
    camera.status = "say \"hi\"";
    camera.failureText = "two\nlines";
    record.cameras.push_back(camera);
    const std::string csv = HistoryCsv({record});
    const std::string row = csv.substr(csv.find("\r\n") + 2);
    EXPECT_EQ(row,
              "2026-01-01T00:00:00.000Z,\"A,1\",,\"say \"\"hi\"\"\",0.000,,,,,,,completed,cli,,,,,\"two\nlines\"\r\n");
}

}  // namespace
}  // namespace apptest
