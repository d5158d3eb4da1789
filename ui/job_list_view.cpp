#include "ui/job_list_view.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QItemSelection>
#include <QMenu>
#include <QStyledItemDelegate>

#include <algorithm>
#include <mutex>
#include <optional>

#include "platform/shell.h"
#include "resources/string_table.h"
#include "resources/window_string_ids.h"
#include "ui/command_ids.h"
#include "ui/dialogs.h"

namespace velmora::ui {

namespace {

QString ToQString(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

// The status-bar prompt of a command: the part of its string before the tooltip.
QString Prompt(uint32_t command) {
    return ToQString(LoadString(command)).section(QLatin1Char('\n'), 0, 0);
}

// Cells drawn without a focus frame of their own: the selection marks whole rows.
class RowDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->state &= ~QStyle::State_HasFocus;
    }
};

}  // namespace

CVelmoraVirtualPrinterView::CVelmoraVirtualPrinterView(CVelmoraVirtualPrinterApp& app, QWidget* parent)
    : QTableView(parent), app_(app), model_(app) {
    chooseTransfer_ = [this](const CSpoolFile& job, std::u16string* printerName) {
        return RunTransferDialog(app_.PrinterList, this, job, printerName);
    };
    setObjectName(QStringLiteral("JobListView"));
    setModel(&model_);
    setItemDelegate(new RowDelegate(this));
    // A report: rows of equal height without grid or row numbers, whole rows selected, several at a
    // time, in JobList order. A table (rather than a tree) keeps the cost of a change to the rows it
    // touches, also in a list of 100,000 jobs.
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSortingEnabled(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(16, 15));
    setFrameShape(QFrame::StyledPanel);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(std::max(fontMetrics().height(), 15) + 4);
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int column = 0; column < CJobListModel::ColumnCount; ++column)
        horizontalHeader()->resizeSection(column, CJobListModel::ColumnWidth(column));

    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { UpdateSelection(); });
    connect(this, &QAbstractItemView::doubleClicked, this, &CVelmoraVirtualPrinterView::OnDoubleClick);
    connect(&model_, &QAbstractItemModel::modelAboutToBeReset, this, [this] { RememberSelection(); });
    connect(&model_, &QAbstractItemModel::modelReset, this, [this] { RestoreSelection(); });
    // A state change of the selected job changes what may be done with it.
    connect(&model_, &QAbstractItemModel::dataChanged, this, [this] { UpdateSelection(); });

    refreshTimer_.setSingleShot(true);
    connect(&refreshTimer_, &QTimer::timeout, this, [this] { RefreshList(kRefreshLockTimeout); });
    RefreshList(kRefreshLockTimeout);
}

bool CVelmoraVirtualPrinterView::RefreshList(int lockTimeout) {
    refreshTimer_.stop();
    const bool refreshed = model_.Refresh(std::chrono::milliseconds(lockTimeout));
    // A skipped refresh counts as one: it has waited its time, and the next change catches up.
    sinceRefresh_.start();
    if (refreshed) {
        ++refreshCount_;
        UpdateSelection();
    }
    return refreshed;
}

void CVelmoraVirtualPrinterView::OnJobListChanged() {
    if (refreshTimer_.isActive())
        return;
    const std::chrono::milliseconds since(sinceRefresh_.isValid() ? sinceRefresh_.elapsed()
                                                                  : kRefreshInterval.count());
    if (since >= kRefreshInterval) {
        RefreshList(kRefreshLockTimeout);
    } else {
        refreshTimer_.start(kRefreshInterval - since);
    }
}

