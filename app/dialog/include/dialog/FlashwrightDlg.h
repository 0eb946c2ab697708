// The main window: one dialog with the four command buttons and the camera list.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>

#include <functional>

class CCloseSignalBridge;
class CXListCtrl;
class QGroupBox;
class QKeyEvent;
class QMenu;
class QPushButton;

class CFlashwrightDlg : public QDialog {
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

    // Receives every message box instead of a modal QMessageBox; tests install
    // one to read the texts without a person pressing OK. Empty: real boxes.
    using MessageBoxHandler = std::function<void(const QString& caption, const QString& text)>;
    static void SetMessageBoxHandler(MessageBoxHandler handler);

    explicit CFlashwrightDlg(QWidget* parent = nullptr);
    ~CFlashwrightDlg() override;
    CFlashwrightDlg(const CFlashwrightDlg&) = delete;
    CFlashwrightDlg& operator=(const CFlashwrightDlg&) = delete;

    QWidget* GetControl(int id) const;
    CXListCtrl* GetDeviceList() const { return m_deviceList; }
    QIcon GetApplicationIcon() const { return m_icon; }
    bool IsUpgrading() const { return m_upgrading; }

    // The context menu that stands in for the window's system menu.
    QMenu* CreateSystemMenu(QWidget* parent);
    void ShowAboutBox();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void __CreateControls();
    void __SetupColumns();
    // The keyboard filter in front of every key the dialog's controls receive.
    // True when the key is swallowed.
    bool __PreTranslateKey(QWidget* target, QKeyEvent* event);
    // A close request while a run is in progress is refused; true when refused.
    bool __RefuseCloseDuringRun();
    void __OnCloseSignal(int signalNumber);
    void __MessageBox(const QString& text);
    QPushButton* __Button(int id) const;

    QIcon m_icon;
    QGroupBox* m_group = nullptr;
    QPushButton* m_updateButton = nullptr;
    QPushButton* m_selectAllButton = nullptr;
    QPushButton* m_selectNoneButton = nullptr;
    QPushButton* m_beginButton = nullptr;
    CXListCtrl* m_deviceList = nullptr;
    CCloseSignalBridge* m_signalBridge = nullptr;

    bool m_upgrading = false;
    // Set while a refusal is on screen, so repeated requests do not stack boxes.
    bool m_refusalShowing = false;

    static MessageBoxHandler s_messageBoxHandler;
};
