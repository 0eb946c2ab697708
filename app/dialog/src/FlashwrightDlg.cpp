#include "dialog/FlashwrightDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QResizeEvent>
#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "dialog/AboutDlg.h"
#include "dialog/DialogUnits.h"
#include "dialog/HistoryDlg.h"
#include "dialog/SignalBridge.h"
#include "camera/BurnTime.h"
#include "camera/DeviceManager.h"
#include "camera/U3VDevice.h"
#include "package/TempFiles.h"
#include "run/AppText.h"
#include "run/CameraRows.h"
#include "run/CameraSession.h"
#include "package/Release.h"
#include "run/RunReport.h"
#include "run/RunRefresh.h"
#include "sdk/APIDeviceManager.h"
#include "sdk/UnfinishedRun.h"
#include "support/FormatString.h"
#include "support/Platform.h"
#include "widgets/XListCtrl.h"

namespace {

QString Text(const wchar_t* text) { return QString::fromWCharArray(text); }

bool IsEnterKey(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }

std::wstring FieldWide(const char* field, std::size_t width) { return platform::AnsiToWide(FieldText(field, width)); }

template <std::size_t N>
std::wstring FieldWide(const char (&field)[N]) {
    return FieldWide(field, N);
}

// Gives the focus back to a control remembered before a long command, if it
// still exists and can take it.
void RestoreFocus(const QPointer<QWidget>& control) {
    if (control && control->isEnabled()) control->setFocus();
}

}  // namespace

CFlashwrightDlg::MessageBoxHandler CFlashwrightDlg::s_messageBoxHandler;
CFlashwrightDlg::QuestionHandler CFlashwrightDlg::s_questionHandler;

void CFlashwrightDlg::SetMessageBoxHandler(MessageBoxHandler handler) { s_messageBoxHandler = std::move(handler); }

void CFlashwrightDlg::SetQuestionHandler(QuestionHandler handler) { s_questionHandler = std::move(handler); }

