#include "dialog/HistoryDlg.h"

#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "dialog/DialogUnits.h"
#include "run/AppText.h"
#include "support/Platform.h"

CHistoryDlg::SaveFileChooser CHistoryDlg::s_chooser;

void CHistoryDlg::SetSaveFileChooser(SaveFileChooser chooser) { s_chooser = std::move(chooser); }

CHistoryDlg::CHistoryDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromWCharArray(AppText::kHistoryCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(CDialogUnits::DialogFont());
    setModal(true);
    const CDialogUnits units(font());

    m_table = new QTableWidget(this);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->setVisible(false);
    m_table->setAlternatingRowColors(true);
    m_status = new QLabel(this);
    m_saveButton = new QPushButton(QString::fromWCharArray(AppText::kHistorySaveCsv), this);
    m_closeButton = new QPushButton(QString::fromWCharArray(AppText::kHistoryClose), this);
    m_closeButton->setDefault(true);
    connect(m_saveButton, &QPushButton::clicked, this, &CHistoryDlg::OnSaveCsv);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_status, 1);
    buttons->addWidget(m_saveButton);
    buttons->addWidget(m_closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table, 1);
    layout->addLayout(buttons);
    resize(units.Size(555, 236));
    Reload();
}

void CHistoryDlg::Reload() {
    m_records.clear();
    std::size_t skipped = 0;
    std::wstring error;
    const std::wstring path = HistoryFilePath();
    QString status;
    if (path.empty()) {
        status = QStringLiteral("No upgrade history: neither XDG_STATE_HOME nor HOME is set.");
    } else if (!ReadHistory(path, HistoryQuery{}, m_records, skipped, error)) {
        status = QString::fromStdWString(error);
    } else {
        status = QStringLiteral("%1 run(s) in %2").arg(m_records.size()).arg(QString::fromStdWString(path));
        if (skipped > 0) status += QStringLiteral("; %1 damaged line(s) skipped").arg(skipped);
    }
    m_status->setText(status);

    const std::vector<std::string> columns = HistoryColumnNames();
    const auto rows = HistoryRows(m_records);
    m_table->clear();
    m_table->setColumnCount(static_cast<int>(columns.size()));
    m_table->setRowCount(static_cast<int>(rows.size()));
    QStringList headings;
    for (const std::string& column : columns) headings << QString::fromStdString(column);
    m_table->setHorizontalHeaderLabels(headings);
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size(); ++c)
            m_table->setItem(static_cast<int>(r), static_cast<int>(c),
                             new QTableWidgetItem(QString::fromStdString(rows[r][c])));
    m_table->resizeColumnsToContents();
    m_saveButton->setEnabled(!m_records.empty());
}

bool CHistoryDlg::SaveCsv(const QString& path) {
    const std::string csv = HistoryCsv(m_records);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) || !file.flush()) {
        m_status->setText(QStringLiteral("Cannot save %1: %2").arg(path, file.errorString()));
        return false;
    }
    m_status->setText(QStringLiteral("Saved %1").arg(path));
    return true;
}

void CHistoryDlg::OnSaveCsv() {
    const QString path = s_chooser
                             ? s_chooser(this)
                             : QFileDialog::getSaveFileName(this, QString::fromWCharArray(AppText::kHistorySaveCsv),
                                                            QStringLiteral("upgrade-history.csv"),
                                                            QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (!path.isEmpty()) SaveCsv(path);
}
