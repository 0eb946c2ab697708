// The main window: one dialog with the four command buttons and the camera list.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "run/CameraRows.h"
#include "run/RunReport.h"
#include "run/UpgradeRun.h"

class CAPIDeviceManager;
class CCameraSession;
class CCloseSignalBridge;
class CDeviceManager;
class CU3VDevice;
class CXListCtrl;
struct CameraRefresh;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QResizeEvent;
class QMenu;
class QPushButton;
class QTimer;

class CFlashwrightDlg : public QDialog, private IUpgradeRunObserver {
    Q_OBJECT

public:
    // Control ids of the dialog template.
    enum ControlId {
        IDC_BEGIN_UPGRADE = 1000,
        IDC_UPDATE_DEVICES = 1001,
        IDC_SELECT_ALL = 1002,
        IDC_SELECT_NONE = 1003,
        IDC_DEVICE_LIST = 1007,
    };

    // Columns of the camera list.
    enum Column {
        kColumnModel = 0,
        kColumnSerialNumber,
        kColumnGuid,
        kColumnDeviceVersion,
        kColumnFirmwareVersion,
        kColumnFactoryVersion,
        kColumnXmlVersion,
        kColumnStatus,
        kColumnTime,
        kColumnCount
    };

    // What the line under the list reports.
    enum class RunPhase { kIdle, kWriting, kRestarting, kRestoring, kSummary };
    Q_ENUM(RunPhase)

    // The rows of a run are refreshed this often while the workers write.
    static constexpr int kRefreshIntervalMs = 20;

    // Receives every message box instead of a modal QMessageBox; tests install
    // one to read the texts without a person pressing OK. Empty: real boxes.
    using MessageBoxHandler = std::function<void(const QString& caption, const QString& text)>;
    static void SetMessageBoxHandler(MessageBoxHandler handler);
    // Receives every Yes/No question instead of a modal box; returns the answer.
    using QuestionHandler = std::function<bool(const QString& caption, const QString& text)>;
    static void SetQuestionHandler(QuestionHandler handler);

    explicit CFlashwrightDlg(QWidget* parent = nullptr);
    // The shutdown: parameter manager, producer, device manager, temporary folder.
    ~CFlashwrightDlg() override;
    CFlashwrightDlg(const CFlashwrightDlg&) = delete;
    CFlashwrightDlg& operator=(const CFlashwrightDlg&) = delete;

    // Everything before the window is first shown: the session's start-up
    // (with the offer to restore an earlier run's parameters), then the rows.
    // A failure shows its message and ends the process with status 0.
    void OnInitDialog();

    // The context menu that stands in for the window's system menu.
    QMenu* CreateSystemMenu(QWidget* parent);
    void ShowAboutBox();
    // "Upgrade History...": the recorded runs, beside the About item.
    void ShowHistory();

signals:
    // The line under the list entered another phase; text is its first wording.
    void RunPhaseChanged(CFlashwrightDlg::RunPhase phase, const QString& text);

public:
    // Where the window size and the column widths are remembered between starts.
    static constexpr const char* kSettingsOrganization = "flashwright";
    static constexpr const char* kSettingsApplication = "flashwright";

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void done(int result) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // The size the dialog template gives the window: its first and smallest size.
    QSize GetDefaultSize() const;

    // Command handlers, as the buttons, the list and the keyboard filter call them.
    void OnUpdateDevices();
    void OnSelectAll();
    void OnSelectNone();
    void OnBeginUpgrade();
    void OnCheckboxClicked(int nItem, int nSubItem);
    void OnEnterToggle();
    void OnTimer();

    // IUpgradeRunObserver: the window's part of the run.
    void OnWorkersStarting() override;
    void OnWorkersFinished() override;
    void OnCamerasReturned() override;
    void OnProducerReleased() override;
    void OnImportFailed(const std::wstring& text) override;
    void OnParametersRestored() override;
    void OnRecordFailed(const std::wstring& text) override;
    void OnHistoryFailed(const std::wstring& text) override;