CFlashwrightDlg::CFlashwrightDlg(QWidget* parent) : QDialog(parent) {
    m_icon = LoadApplicationIcon();
    m_parameterManager = std::make_unique<CAPIDeviceManager>();
    m_deviceManager = CDeviceManager::GetInstance();
    m_session = std::make_unique<CCameraSession>(*m_deviceManager, *m_parameterManager);

    setWindowTitle(Text(AppText::kDialogCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(m_icon);
    setFont(CDialogUnits::DialogFont());
    __CreateControls();
    __SetupColumns();
    __RestoreWindowState();

    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setObjectName(QStringLiteral("refreshTimer"));
    m_refreshTimer->setInterval(kRefreshIntervalMs);
    connect(m_refreshTimer, &QTimer::timeout, this, &CFlashwrightDlg::OnTimer);

    connect(m_updateButton, &QPushButton::clicked, this, &CFlashwrightDlg::OnUpdateDevices);
    connect(m_selectAllButton, &QPushButton::clicked, this, &CFlashwrightDlg::OnSelectAll);
    connect(m_selectNoneButton, &QPushButton::clicked, this, &CFlashwrightDlg::OnSelectNone);
    connect(m_beginButton, &QPushButton::clicked, this, &CFlashwrightDlg::OnBeginUpgrade);
    connect(m_deviceList, &CXListCtrl::CheckboxClicked, this, &CFlashwrightDlg::OnCheckboxClicked);
    // A column the user widens or narrows: the Status column fills what is left.
    connect(m_deviceList->horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int logicalIndex, int, int newSize) {
                if (m_fillingStatusColumn) return;
                if (logicalIndex == kColumnStatus) {
                    m_statusColumnWidth = newSize;
                    return;
                }
                QTimer::singleShot(0, this, [this] { __FillStatusColumn(); });
            });

    qApp->installEventFilter(this);
    m_signalBridge = new CCloseSignalBridge(this);
    connect(m_signalBridge, &CCloseSignalBridge::CloseRequested, this, &CFlashwrightDlg::__OnCloseSignal);
}

CFlashwrightDlg::~CFlashwrightDlg() {
    qApp->removeEventFilter(this);
    m_lastRun.reset();
    m_rows.Release();
    m_session.reset();
    // The SDK closes every camera it still holds before the producer goes.
    m_parameterManager.reset();
    if (m_deviceManager->IsProducerLoaded()) m_deviceManager->ReleaseEnvironment();
    CDeviceManager::ReleaseInstance();
    m_deviceManager = nullptr;
    package::RemoveTempDirectory();
}

void CFlashwrightDlg::__CreateControls() {
    const CDialogUnits units(font());

    m_group = new QGroupBox(Text(AppText::kSelectDevicesGroup), this);
    m_group->setGeometry(units.Rect(7, 7, 541, 222));

    // Creation order is the tab order: the buttons, then the list.
    const struct {
        QPushButton** button;
        int id;
        const wchar_t* text;
        int x;
    } buttons[] = {
        {&m_updateButton, IDC_UPDATE_DEVICES, AppText::kUpdateDevices, 14},
        {&m_selectAllButton, IDC_SELECT_ALL, AppText::kSelectAll, 152},
        {&m_selectNoneButton, IDC_SELECT_NONE, AppText::kSelectNone, 290},
        {&m_beginButton, IDC_BEGIN_UPGRADE, AppText::kBeginUpgrade, 428},
    };
    for (const auto& b : buttons) {
        auto* button = new QPushButton(Text(b.text), this);
        button->setObjectName(QStringLiteral("control%1").arg(b.id));
        button->setGeometry(units.Rect(b.x, 18, 110, 18));
        button->setFocusPolicy(Qt::StrongFocus);
        // No button may be pressed by Enter through the dialog's default-button
        // logic; the keyboard filter decides what Enter does.
        button->setAutoDefault(false);
        button->setDefault(false);
        *b.button = button;
    }

    m_deviceList = new CXListCtrl(this);
    m_deviceList->setObjectName(QStringLiteral("control%1").arg(IDC_DEVICE_LIST));
    m_deviceList->setGeometry(units.Rect(14, 45, 525, 178));
    m_deviceList->setFocusPolicy(Qt::StrongFocus);

    // What the run is doing, and afterwards what it came to.
    m_phaseLabel = new QLabel(this);
    m_phaseLabel->setObjectName(QStringLiteral("phaseLabel"));
    m_phaseLabel->setGeometry(units.Rect(9, 232, 537, 10));
    m_phaseLabel->setTextFormat(Qt::PlainText);

    // The template's size is the first and the smallest; the window may grow.
    setMinimumSize(GetDefaultSize());
    resize(GetDefaultSize());
}

QSize CFlashwrightDlg::GetDefaultSize() const { return CDialogUnits(font()).Size(555, 246); }

void CFlashwrightDlg::__LayOut() {
    if (m_group == nullptr) return;
    const CDialogUnits units(font());
    const QSize extra = size() - GetDefaultSize();
    const int dx = std::max(0, extra.width());
    const int dy = std::max(0, extra.height());
    m_group->setGeometry(units.Rect(7, 7, 541, 222).adjusted(0, 0, dx, dy));
    m_deviceList->setGeometry(units.Rect(14, 45, 525, 178).adjusted(0, 0, dx, dy));
    m_phaseLabel->setGeometry(units.Rect(9, 232, 537, 10).translated(0, dy).adjusted(0, 0, dx, 0));
}

void CFlashwrightDlg::__FillStatusColumn() {
    if (m_deviceList == nullptr || m_deviceList->GetColumnCount() != kColumnCount) return;
    // At the template's width the columns keep the template's widths.
    const bool wider = width() > GetDefaultSize().width();
    m_fillingStatusColumn = true;
    if (wider) {
        // First the burn time gets room for its whole text, as in "18.960 S".
        const int timeText = m_deviceList->fontMetrics().horizontalAdvance(QStringLiteral("000.000 S")) + 12;
        if (m_deviceList->columnWidth(kColumnTime) < timeText) m_deviceList->setColumnWidth(kColumnTime, timeText);
    }
    int others = 0;
    for (int i = 0; i < kColumnCount; ++i)
        if (i != kColumnStatus) others += m_deviceList->columnWidth(i);
    const int room = wider ? m_deviceList->viewport()->width() - others : 0;
    m_deviceList->setColumnWidth(kColumnStatus, std::max(m_statusColumnWidth, room));
    m_fillingStatusColumn = false;
}

void CFlashwrightDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    __LayOut();
    // The list's scroll bars settle after this event.
    QTimer::singleShot(0, this, [this] { __FillStatusColumn(); });
}

