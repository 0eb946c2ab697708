// Pictures of the window for a person to look at, made against the demo's
// simulated cameras (scripts/demo --screenshots runs it under Xvfb; headless,
// with QT_QPA_PLATFORM=offscreen, the pictures are rendered off screen):
//   flashwright_screenshots [--out FOLDER] [SCENE...]
// Each scene is one function below and writes its own pictures; with no
// SCENE every scene runs. The exit status is 1 when any picture could not be
// made, with the reason on standard error.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QtTest/QTest>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "DialogWidgets.h"
#include "dialog/FlashwrightApp.h"
#include "dialog/FlashwrightDlg.h"
#include "dialog/HistoryDlg.h"
#include "RunPhaseScreenshots.h"
#include "support/Platform.h"
#include "testbed/Cameras.h"
#include "testbed/Environment.h"
#include "widgets/XListCtrl.h"

namespace {

// Where the pictures go, and what went wrong on the way.
class Shots {
public:
    explicit Shots(QString folder) : m_folder(std::move(folder)) {}

    void Save(const QString& name, QWidget* widget) {
        if (!QDir().mkpath(m_folder)) return Fail("cannot make the folder " + m_folder.toStdString());
        const QString path = m_folder + "/" + name;
        const QImage image = widget->grab().toImage();
        if (image.isNull() || !image.save(path)) return Fail("cannot save " + path.toStdString());
        std::cout << path.toStdString() << '\n';
    }
    void Fail(const std::string& what) {
        std::cerr << "flashwright_screenshots: " << what << '\n';
        m_failed = true;
    }
    bool Failed() const { return m_failed; }

private:
    QString m_folder;
    bool m_failed = false;
};

// xlistctrl.png and xlistctrl-empty.png: the list control alone, with every
// kind of row, and empty.
void ListScene(Shots& shots) {
    CXListCtrl list;
    list.SetExtendedStyle(CXListCtrl::GridLines | CXListCtrl::FullRowSelect);
    list.InsertColumn(0, "Device Model", Qt::AlignLeft, 125);
    list.InsertColumn(1, "SN", Qt::AlignHCenter, 90);
    list.InsertColumn(2, "Status", Qt::AlignHCenter, 100);
    list.InsertColumn(3, "Firmware Version", Qt::AlignHCenter, 130);
    list.resize(520, 200);
    list.show();
    if (!QTest::qWaitForWindowExposed(&list)) return shots.Fail("the list was never shown");

    const struct {
        const char* model;
        int check;
        bool enabled;
        const char* serial;
        const char* status;
    } rows[] = {
        {"ZV-U3-130M", 1, true, "A1930021", "Upgraded"},
        {"ZV-U3-130M", 0, true, "A1930022", "  "},
        {"ZV-U3-500C", 1, false, "B2210007", "Not opened"},
        {"zv-u3-500c", 0, false, "B2210008", "Don't support upgrade"},
        {"ZV-U3-200M", 0, true, "C0310415", "  "},
    };
    for (const auto& r : rows) {
        const int row = list.InsertItem(list.GetItemCount(), r.model);
        list.SetCheckbox(row, r.check);
        list.SetItemText(row, 1, r.serial);
        list.SetItemText(row, 2, r.status);
        list.SetItemText(row, 3, r.enabled ? "V2.1.0 Build 2106" : "");
        list.SetEnabled(row, r.enabled);
    }
    // The last row selected, with focus.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, list.GetSubItemRect(4, 2).center());
    list.activateWindow();
    list.setFocus();
    if (!QTest::qWaitForWindowActive(&list)) shots.Fail("the list never became the active window");
    shots.Save("xlistctrl.png", &list);
    list.DeleteAllItems();
    shots.Save("xlistctrl-empty.png", &list);
}

// flashwright-start.png, -during-run.png, -after-run.png, -menu.png and
// -history.png: the main window with the demo's cameras before, during and
// after a run of every eligible camera, its context menu, and the history
// holding that run.
void RunScene(Shots& shots) {
    std::ifstream in(FLASHWRIGHT_DEMO_DESCRIPTION);
    const testbed::SimulatedCameras sim(testbed::json::parse(in));
    std::vector<std::string> messages;
    CFlashwrightDlg::SetMessageBoxHandler([&](const QString& caption, const QString& text) {
        messages.push_back((caption + ": " + text).toStdString());
    });
    // The program's own run timing: the demo cameras reboot in 4 to 6 s.
    testbed::ScopedEnvironment timing;
    timing.Unset("FLASHWRIGHT_REBOOT_ALLOWANCE");
    timing.Unset("FLASHWRIGHT_REBOOT_TIMEOUT");
    CFlashwrightDlg dialog;
    dialog.OnInitDialog();
    dialog.show();
    if (!QTest::qWaitForWindowExposed(&dialog)) return shots.Fail("the window was never shown");
    dialog.activateWindow();
    CXListCtrl* list = dialogwidgets::DeviceList(dialog);
    const auto button = [&](int id) { return dialogwidgets::Button(dialog, id); };
    button(CFlashwrightDlg::IDC_SELECT_ALL)->click();
    if (dialogwidgets::TickedRows(*list).empty()) return shots.Fail("no demo camera could be ticked");
    shots.Save("flashwright-start.png", &dialog);

    // During the run: once two cameras are burning with their time running.
    bool during = false;
    QTimer sampler;
    sampler.setInterval(5);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (during || !dialogwidgets::RefreshTimer(dialog)->isActive()) return;
        int burning = 0;
        for (const int row : dialogwidgets::TickedRows(*list))
            if (list->GetItemText(row, CFlashwrightDlg::kColumnStatus) == "Burning" &&
                list->GetItemText(row, CFlashwrightDlg::kColumnTime) != "0.000 S")
                ++burning;
        if (burning >= 2) {
            during = true;
            shots.Save("flashwright-during-run.png", &dialog);
        }
    });
    sampler.start();
    button(CFlashwrightDlg::IDC_BEGIN_UPGRADE)->click();
    sampler.stop();
    if (!during) shots.Fail("the run ended before two cameras were seen burning");
    shots.Save("flashwright-after-run.png", &dialog);

    // The context menu with "Upgrade History..." beside About, and the history
    // it opens.
    std::unique_ptr<QMenu> menu(dialog.CreateSystemMenu(&dialog));
    menu->popup(dialog.mapToGlobal(QPoint(300, 200)));
    if (QTest::qWaitForWindowExposed(menu.get()))
        shots.Save("flashwright-menu.png", menu.get());
    else
        shots.Fail("the context menu was never shown");
    menu->close();
    bool historyShown = false;
    QTimer::singleShot(0, [&] {
        auto* history = qobject_cast<CHistoryDlg*>(QApplication::activeModalWidget());
        if (history == nullptr) return;
        if (QTest::qWaitForWindowExposed(history) && history->GetTable()->rowCount() > 0) {
            shots.Save("flashwright-history.png", history);
            historyShown = true;
        }
        history->close();
    });
    dialog.ShowHistory();
    if (!historyShown) shots.Fail("the history did not open with the run in it");
    for (const std::string& message : messages) shots.Fail("the window showed a message: " + message);
    CFlashwrightDlg::SetMessageBoxHandler({});
}

