// "Upgrade History...": the recorded runs of both programs in a table, newest
// first, one row per camera, which can be saved as CSV.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <vector>

#include "run/History.h"

class QLabel;
class QPushButton;
class QTableWidget;

class CHistoryDlg : public QDialog {
    Q_OBJECT

public:
    // Asks for the file to save the CSV to; empty when the person cancelled.
    // Tests install one instead of the file dialog.
    using SaveFileChooser = std::function<QString(QWidget* parent)>;
    static void SetSaveFileChooser(SaveFileChooser chooser);

    explicit CHistoryDlg(QWidget* parent = nullptr);

    // Reads the history file again into the table.
    void Reload();
    // Writes the records shown as CSV; false with the reason in the status line.
    bool SaveCsv(const QString& path);
    void OnSaveCsv();

    QTableWidget* GetTable() const { return m_table; }
    QPushButton* GetSaveButton() const { return m_saveButton; }

private:
    QTableWidget* m_table = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_saveButton = nullptr;
    QPushButton* m_closeButton = nullptr;
    std::vector<RunReport> m_records;

    static SaveFileChooser s_chooser;
};