void CFlashwrightDlg::__RestoreWindowState() {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kSettingsOrganization, kSettingsApplication);
    const QByteArray geometry = settings.value(QStringLiteral("window/geometry")).toByteArray();
    if (!geometry.isEmpty()) restoreGeometry(geometry);
    const QList<QVariant> widths = settings.value(QStringLiteral("list/columnWidths")).toList();
    // Widths of another column set, or unusable ones, are ignored as a whole.
    if (widths.size() != kColumnCount) return;
    for (const QVariant& width : widths)
        if (width.toInt() <= 0 || width.toInt() > 10000) return;
    for (int i = 0; i < kColumnCount; ++i) m_deviceList->setColumnWidth(i, widths[i].toInt());
    m_statusColumnWidth = widths[kColumnStatus].toInt();
}

void CFlashwrightDlg::__SaveWindowState() const {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kSettingsOrganization, kSettingsApplication);
    settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
    QList<QVariant> widths;
    for (int i = 0; i < kColumnCount; ++i)
        widths.append(i == kColumnStatus ? m_statusColumnWidth : m_deviceList->columnWidth(i));
    settings.setValue(QStringLiteral("list/columnWidths"), widths);
}

void CFlashwrightDlg::done(int result) {
    __SaveWindowState();
    QDialog::done(result);
}

void CFlashwrightDlg::__SetupColumns() {
    m_deviceList->SetExtendedStyle(CXListCtrl::GridLines | CXListCtrl::FullRowSelect);
    const struct {
        const wchar_t* heading;
        Qt::Alignment alignment;
        int width;
    } columns[kColumnCount] = {
        {AppText::kColumnDeviceModel, Qt::AlignLeft, 125},
        {AppText::kColumnSerialNumber, Qt::AlignHCenter, 90},
        {AppText::kColumnGuid, Qt::AlignHCenter, 90},
        {AppText::kColumnDeviceVersion, Qt::AlignHCenter, 110},
        {AppText::kColumnFirmwareVersion, Qt::AlignHCenter, 190},
        {AppText::kColumnFactoryVersion, Qt::AlignHCenter, 100},
        {AppText::kColumnXmlVersion, Qt::AlignHCenter, 60},
        {AppText::kColumnStatus, Qt::AlignHCenter, 100},
        {AppText::kColumnTime, Qt::AlignHCenter, 50},
    };
    for (int i = 0; i < kColumnCount; ++i)
        m_deviceList->InsertColumn(i, Text(columns[i].heading), columns[i].alignment, columns[i].width);
    m_deviceList->DeleteAllItems();
}

QPushButton* CFlashwrightDlg::__Button(int id) const {
    switch (id) {
        case IDC_UPDATE_DEVICES: return m_updateButton;
        case IDC_SELECT_ALL: return m_selectAllButton;
        case IDC_SELECT_NONE: return m_selectNoneButton;
        case IDC_BEGIN_UPGRADE: return m_beginButton;
        default: return nullptr;
    }
}

// ---- Start-up -------------------------------------------------------------

void CFlashwrightDlg::OnInitDialog() {
    StartFailure failure;
    if (!m_session->Start(
            EStartScope::kUpgrade, [this] { __OfferUnfinishedRestore(); }, failure)) {
        if (failure.step == StartFailure::EStep::kTemporaryFolder)
            __FailAndExit(std::wstring(AppText::kCreateTempFileFailed) + L"\n\n" + package::GetTempDirectoryPath() +
                          L": " + failure.text);
        __FailAndExit(failure.text);
    }
    __FillRows();
    __RefreshControlStates();
}

void CFlashwrightDlg::__OfferUnfinishedRestore() {
    std::vector<UnfinishedRunEntry> entries;
    std::wstring error;
    if (!ReadUnfinishedRun(entries, error)) {
        __MessageBox(error);
        return;
    }
    if (entries.empty()) return;
    std::wstring list;
    std::vector<RestoreRequest> requests;
    for (const UnfinishedRunEntry& entry : entries) {
        list += L"\n" + platform::AnsiToWide(entry.serial) + L": " + entry.persistentCopy;
        requests.push_back({entry.serial, entry.persistentCopy});
    }
    if (!__Question(L"An earlier upgrade run did not restore the user parameters of these cameras; their saved "
                    L"copies are:" +
                    list + L"\n\nRestore them now?"))
        return;
    std::vector<RestoreResult> results;
    if (!RestoreUserParams(*m_parameterManager, requests, results)) {
        __MessageBox(m_parameterManager->GetErrorText());
        return;
    }
    std::vector<UnfinishedRunEntry> kept;
    std::wstring report;
    for (std::size_t i = 0; i < results.size(); ++i) {
        report += L"\n" + platform::AnsiToWide(results[i].serial) + L": " +
                  (results[i].result.succeeded ? std::wstring(L"restored")
                                               : L"NOT restored, " + results[i].result.Describe());
        if (!results[i].result.succeeded) kept.push_back(entries[i]);
    }
    if (!WriteUnfinishedRun(kept, error)) report += L"\n\n" + error;
    __MessageBox(L"User parameters of the earlier run:" + report);
}