std::vector<int> CVelmoraVirtualPrinterView::SelectedRows() const {
    std::vector<int> rows;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

int CVelmoraVirtualPrinterView::LastSelectedRow() const {
    int last = -1;
    for (const QItemSelectionRange& range : selectionModel()->selection())
        last = std::max(last, range.bottom());
    return last;
}

void CVelmoraVirtualPrinterView::UpdateSelection() {
    const int last = LastSelectedRow();
    const JobId job = model_.JobAt(last);
    const int32_t state = model_.StateAt(last);
    if (job != selectedJob_ || state != selectedState_) {
        selectedJob_ = job;
        selectedState_ = state;
        emit CommandStateChanged();
    }
}

bool CVelmoraVirtualPrinterView::IsJobCommandEnabled(int command) const {
    if (selectedJob_ == 0)
        return false;
    switch (command) {
        case ID_JOB_RELEASE:
            return selectedState_ == STATE_HELD || selectedState_ == STATE_SAVED ||
                   selectedState_ == STATE_ERROR;
        case ID_JOB_STOP:
            return selectedState_ == STATE_READY || selectedState_ == STATE_PRINTING;
        case ID_JOB_DELETE:
        case ID_JOB_TRANSFER:
            return selectedState_ != STATE_PRINTING;
        default:
            return false;
    }
}

void CVelmoraVirtualPrinterView::OnJobCommand(int command) {
    if (!IsJobCommandEnabled(command))
        return;
    switch (command) {
        case ID_JOB_RELEASE:
            ApplyToSelection(JOB_RELEASE);
            break;
        case ID_JOB_STOP:
            ApplyToSelection(JOB_HOLD);
            break;
        case ID_JOB_DELETE:
            ApplyToSelection(JOB_DELETE);
            break;
        case ID_JOB_TRANSFER:
            ApplyToSelection(JOB_TRANSFER);
            break;
        default:
            break;
    }
}

void CVelmoraVirtualPrinterView::ApplyToSelection(JobAction action) {
    // The jobs are taken first: the transfer dialog runs a message loop, in which the list may refresh.
    std::vector<JobId> jobs;
    for (const int row : SelectedRows())
        jobs.push_back(model_.JobAt(row));
    for (const JobId job : jobs) {
        if (action != JOB_TRANSFER) {
            app_.Jobs.ApplyJobAction(action, job, false);
            continue;
        }
        // The dialog shows a copy and runs without any lock; its choice applies to the job if it still exists.
        const std::optional<CSpoolFile> shown = app_.Jobs.CopyOfJob(job);
        std::u16string printerName;
        if (shown && chooseTransfer_ && chooseTransfer_(*shown, &printerName))
            app_.Jobs.ApplyJobAction(JOB_TRANSFER, job, false, printerName);
    }
    RefreshList(kRefreshLockTimeout);
}

void CVelmoraVirtualPrinterView::OnDoubleClick(const QModelIndex&) {
    UpdateSelection();
    if (selectedJob_ == 0)
        return;
    const std::u16string path = model_.LocalFileNameAt(LastSelectedRow());
    // Held first, so that the spooler does not print the job while the user looks at it.
    app_.Jobs.ApplyJobAction(JOB_HOLD, selectedJob_, false);
    // Whether an application opens it is the desktop's business; the job stays held either way.
    platform::OpenWithDefaultApplication(path);
    RefreshList(kRefreshLockTimeout);
}

std::unique_ptr<QMenu> CVelmoraVirtualPrinterView::CreateContextMenu() {
    const std::vector<int> rows = SelectedRows();
    if (rows.empty()) {
        selectedJob_ = 0;
        selectedState_ = -1;
        emit CommandStateChanged();
        return nullptr;
    }
    const JobId job = model_.JobAt(rows.front());
    int32_t state = -1;
    {
        // The job's state now, not as last shown.
        std::lock_guard<CRecursiveTimedMutex> lock(app_.Jobs.JobListLock);
        const long index = app_.Jobs.FindJob(job);
        if (index < 0)
            return nullptr;
        state = app_.Jobs.JobList[static_cast<std::size_t>(index)]->State;
    }
    selectedJob_ = job;
    selectedState_ = state;
    emit CommandStateChanged();

    auto menu = std::make_unique<QMenu>(this);
    menu->setObjectName(QStringLiteral("JobMenu"));
    const auto addCommand = [&](int command, uint32_t text) {
        QAction* action = menu->addAction(ToQString(LoadString(text)));
        action->setData(command);
        action->setStatusTip(Prompt(static_cast<uint32_t>(command)));
        action->setEnabled(IsJobCommandEnabled(command));
        connect(action, &QAction::triggered, this, [this, command] { OnJobCommand(command); });
        return action;
    };
    QAction* release = addCommand(ID_JOB_RELEASE, IDS_MENU_JOB_RELEASE);
    QAction* stop = addCommand(ID_JOB_STOP, IDS_CONTEXT_JOB_STOP);
    menu->addSeparator();
    QAction* remove = addCommand(ID_JOB_DELETE, IDS_MENU_JOB_DELETE);
    menu->addSeparator();
    QAction* transfer = addCommand(ID_JOB_TRANSFER, IDS_MENU_JOB_TRANSFER);
    // Only what the job's state allows is offered; the separators stay.
    if (state == STATE_HELD || state == STATE_SAVED || state == STATE_ERROR) {
        menu->removeAction(stop);
    } else {
        menu->removeAction(release);
        if (state == STATE_PRINTING) {
            menu->removeAction(remove);
            menu->removeAction(transfer);
        }
    }
    return menu;
}

void CVelmoraVirtualPrinterView::contextMenuEvent(QContextMenuEvent* event) {
    std::unique_ptr<QMenu> menu = CreateContextMenu();
    if (menu)
        menu->exec(event->globalPos());
}

bool CVelmoraVirtualPrinterView::event(QEvent* event) {
    if (event->type() == WM_JOBLIST_CHANGED) {
        OnJobListChanged();
        return true;
    }
    return QTableView::event(event);
}

void CVelmoraVirtualPrinterView::RememberSelection() {
    rememberedJobs_.clear();
    for (const int row : SelectedRows())
        rememberedJobs_.insert(model_.JobAt(row));
    rememberedCurrent_ = model_.JobAt(currentIndex().row());
}

void CVelmoraVirtualPrinterView::RestoreSelection() {
    QItemSelection selection;
    const int rows = model_.rowCount();
    const int lastColumn = CJobListModel::ColumnCount - 1;
    int runStart = -1;
    QModelIndex current;
    for (int row = 0; row <= rows; ++row) {
        const JobId job = row < rows ? model_.JobAt(row) : 0;
        const bool selected = row < rows && rememberedJobs_.count(job) != 0;
        if (row < rows && job == rememberedCurrent_ && job != 0)
            current = model_.index(row, 0);
        if (selected && runStart < 0)
            runStart = row;
        if (!selected && runStart >= 0) {
            selection.select(model_.index(runStart, 0), model_.index(row - 1, lastColumn));
            runStart = -1;
        }
    }
    if (current.isValid())
        selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    rememberedJobs_.clear();
    rememberedCurrent_ = 0;
}

void CJobListNotifier::Post() {
    if (!posted_.exchange(true))
        QCoreApplication::postEvent(this, new QEvent(WM_JOBLIST_CHANGED));
}

bool CJobListNotifier::event(QEvent* event) {
    if (event->type() == WM_JOBLIST_CHANGED) {
        // Cleared before the refresh: a change made during it is posted anew.
        posted_ = false;
        if (view_)
            QCoreApplication::sendEvent(view_, event);
        return true;
    }
    return QObject::event(event);
}

}  // namespace velmora::ui
