// The job list as the view shows it: one row per record of JobList, in list order, eight columns.
#pragma once

#include <climits>

#include <QAbstractTableModel>
#include <QPixmap>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "spool/spool_file.h"

namespace velmora {
class CVelmoraVirtualPrinterApp;
}

namespace velmora::ui {

class CJobListModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column {
        ColumnStatus,
        ColumnFileName,
        ColumnDate,
        ColumnSize,
        ColumnOwner,
        ColumnType,
        ColumnPrinter,
        ColumnLocalFileName,
        ColumnCount
    };
    // The header width of each column, in pixels.
    static int ColumnWidth(int column);

    explicit CJobListModel(CVelmoraVirtualPrinterApp& app, QObject* parent = nullptr);

    // Brings the rows up to date with JobList, taking JobListLock within the time. False, with the rows
    // unchanged, when the lock could not be had: the refresh is skipped and the next change catches up.
    bool Refresh(std::chrono::milliseconds lockTimeout);

    // The job of a row, or 0 outside the rows.
    JobId JobAt(int row) const;
    // The state the row shows, or -1 outside the rows.
    int32_t StateAt(int row) const;
    // The row's data file, or empty outside the rows.
    std::u16string LocalFileNameAt(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  private:
    // What a row keeps of its record. State, StateText and PrinterName change under JobListLock and are
    // copied at each refresh; every other shown field is set before the job enters JobList and never
    // changes after, so the row reads it from the record, which it keeps alive.
    struct CRow {
        SpoolFilePtr Record;
        JobId Id = 0;
        int32_t State = 0;
        QString StateText;
        QString PrinterName;
    };

    // One shared text per distinct value: the rows of a long list hold a handful of state texts and
    // printer names, so a refresh copies references instead of strings.
    const QString& Shared(const std::u16string& text);
    void FillRow(CRow* row, const CSpoolFile& record);
    // What a refresh does to the rows: which stay, which records are new, and the span of changed rows.
    struct CRefreshPlan {
        std::vector<uint8_t> Kept;
        std::vector<CRow> Appended;
        int FirstChanged = INT_MAX;
        int LastChanged = -1;
    };
    // Walks JobList (under JobListLock) against the rows.
    void MatchRows(CRefreshPlan* plan);
    // Removes the rows whose records have gone and appends the new ones, telling the view.
    void RemoveAndAppend(CRefreshPlan* plan);
    // The same as one reset, when the removals are too scattered to tell one run at a time.
    void ResetRows(CRefreshPlan* plan);
    // Lets go of the records of rows that are gone, a slice at a time from the message loop: these may be
    // the last references, and freeing a whole list of records at once would hold the window up.
    void Release(CRow& row);
    void ReleaseSome();

    CVelmoraVirtualPrinterApp& App;
    std::vector<CRow> Rows;
    std::unordered_map<std::u16string_view, QString> SharedTexts;
    std::vector<SpoolFilePtr> Released;
    QTimer ReleaseTimer;
    QString Headers[ColumnCount];
    QPixmap StateImages[5];
};

}  // namespace velmora::ui