bool CFlashwrightDlg::__Question(const std::wstring& text) {
    const QString caption = QString::fromStdWString(platform::GetExecutableStem());
    const QString question = QString::fromStdWString(text);
    if (s_questionHandler) return s_questionHandler(caption, question);
    return QMessageBox::question(this, caption, question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

void CFlashwrightDlg::__FailAndExit(const std::wstring& text) {
    __MessageBox(text);
    // The process ends here, with the window, the application object and the
    // toolkit still alive: no shutdown step runs, and neither do the static
    // destructors, which would tear the toolkit down underneath them.
    std::fflush(nullptr);
    std::_Exit(0);
}

// ---- The camera list ------------------------------------------------------

void CFlashwrightDlg::__SetCell(int nItem, int nSubItem, const std::wstring& text) {
    if (nItem < 0 || nItem >= m_deviceList->GetItemCount()) return;
    if (nSubItem < 0 || nSubItem >= m_deviceList->GetColumnCount()) return;
    m_deviceList->SetItemText(nItem, nSubItem, QString::fromStdWString(text));
    m_deviceList->UpdateSubItem(nItem, nSubItem);
}

void CFlashwrightDlg::__FillRows() {
    m_rows.Fill(m_session->GetCameras(), m_session->GetModels());
    __ShowRows();
}

void CFlashwrightDlg::__ShowRows() {
    for (std::size_t i = 0; i < m_rows.Count(); ++i)
        if (CU3VDevice* camera = m_rows.CameraAt(static_cast<int>(i))) __FillDeviceRow(static_cast<int>(i), *camera);
    __ShowTicks();
}

void CFlashwrightDlg::__ShowTicks() {
    for (int row = 0; row < m_deviceList->GetItemCount(); ++row) {
        const int state = m_rows.IsTicked(row) ? 1 : 0;
        if (m_deviceList->GetCheckbox(row, 0) != state) m_deviceList->SetCheckbox(row, state);
    }
}

void CFlashwrightDlg::__FillDeviceRow(int nItem, CU3VDevice& camera) {
    const DeviceInfo info = camera.GetDeviceInfo();
    m_deviceList->InsertItem(nItem, QString::fromStdWString(FieldWide(info.modelName)),
                             m_deviceList->GetDefaultTextColor(), m_deviceList->GetDefaultBackgroundColor());
    m_deviceList->SetCheckbox(nItem, 0);
    if (!camera.IsOpened()) {
        m_deviceList->SetEnabled(nItem, false);
        __SetCell(nItem, kColumnStatus, camera.GetStatusText());
        return;
    }
    __SetCell(nItem, kColumnSerialNumber, FieldWide(info.serialNumber));
    __SetCell(nItem, kColumnGuid, FieldWide(info.guid));
    __SetCell(nItem, kColumnDeviceVersion, FieldWide(info.deviceVersion));
    __SetCell(nItem, kColumnFirmwareVersion, FieldWide(info.firmwareVersion));
    __SetCell(nItem, kColumnFactoryVersion, FieldWide(info.factoryVersion));
    __SetCell(nItem, kColumnXmlVersion, FieldWide(info.xmlVersion));
    __SetCell(nItem, kColumnStatus, L"  ");
    __SetCell(nItem, kColumnTime, L" ");
    m_deviceList->SetEnabled(nItem, true);
    // An unsupported camera's status now says so.
    if (!CCameraRows::IsEligible(camera, m_session->GetModels())) {
        m_deviceList->SetEnabled(nItem, false);
        __SetCell(nItem, kColumnStatus, camera.GetStatusText());
    }
}

void CFlashwrightDlg::__RefreshControlStates() {
    // No window manager offers a system menu to grey; the close guard refuses
    // every close request during a run instead.
    for (QPushButton* button : {m_updateButton, m_selectAllButton, m_selectNoneButton, m_beginButton})
        button->setEnabled(!m_upgrading);
    for (std::size_t i = 0; i < m_rows.Count(); ++i) {
        const int row = static_cast<int>(i);
        m_deviceList->SetEnabled(row, !m_upgrading && m_rows.IsEligible(row));
        m_deviceList->UpdateSubItem(row, -1);
    }
}

// A refused command shows why; either way the ticks show what the rows hold.
void CFlashwrightDlg::__Answer(CCameraRows::EAnswer answer) {
    if (const wchar_t* refusal = CCameraRows::RefusalText(answer)) __MessageBox(refusal);
    __ShowTicks();
}

void CFlashwrightDlg::OnSelectAll() { __Answer(m_rows.SelectAll()); }

void CFlashwrightDlg::OnSelectNone() { __Answer(m_rows.SelectNone()); }

void CFlashwrightDlg::OnCheckboxClicked(int nItem, int nSubItem) {
    // The list has already flipped the box; the rows decide whether it stays.
    const int state = m_deviceList->GetCheckbox(nItem, nSubItem);
    if (state < 0) return;
    const bool ticked = m_rows.Click(nItem, state != 0);
    if (state != (ticked ? 1 : 0)) m_deviceList->SetCheckbox(nItem, nSubItem, ticked ? 1 : 0);
}

void CFlashwrightDlg::OnEnterToggle() {
    const int row = m_deviceList->GetFirstSelectedItem();
    if (row < 0) return;
    // The rows of a finished run ignore Enter without a message.
    m_rows.Toggle(row);
    __ShowTicks();
}

void CFlashwrightDlg::OnUpdateDevices() {
    const QPointer<QWidget> focus = QApplication::focusWidget();
    __SetPhase(RunPhase::kIdle, std::wstring());
    m_deviceList->DeleteAllItems();
    // The refresh releases the producer: no row may keep a camera record.
    m_rows.Fill({}, m_session->GetModels());
    m_upgrading = false;
    __RefreshControlStates();

    std::wstring errorText;
    if (!m_session->Refresh(errorText)) __FailAndExit(errorText);
    __FillRows();
    m_upgrading = false;
    __RefreshControlStates();
    RestoreFocus(focus);
}

// ---- The 20 ms refresh -----------------------------------------------------

void CFlashwrightDlg::OnTimer() {
    if (m_phase == RunPhase::kRestarting) {
        __RefreshRestartPhase();
        return;
    }
    __RefreshRunRows();
    if (m_phase == RunPhase::kWriting) __RefreshWritingPhase();
}

void CFlashwrightDlg::__RefreshRunRows() {
    for (const int row : m_rows.TickedRows())
        if (CU3VDevice* camera = m_rows.CameraAt(row)) __ShowRefresh(row, RefreshCamera(*camera));
}

// Failures stand out in red among the rows of a run; the text is the worker's own.
void CFlashwrightDlg::__ShowRefresh(int nItem, const CameraRefresh& refresh) {
    const QColor crText = refresh.failed ? QColor(Qt::red) : m_deviceList->GetDefaultTextColor();
    m_deviceList->SetItemColors(nItem, kColumnStatus, crText, m_deviceList->GetDefaultBackgroundColor());
    // The bar behind the text while the camera writes.
    m_deviceList->SetItemProgress(nItem, kColumnStatus,
                                  refresh.statusCode == StatusCode::kBurning ? refresh.progress.percent : -1);
    __SetCell(nItem, kColumnStatus, refresh.rowText);
    __SetCell(nItem, kColumnTime, FormatString(AppText::kBurnTimeFormat, refresh.burnSeconds));
}

void CFlashwrightDlg::__SetPhase(RunPhase phase, const std::wstring& text) {
    const QString shown = QString::fromStdWString(text);
    if (m_phaseLabel->text() != shown) {
        m_phaseLabel->setText(shown);
        m_phaseLabel->setToolTip(shown);
    }
    if (phase == m_phase) return;
    m_phase = phase;
    emit RunPhaseChanged(phase, shown);
}

void CFlashwrightDlg::__RefreshWritingPhase() {
    const std::vector<int> rows = m_rows.TickedRows();
    int done = 0;
    for (const int row : rows) {
        const CU3VDevice* camera = m_rows.CameraAt(row);
        if (camera != nullptr && !IsStillWriting(camera->GetStatusCode())) ++done;
    }
    __SetPhase(RunPhase::kWriting, FormatString(AppText::kPhaseWriting, done, static_cast<int>(rows.size())));
}

// The rows of the cameras that restart say so; their Time cells keep the burn time.
void CFlashwrightDlg::__RefreshRestartPhase() {
    if (!m_lastRun) return;
    const CUpgradeRun::WatchState watch = m_lastRun->GetWatchState();
    for (const auto& [row, deviceId] : m_runRows) {
        const bool awaited = std::find(watch.awaited.begin(), watch.awaited.end(), deviceId) != watch.awaited.end();
        const bool back = std::find(watch.back.begin(), watch.back.end(), deviceId) != watch.back.end();
        CU3VDevice* camera = m_rows.IsTicked(row) ? m_rows.CameraAt(row) : nullptr;
        if (awaited || back) {
            m_deviceList->SetItemProgress(row, kColumnStatus, -1);
            __SetCell(row, kColumnStatus, awaited ? AppText::kRowRestarting : AppText::kRowBack);
        } else if (camera != nullptr) {
            __ShowRefresh(row, RefreshCamera(*camera));
        }
    }
    const int waiting = static_cast<int>(watch.awaited.size());
    // Cameras that wrote nothing do not restart: the line keeps the writing count.
    if (waiting == 0 && m_phase == RunPhase::kWriting) return;
    const int secondsLeft = static_cast<int>(std::ceil(static_cast<double>(watch.timeLeft.count()) / 1000.0));
    __SetPhase(RunPhase::kRestarting,
               FormatString(AppText::kPhaseRestarting, waiting, waiting == 1 ? L"" : L"s", secondsLeft));
}

// ---- The upgrade run ------------------------------------------------------

void CFlashwrightDlg::OnBeginUpgrade() {
    const QPointer<QWidget> focus = QApplication::focusWidget();
    std::vector<CU3VDevice*> cameras;
    if (const wchar_t* refusal = CCameraRows::RefusalText(m_rows.CamerasToStart(cameras))) {
        __MessageBox(refusal);
        return;
    }
    // The window upgrades whatever is ticked, up to date or not.
    package::ReleaseInfo release;
    std::string releaseError;
    if (!package::LoadReleaseInfo(release, releaseError)) release = package::ReleaseInfo{};
    auto report = std::make_unique<RunReport>(BeginRunReport("dialog", m_session->GetCameras(), cameras,
                                                             m_session->GetModels(), release, RunRequest{false, true}));
    const std::vector<CU3VDevice*> unsaved = NoteParameterBackups(*report, *m_session, cameras);
    std::wstring unsavedList;
    for (CU3VDevice* camera : unsaved) unsavedList += L"\n" + platform::Utf8ToWide(CameraDisplayName(*camera));
    // No camera loses its parameters without the user's consent.
    const bool lossAccepted =
        unsaved.empty() ||
        __Question(L"The user parameters of these cameras could not be saved:" + unsavedList +
                   L"\n\nUpgrade them anyway? Their user parameters will be reset to factory values.");
    const std::vector<CU3VDevice*> toRun = ApplyParameterConsent(*report, cameras, unsaved, lossAccepted);

    m_lastRun = std::make_unique<CUpgradeRun>(*m_session);
    m_runRows.clear();
    for (const int row : m_rows.TickedRows())
        if (CU3VDevice* camera = m_rows.CameraAt(row)) m_runRows.emplace_back(row, camera->GetDeviceID());
    m_report = std::move(report);
    m_historyFailureShown = false;
    m_runActive = true;
    const CUpgradeRun::EResult result = m_lastRun->Run(toRun, *m_report, *this);
    m_runActive = false;
    switch (result) {
        case CUpgradeRun::EResult::kCompleted: break;
        case CUpgradeRun::EResult::kConfigMissing:
            __SetPhase(RunPhase::kIdle, std::wstring());
            __MessageBox(AppText::kParseResourceFailed);
            return;
        case CUpgradeRun::EResult::kConfigWriteFailed:
            __SetPhase(RunPhase::kIdle, std::wstring());
            __MessageBox(AppText::kCreateTempFileFailed);
            return;
    }
    // The summary stays until the next command.
    __ShowRunResults();
    __SetPhase(RunPhase::kSummary, DescribeRunSummary(*m_report));
    RestoreFocus(focus);
}

void CFlashwrightDlg::OnWorkersStarting() {
    m_upgrading = true;
    __RefreshControlStates();
    __RefreshWritingPhase();
    m_refreshTimer->start();
}

void CFlashwrightDlg::OnWorkersFinished() {
    __RefreshRunRows();
    // The timer goes on through the wait for the restarting cameras: the
    // watcher's join lets the window run.
    __RefreshRestartPhase();
}

void CFlashwrightDlg::OnCamerasReturned() {
    m_refreshTimer->stop();
    // The cameras as found again, those that came back ticked; every command
    // but "Update Devices" is refused from now on.
    m_deviceList->DeleteAllItems();
    m_rows.FillAfterRun(m_session->GetCameras(), m_session->GetModels());
    __ShowRows();
    // The refill may have put a camera on another row.
    for (auto& [row, deviceId] : m_runRows) {
        const int found = m_rows.FindDeviceId(deviceId);
        if (found < 0) continue;
        row = found;
        // A camera that did not come back keeps its identity from before the run.
        if (CU3VDevice* camera = m_rows.CameraAt(row); camera != nullptr && !camera->IsOpened())
            __ShowIdentity(row, *camera);
    }
    __ShowRunResults();
    m_upgrading = false;
    __RefreshControlStates();
}

void CFlashwrightDlg::OnProducerReleased() {
    // The rows stay on screen, but the records they showed are gone.
    m_rows.Release();
    __SetPhase(RunPhase::kRestoring, AppText::kPhaseRestoring);
    // The import pass runs on this thread: the line is painted before it.
    m_phaseLabel->repaint();
}

void CFlashwrightDlg::__ShowRunResults() {
    if (!m_report) return;
    const QColor red(Qt::red);
    for (const auto& [row, deviceId] : m_runRows) {
        const CameraReport* camera = m_report->Find(platform::WideToUtf8(platform::AnsiToWide(deviceId)));
        if (camera == nullptr) continue;
        const bool decided = camera->outcome != ECameraOutcome::kPending;
        if (!camera->ran && !decided) continue;
        // Until the parameters are back, a camera found again is only "back".
        const std::wstring status = !decided && camera->back == true
                                        ? std::wstring(AppText::kRowBack)
                                        : platform::Utf8ToWide(decided ? camera->ResultText() : camera->status);
        const QColor color = decided && camera->CountsAsFailure() ? red : m_deviceList->GetDefaultTextColor();
        m_deviceList->SetItemProgress(row, kColumnStatus, -1);
        m_deviceList->SetItemColors(row, kColumnStatus, color, m_deviceList->GetDefaultBackgroundColor());
        __SetCell(row, kColumnStatus, status);
        if (camera->ran) __SetCell(row, kColumnTime, FormatString(AppText::kBurnTimeFormat, camera->seconds));
        if (!camera->verified) continue;
        const std::wstring after = platform::Utf8ToWide(camera->versionAfter);
        if (*camera->verified) {
            m_deviceList->SetItemColors(row, kColumnFirmwareVersion, m_deviceList->GetDefaultTextColor(),
                                        m_deviceList->GetDefaultBackgroundColor());
            __SetCell(row, kColumnFirmwareVersion, after + AppText::kVerifiedMark);
        } else {
            const std::wstring expected = platform::Utf8ToWide(camera->targetVersion);
            m_deviceList->SetItemColors(row, kColumnFirmwareVersion, red, m_deviceList->GetDefaultBackgroundColor());
            __SetCell(row, kColumnFirmwareVersion,
                      FormatString(AppText::kNotVerifiedFormat, after.c_str(), expected.c_str()));
        }
    }
}

void CFlashwrightDlg::__ShowIdentity(int nItem, CU3VDevice& camera) {
    const DeviceInfo info = camera.GetDeviceInfo();
    __SetCell(nItem, kColumnSerialNumber, platform::Utf8ToWide(CameraDisplayName(camera)));
    __SetCell(nItem, kColumnGuid, FieldWide(info.guid));
    __SetCell(nItem, kColumnDeviceVersion, FieldWide(info.deviceVersion));
    __SetCell(nItem, kColumnFirmwareVersion, FieldWide(info.firmwareVersion));
    __SetCell(nItem, kColumnFactoryVersion, FieldWide(info.factoryVersion));
    __SetCell(nItem, kColumnXmlVersion, FieldWide(info.xmlVersion));
}

void CFlashwrightDlg::OnImportFailed(const std::wstring& text) { __MessageBox(text); }

void CFlashwrightDlg::OnParametersRestored() {
    if (!m_report) return;
    std::wstring unrestored;
    for (const CameraReport& camera : m_report->cameras) {
        if (camera.parametersSaved != true || camera.parametersRestored != false) continue;
        unrestored += L"\n" + platform::Utf8ToWide(camera.name + ": " + camera.parametersText) +
                      (camera.parameterCopy.empty() ? std::wstring(L"; no persistent copy could be kept")
                                                    : L"; restore from " + platform::Utf8ToWide(camera.parameterCopy));
    }
    if (unrestored.empty()) return;
    __MessageBox(L"The user parameters of these cameras were saved but not restored:" + unrestored +
                 L"\n\nRestore them with: flashwright-cli params restore SERIAL --from COPY");
}

void CFlashwrightDlg::OnHistoryFailed(const std::wstring& text) {
    // Said once a run, however often the history is written.
    if (m_historyFailureShown) return;
    m_historyFailureShown = true;
    __MessageBox(AppText::kHistoryNotWritten + text);
}

void CFlashwrightDlg::OnRecordFailed(const std::wstring& text) {
    platform::OutputDebugText(L"The unfinished-run record cannot be kept: " + text);
}

// ---- Window-level behaviour ---------------------------------------------

QMenu* CFlashwrightDlg::CreateSystemMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    const QString aboutText = Text(AppText::kAboutMenuItem);
    if (!aboutText.isEmpty()) {
        menu->addSeparator();
        menu->addAction(Text(AppText::kHistoryMenuItem), this, &CFlashwrightDlg::ShowHistory);
        menu->addAction(aboutText, this, &CFlashwrightDlg::ShowAboutBox);
    }
    return menu;
}

void CFlashwrightDlg::contextMenuEvent(QContextMenuEvent* event) {
    // A menu with a loop of its own, left open during a run, would hold the
    // run's wait as a modal box would: it pops up and returns at once.
    QMenu* menu = CreateSystemMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void CFlashwrightDlg::ShowHistory() { __ShowModal(new CHistoryDlg(this)); }

void CFlashwrightDlg::ShowAboutBox() { __ShowModal(new CAboutDlg(m_icon, this)); }

void CFlashwrightDlg::__ShowModal(QDialog* dialog, std::function<void()> onClosed) {
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (onClosed) connect(dialog, &QDialog::finished, this, [onClosed = std::move(onClosed)](int) { onClosed(); });
    if (!m_runActive) {
        dialog->exec();
        return;
    }
    // During a run the window's thread waits for the cameras inside the run
    // and only dispatches messages meanwhile: a box with a loop of its own
    // would hold that wait until someone pressed OK. A window-modal box
    // returns at once and the run goes on behind it.
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
}

void CFlashwrightDlg::__MessageBox(const std::wstring& text) { __MessageBox(QString::fromStdWString(text)); }

void CFlashwrightDlg::__MessageBox(const QString& text, std::function<void()> onClosed) {
    const QString caption = QString::fromStdWString(platform::GetExecutableStem());
    if (s_messageBoxHandler) {
        s_messageBoxHandler(caption, text);
        if (onClosed) onClosed();
        return;
    }
    __ShowModal(new QMessageBox(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, this), std::move(onClosed));
}

bool CFlashwrightDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->window() == this) return __PreTranslateKey(widget, static_cast<QKeyEvent*>(event));
    }
    return QDialog::eventFilter(watched, event);
}