    // An earlier run left parameters unrestored: asks whether to restore them now.
    void __OfferUnfinishedRestore();
    bool __Question(const std::wstring& text);

    void __CreateControls();
    void __SetupColumns();
    // The group, the list and the status line follow the window's size; the buttons stay.
    void __LayOut();
    // The Status column, whose texts are the longest, takes the room the window
    // gives beyond the other columns.
    void __FillStatusColumn();
    void __RestoreWindowState();
    void __SaveWindowState() const;
    // The rows from the session's cameras, nothing ticked.
    void __FillRows();
    // The list's rows and ticks as m_rows holds them.
    void __ShowRows();
    void __ShowTicks();
    void __FillDeviceRow(int nItem, CU3VDevice& camera);
    void __RefreshControlStates();
    void __Answer(CCameraRows::EAnswer answer);
    void __SetCell(int nItem, int nSubItem, const std::wstring& text);
    // The Status and Time cells of the ticked rows, from a refresh of their cameras.
    void __RefreshRunRows();
    void __ShowRefresh(int nItem, const CameraRefresh& refresh);
    void __SetPhase(RunPhase phase, const std::wstring& text);
    void __RefreshWritingPhase();
    void __RefreshRestartPhase();
    // The rows of the run as its report tells them: outcome, burn time, and
    // the firmware cell of a camera that came back, verified or not.
    void __ShowRunResults();
    // The identity cells of a camera the list cannot open any more, as it was.
    void __ShowIdentity(int nItem, CU3VDevice& camera);
    // The keyboard filter in front of every key the dialog's controls receive.
    // True when the key is swallowed.
    bool __PreTranslateKey(QWidget* target, QKeyEvent* event);
    // A close request while a run is in progress is refused; true when refused.
    bool __RefuseCloseDuringRun();
    void __OnCloseSignal(int signalNumber);
    // Every box the window shows; onClosed runs once it is closed.
    void __MessageBox(const QString& text, std::function<void()> onClosed = {});
    void __MessageBox(const std::wstring& text);
    // Shows a box or window of the program, deleted when closed: modal with a
    // loop of its own outside a run, window-modal without one during a run.
    void __ShowModal(QDialog* dialog, std::function<void()> onClosed = {});
    // Start-up and "Update Devices" failures: message, then the process ends.
    [[noreturn]] void __FailAndExit(const std::wstring& text);
    QPushButton* __Button(int id) const;

    QIcon m_icon;
    QGroupBox* m_group = nullptr;
    QPushButton* m_updateButton = nullptr;
    QPushButton* m_selectAllButton = nullptr;
    QPushButton* m_selectNoneButton = nullptr;
    QPushButton* m_beginButton = nullptr;
    CXListCtrl* m_deviceList = nullptr;
    QLabel* m_phaseLabel = nullptr;
    QTimer* m_refreshTimer = nullptr;
    CCloseSignalBridge* m_signalBridge = nullptr;

    // What the list shows: a camera per row and the ticks; the records belong
    // to the device manager.
    CCameraRows m_rows;
    CDeviceManager* m_deviceManager = nullptr;
    std::unique_ptr<CAPIDeviceManager> m_parameterManager;
    std::unique_ptr<CCameraSession> m_session;
    bool m_upgrading = false;
    std::unique_ptr<CUpgradeRun> m_lastRun;
    RunPhase m_phase = RunPhase::kIdle;
    // The Status column's own width (the template's or the user's), before it fills the room.
    int m_statusColumnWidth = 100;
    bool m_fillingStatusColumn = false;
    // The last run's report, which its rows and summary render.
    std::unique_ptr<RunReport> m_report;
    bool m_historyFailureShown = false;
    // The rows of the run as it began, with their cameras' device ids.
    std::vector<std::pair<int, std::string>> m_runRows;
    // From "Begin Upgrade" to the end of the import pass: the window stays.
    bool m_runActive = false;
    // Set while a refusal is queued or on screen, so further requests of any
    // kind are absorbed instead of stacking boxes.
    bool m_refusalPending = false;

    static MessageBoxHandler s_messageBoxHandler;
    static QuestionHandler s_questionHandler;
};
