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

constexpr int kColumnWidths[CJobListModel::ColumnCount] = {80, 200, 130, 90, 100, 100, 200, 200};

// Rows deleted in more separate runs than this are taken out by one reset of the model instead: every
// run signalled on its own moves the rows behind it and costs the view a look at its selection.
constexpr std::size_t kMaxRemovedRuns = 16;
// The shared texts are forgotten when there are this many (printer names come and go).
constexpr std::size_t kMaxSharedTexts = 4096;
// Records let go of at each turn of the message loop (about a millisecond's work).
constexpr std::size_t kReleaseSlice = 4096;

QStringView View(const std::u16string& text) {
    return QStringView(text.data(), static_cast<qsizetype>(text.size()));
}

QString ToQString(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

}  // namespace

int CJobListModel::ColumnWidth(int column) {
    return column >= 0 && column < ColumnCount ? kColumnWidths[column] : 0;
}

CJobListModel::CJobListModel(CVelmoraVirtualPrinterApp& app, QObject* parent)
    : QAbstractTableModel(parent), app_(app) {
    const uint32_t headerIds[ColumnCount] = {IDS_COLUMN_STATUS,  IDS_COLUMN_FILE_NAME,      IDS_COLUMN_DATE,
                                             IDS_COLUMN_SIZE,    IDS_COLUMN_OWNER,          IDS_COLUMN_TYPE,
                                             IDS_COLUMN_PRINTER, IDS_COLUMN_LOCAL_FILE_NAME};
    for (int column = 0; column < ColumnCount; ++column)
        headers_[column] = ToQString(LoadString(headerIds[column]));
    for (int state = 0; state < 5; ++state)
        stateImages_[state] = StateImage(state);
    releaseTimer_.setSingleShot(true);
    connect(&releaseTimer_, &QTimer::timeout, this, [this] { ReleaseSome(); });
}

void CJobListModel::Release(Row& row) {
    released_.push_back(std::move(row.record));
}

void CJobListModel::ReleaseSome() {
    const std::size_t count = std::min(released_.size(), kReleaseSlice);
    released_.erase(released_.end() - static_cast<std::ptrdiff_t>(count), released_.end());
    if (!released_.empty())
        releaseTimer_.start(0);
}

const QString& CJobListModel::Shared(const std::u16string& text) {
    const auto found = sharedTexts_.find(std::u16string_view(text));
    if (found != sharedTexts_.end())
        return found->second;
    if (sharedTexts_.size() >= kMaxSharedTexts)
        sharedTexts_.clear();
    // The key looks into the stored text's own characters, which its copies share and never change.
    const QString shared = ToQString(text);
    const std::u16string_view key(reinterpret_cast<const char16_t*>(shared.constData()),
                                  static_cast<std::size_t>(shared.size()));
    return sharedTexts_.emplace(key, shared).first->second;
}

void CJobListModel::FillRow(Row* row, const CSpoolFile& record) {
    row->state = record.State;
    row->stateText = Shared(record.StateText);
    row->printerName = Shared(record.PrinterName);
}

bool CJobListModel::Refresh(std::chrono::milliseconds lockTimeout) {
    if (!app_.Jobs.JobListLock.try_lock_for(lockTimeout))
        return false;

    // Records leave JobList and new ones are appended at its end; the order of the others never changes.
    // So one walk matches the list against the rows: the rows that stay keep their place, the records
    // that have no row yet become rows at the end.
    std::vector<uint8_t> kept(rows_.size(), 0);
    std::vector<Row> appended;
    int firstChanged = INT_MAX;
    int lastChanged = -1;
    {
        std::unique_lock<CRecursiveTimedMutex> lock(app_.Jobs.JobListLock, std::adopt_lock);
        std::size_t next = 0;
        bool matching = true;
        for (const SpoolFilePtr& record : app_.Jobs.JobList) {
            if (!record)
                continue;
            std::size_t found = rows_.size();
            if (matching) {
                for (std::size_t k = next; k < rows_.size(); ++k) {
                    if (rows_[k].id == record->Id()) {
                        found = k;
                        break;
                    }
                }
                // A record without a row: it and every record after it are new.
                matching = found < rows_.size();
            }
            if (found < rows_.size()) {
                kept[found] = 1;
                next = found + 1;
                Row& row = rows_[found];
                if (row.state != record->State || row.stateText != View(record->StateText) ||
                    row.printerName != View(record->PrinterName)) {
                    FillRow(&row, *record);
                    firstChanged = std::min(firstChanged, static_cast<int>(found));
                    lastChanged = std::max(lastChanged, static_cast<int>(found));
                }
            } else {
                Row row;
                row.record = record;
                row.id = record->Id();
                FillRow(&row, *record);
                appended.push_back(std::move(row));
            }
        }
    }

    if (lastChanged >= 0)
        emit dataChanged(index(firstChanged, 0), index(lastChanged, ColumnCount - 1));

    // The runs of rows whose records have left the list.
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

    if (removed.size() > kMaxRemovedRuns) {
        beginResetModel();
        std::vector<Row> rows;
        rows.reserve(rows_.size() + appended.size());
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            if (kept[i])
                rows.push_back(std::move(rows_[i]));
            else
                Release(rows_[i]);
        }
        std::move(appended.begin(), appended.end(), std::back_inserter(rows));
        rows_ = std::move(rows);
        endResetModel();
        if (!released_.empty())
            releaseTimer_.start(0);
        return true;
    }
    // From the last run to the first, so that the earlier runs keep their row numbers.
    for (auto run = removed.rbegin(); run != removed.rend(); ++run) {
        beginRemoveRows(QModelIndex(), run->first, run->second);
        for (int row = run->first; row <= run->second; ++row)
            Release(rows_[static_cast<std::size_t>(row)]);
        rows_.erase(rows_.begin() + run->first, rows_.begin() + run->second + 1);
        endRemoveRows();
    }
    if (!released_.empty())
        releaseTimer_.start(0);
    if (!appended.empty()) {
        const int first = static_cast<int>(rows_.size());
        beginInsertRows(QModelIndex(), first, first + static_cast<int>(appended.size()) - 1);
        rows_.reserve(rows_.size() + appended.size());
        std::move(appended.begin(), appended.end(), std::back_inserter(rows_));
        endInsertRows();
    }
    return true;
}

JobId CJobListModel::JobAt(int row) const {
    return row >= 0 && row < rowCount() ? rows_[static_cast<std::size_t>(row)].id : 0;
}

int32_t CJobListModel::StateAt(int row) const {
    return row >= 0 && row < rowCount() ? rows_[static_cast<std::size_t>(row)].state : -1;
}

std::u16string CJobListModel::LocalFileNameAt(int row) const {
    return row >= 0 && row < rowCount() ? rows_[static_cast<std::size_t>(row)].record->LocalFileName
                                        : std::u16string();
}

int CJobListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CJobListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CJobListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= ColumnCount)
        return QVariant();
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    if (role == Qt::DecorationRole) {
        if (index.column() == ColumnStatus && row.state >= 0 && row.state < 5)
            return stateImages_[row.state];
        return QVariant();
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return QVariant();
    const CSpoolFile& record = *row.record;
    switch (index.column()) {
        case ColumnStatus:
            return row.stateText;
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
            return row.printerName;
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
        return headers_[section];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return QVariant();
}

}  // namespace velmora::ui