bool CFlashwrightDlg::__PreTranslateKey(QWidget* target, QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Escape || key == Qt::Key_Space) return true;
    if (key == Qt::Key_F1) {
        ShowAboutBox();
        return true;
    }
    if (!IsEnterKey(key)) return false;

    // During a run the original dispatches keys past this filter, straight to
    // the (disabled) controls, where Enter does nothing.
    if (m_upgrading) return true;

    QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr || focus->window() != this) focus = target;
    if (focus == m_deviceList) {
        OnEnterToggle();
        return true;
    }
    for (const int id : {IDC_BEGIN_UPGRADE, IDC_UPDATE_DEVICES, IDC_SELECT_ALL, IDC_SELECT_NONE}) {
        QPushButton* button = __Button(id);
        if (focus != button) continue;
        // Enter on a focused button presses it, as a native dialog does.
        if (button->isEnabled()) button->click();
        return true;
    }
    return true;
}

bool CFlashwrightDlg::__RefuseCloseDuringRun() {
    if (!m_upgrading && !m_runActive) return false;
    if (!m_refusalPending) {
        m_refusalPending = true;
        // The refusal is shown after this close request has been answered: a box
        // opened inside the close handling leaves the window half closed, and a
        // request of the other kind arriving meanwhile would destroy it.
        QMetaObject::invokeMethod(
            this,
            [this] {
                __MessageBox(QString::fromWCharArray(AppText::kUpgradeInProgress),
                             [this] { m_refusalPending = false; });
            },
            Qt::QueuedConnection);
    }
    return true;
}

void CFlashwrightDlg::closeEvent(QCloseEvent* event) {
    if (__RefuseCloseDuringRun()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CFlashwrightDlg::reject() {
    if (__RefuseCloseDuringRun()) return;
    QDialog::reject();
}

void CFlashwrightDlg::__OnCloseSignal(int) { close(); }
