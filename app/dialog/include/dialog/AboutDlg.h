#pragma once

#include <QDialog>
#include <QIcon>

class QLabel;
class QPushButton;

// The About box: the application icon, the product and version line, and OK.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(const QIcon& icon, QWidget* parent = nullptr);

    QLabel* GetVersionLabel() const { return m_versionLabel; }

private:
    QLabel* m_iconLabel = nullptr;
    QLabel* m_versionLabel = nullptr;
    QPushButton* m_okButton = nullptr;
};

// Icon 128, drawn rather than loaded so every size is sharp.
QIcon LoadApplicationIcon();
