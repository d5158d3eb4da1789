#include "ui/job_list_model.h"

#include <algorithm>
#include <climits>
#include <iterator>
#include <mutex>
#include <utility>

#include "app/app.h"
#include "core/recursive_timed_mutex.h"
#include "resources/string_table.h"
#include "resources/window_string_ids.h"
#include "ui/icons.h"

namespace velmora::ui {

namespace {

constexpr int COLUMN_WIDTHS[CJobListModel::ColumnCount] = {80, 200, 130, 90, 100, 100, 200, 200};

// Rows deleted in more separate runs than this are taken out by one reset of the model instead: every
// run signalled on its own moves the rows behind it and costs the view a look at its selection.
constexpr std::size_t MAX_REMOVED_RUNS = 16;
// The shared texts are forgotten when there are this many (printer names come and go).
constexpr std::size_t MAX_SHARED_TEXTS = 4096;
// Records let go of at each turn of the message loop (about a millisecond's work).
constexpr std::size_t RELEASE_SLICE = 4096;

QStringView View(const std::u16string& text) {
    return QStringView(text.data(), static_cast<qsizetype>(text.size()));
}

QString ToQString(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

}  // namespace

int CJobListModel::ColumnWidth(int column) {
    return column >= 0 && column < ColumnCount ? COLUMN_WIDTHS[column] : 0;
}

CJobListModel::CJobListModel(CVelmoraVirtualPrinterApp& app, QObject* parent)
    : QAbstractTableModel(parent), App(app) {
    const uint32_t headerIds[ColumnCount] = {IDS_COLUMN_STATUS,  IDS_COLUMN_FILE_NAME,      IDS_COLUMN_DATE,
                                             IDS_COLUMN_SIZE,    IDS_COLUMN_OWNER,          IDS_COLUMN_TYPE,
                                             IDS_COLUMN_PRINTER, IDS_COLUMN_LOCAL_FILE_NAME};
    for (int column = 0; column < ColumnCount; ++column)
        Headers[column] = ToQString(LoadString(headerIds[column]));
    for (int state = 0; state < 5; ++state)
        StateImages[state] = StateImage(state);
    ReleaseTimer.setSingleShot(true);
    connect(&ReleaseTimer, &QTimer::timeout, this, [this] { ReleaseSome(); });
}

void CJobListModel::Release(CRow& row) {
    Released.push_back(std::move(row.Record));
}

void CJobListModel::ReleaseSome() {
    const std::size_t count = std::min(Released.size(), RELEASE_SLICE);
    Released.erase(Released.end() - static_cast<std::ptrdiff_t>(count), Released.end());
    if (!Released.empty())
        ReleaseTimer.start(0);
}

const QString& CJobListModel::Shared(const std::u16string& text) {
    const auto found = SharedTexts.find(std::u16string_view(text));
    if (found != SharedTexts.end())
        return found->second;
    if (SharedTexts.size() >= MAX_SHARED_TEXTS)
        SharedTexts.clear();
    // The key looks into the stored text's own characters, which its copies share and never change.
    const QString shared = ToQString(text);
    const std::u16string_view key(reinterpret_cast<const char16_t*>(shared.constData()),
                                  static_cast<std::size_t>(shared.size()));
    return SharedTexts.emplace(key, shared).first->second;
}

void CJobListModel::FillRow(CRow* row, const CSpoolFile& record) {
    row->State = record.State;
    row->StateText = Shared(record.StateText);
    row->PrinterName = Shared(record.PrinterName);
}

bool CJobListModel::Refresh(std::chrono::milliseconds lockTimeout) {
    if (!App.Jobs.JobListLock.try_lock_for(lockTimeout))
        return false;
    CRefreshPlan plan;
    {
        std::unique_lock<CRecursiveTimedMutex> lock(App.Jobs.JobListLock, std::adopt_lock);
        MatchRows(&plan);
    }
    if (plan.LastChanged >= 0)
        emit dataChanged(index(plan.FirstChanged, 0), index(plan.LastChanged, ColumnCount - 1));
    RemoveAndAppend(&plan);
    return true;
}

void CJobListModel::MatchRows(CRefreshPlan* plan) {
    // Records leave JobList and new ones are appended at its end; the order of the others never changes.
    // So one walk matches the list against the rows: the rows that stay keep their place, the records
    // that have no row yet become rows at the end.
    plan->Kept.assign(Rows.size(), 0);
    std::size_t next = 0;
    bool matching = true;
    for (const SpoolFilePtr& record : App.Jobs.JobList) {
        if (!record)
            continue;
        std::size_t found = Rows.size();
        if (matching) {
            for (std::size_t k = next; k < Rows.size(); ++k) {
                if (Rows[k].Id == record->Id()) {
                    found = k;
                    break;
                }
            }
            // A record without a row: it and every record after it are new.
            matching = found < Rows.size();
        }
        if (found == Rows.size()) {
            CRow row;
            row.Record = record;
            row.Id = record->Id();
            FillRow(&row, *record);
            plan->Appended.push_back(std::move(row));
            continue;
        }
        plan->Kept[found] = 1;
        next = found + 1;
        CRow& row = Rows[found];
        if (row.State != record->State || row.StateText != View(record->StateText) ||
            row.PrinterName != View(record->PrinterName)) {
            FillRow(&row, *record);
            plan->FirstChanged = std::min(plan->FirstChanged, static_cast<int>(found));
            plan->LastChanged = std::max(plan->LastChanged, static_cast<int>(found));
        }
    }
}

void CJobListModel::RemoveAndAppend(CRefreshPlan* plan) {
    // The runs of rows whose records have left the list.
    const std::vector<uint8_t>& kept = plan->Kept;
    std::vector<std::pair<int, int>> removed;
    for (std::size_t i = 0; i < kept.size();) {
        if (kept[i]) {
            ++i;
            continue;
        }
        const std::size_t first = i;
        while (i < kept.size() && !kept[i])
            ++i;
        removed.emplace_back(static_cast<int>(first), static_cast<int>(i - 1));
    }
    if (removed.size() > MAX_REMOVED_RUNS) {
        ResetRows(plan);
        return;
    }
    // From the last run to the first, so that the earlier runs keep their row numbers.
    for (auto run = removed.rbegin(); run != removed.rend(); ++run) {
        beginRemoveRows(QModelIndex(), run->first, run->second);
        for (int row = run->first; row <= run->second; ++row)
            Release(Rows[static_cast<std::size_t>(row)]);
        Rows.erase(Rows.begin() + run->first, Rows.begin() + run->second + 1);
        endRemoveRows();
    }
    if (!Released.empty())
        ReleaseTimer.start(0);
    if (!plan->Appended.empty()) {
        const int first = static_cast<int>(Rows.size());
        beginInsertRows(QModelIndex(), first, first + static_cast<int>(plan->Appended.size()) - 1);
        Rows.reserve(Rows.size() + plan->Appended.size());
        std::move(plan->Appended.begin(), plan->Appended.end(), std::back_inserter(Rows));
        endInsertRows();
    }
}

void CJobListModel::ResetRows(CRefreshPlan* plan) {
    beginResetModel();
    std::vector<CRow> rows;
    rows.reserve(Rows.size() + plan->Appended.size());
    for (std::size_t i = 0; i < Rows.size(); ++i) {
        if (plan->Kept[i])
            rows.push_back(std::move(Rows[i]));
        else
            Release(Rows[i]);
    }
    std::move(plan->Appended.begin(), plan->Appended.end(), std::back_inserter(rows));
    Rows = std::move(rows);
    endResetModel();
    if (!Released.empty())
        ReleaseTimer.start(0);
}

JobId CJobListModel::JobAt(int row) const {
    return row >= 0 && row < rowCount() ? Rows[static_cast<std::size_t>(row)].Id : 0;
}

int32_t CJobListModel::StateAt(int row) const {
    return row >= 0 && row < rowCount() ? Rows[static_cast<std::size_t>(row)].State : -1;
}

std::u16string CJobListModel::LocalFileNameAt(int row) const {
    return row >= 0 && row < rowCount() ? Rows[static_cast<std::size_t>(row)].Record->LocalFileName
                                        : std::u16string();
}

int CJobListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(Rows.size());
}

int CJobListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CJobListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= ColumnCount)
        return QVariant();
    const CRow& row = Rows[static_cast<std::size_t>(index.row())];
    if (role == Qt::DecorationRole) {
        if (index.column() == ColumnStatus && row.State >= 0 && row.State < 5)
            return StateImages[row.State];
        return QVariant();
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return QVariant();
    const CSpoolFile& record = *row.Record;
    switch (index.column()) {
        case ColumnStatus:
            return row.StateText;
        case ColumnFileName:
            return ToQString(record.DocumentName);
        case ColumnDate:
            return ToQString(record.DateInserted);
        case ColumnSize:
            return ToQString(record.FileSize);
        case ColumnOwner:
            return ToQString(record.Owner);
        case ColumnType:
            return ToQString(record.FileType);
        case ColumnPrinter:
            return row.PrinterName;
        case ColumnLocalFileName:
            return ToQString(record.LocalFileName);
        default:
            return QVariant();
    }
}

QVariant CJobListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QVariant();
    if (role == Qt::DisplayRole)
        return Headers[section];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return QVariant();
}

}  // namespace velmora::ui
