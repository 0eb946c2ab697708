#include "dialog/FlashwrightDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include <memory>

#include "dialog/AboutDlg.h"
#include "dialog/DialogUnits.h"
#include "dialog/SignalBridge.h"
#include "run/AppText.h"
#include "support/Platform.h"
#include "widgets/XListCtrl.h"

namespace {

QString Text(const wchar_t* text) { return QString::fromWCharArray(text); }

bool IsEnterKey(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }

}  // namespace

CFlashwrightDlg::MessageBoxHandler CFlashwrightDlg::s_messageBoxHandler;

void CFlashwrightDlg::SetMessageBoxHandler(MessageBoxHandler handler) {
    s_messageBoxHandler = std::move(handler);
}

CFlashwrightDlg::CFlashwrightDlg(QWidget* parent) : QDialog(parent) {
    m_icon = LoadApplicationIcon();
    setWindowTitle(Text(AppText::kDialogCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(m_icon);
    setFont(CDialogUnits::DialogFont());
    __CreateControls();
    __SetupColumns();

    qApp->installEventFilter(this);
    m_signalBridge = new CCloseSignalBridge(this);
    connect(m_signalBridge, &CCloseSignalBridge::CloseRequested, this, &CFlashwrightDlg::__OnCloseSignal);
}

CFlashwrightDlg::~CFlashwrightDlg() { qApp->removeEventFilter(this); }

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

    setFixedSize(units.Size(555, 236));
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

QWidget* CFlashwrightDlg::GetControl(int id) const {
    if (id == IDC_DEVICE_LIST) return m_deviceList;
    return __Button(id);
}

// ---- Window-level behaviour ---------------------------------------------

QMenu* CFlashwrightDlg::CreateSystemMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    const QString aboutText = Text(AppText::kAboutMenuItem);
    if (!aboutText.isEmpty()) {
        menu->addSeparator();
        menu->addAction(aboutText, this, &CFlashwrightDlg::ShowAboutBox);
    }
    return menu;
}

void CFlashwrightDlg::contextMenuEvent(QContextMenuEvent* event) {
    std::unique_ptr<QMenu> menu(CreateSystemMenu(this));
    menu->exec(event->globalPos());
}

void CFlashwrightDlg::ShowAboutBox() {
    CAboutDlg about(m_icon, this);
    about.exec();
}

void CFlashwrightDlg::__MessageBox(const QString& text) {
    const QString caption = QString::fromStdWString(platform::GetExecutableStem());
    if (s_messageBoxHandler) {
        s_messageBoxHandler(caption, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, this);
    box.exec();
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
    if (!m_upgrading) return false;
    if (!m_refusalShowing) {
        m_refusalShowing = true;
        __MessageBox(Text(AppText::kUpgradeInProgress));
        m_refusalShowing = false;
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