// flashwright-writing.png, -restart-wait.png and -summary.png, each also
// "-maximised": a run of 32 cameras as the operator follows it.
void PhasesScene(Shots& shots) {
    screenshots::RunPhaseScenes([&](const QString& name, QWidget* widget) { shots.Save(name, widget); },
                                [&](const std::string& reason) { shots.Fail(reason); });
}

struct Scene {
    const char* name;
    std::function<void(Shots&)> make;
};

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The run's temporary folder, parameter backups and history stay with the tool.
    const testbed::IsolatedFolders folders;
    // The window's remembered size and column widths too: the pictures show the first start's.
    const testbed::ScopedEnvironment configHome("XDG_CONFIG_HOME", (folders.Root() / "config").string());
    QApplication app(argc, argv);
    platform::SetMessagePumpHook(&CFlashwrightApp::PumpEvents);

    const std::vector<Scene> scenes = {{"list", ListScene}, {"run", RunScene}, {"phases", PhasesScene}};
    QString out = FLASHWRIGHT_SCREENSHOT_DIR;
    std::vector<std::string> wanted;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--out" && i + 1 < argc) {
            out = QString::fromLocal8Bit(argv[++i]);
        } else if (argument.rfind("-", 0) == 0) {
            std::cerr << "usage: flashwright_screenshots [--out FOLDER] [SCENE...]; scenes:";
            for (const Scene& scene : scenes) std::cerr << ' ' << scene.name;
            std::cerr << '\n';
            return 64;
        } else {
            wanted.push_back(argument);
        }
    }

    Shots shots(out);
    for (const std::string& name : wanted) {
        bool known = false;
        for (const Scene& scene : scenes) known = known || name == scene.name;
        if (!known) shots.Fail("no scene \"" + name + "\"");
    }
    for (const Scene& scene : scenes) {
        if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), scene.name) == wanted.end()) continue;
        scene.make(shots);
    }
    platform::SetMessagePumpHook(nullptr);
    return shots.Failed() ? 1 : 0;
}
