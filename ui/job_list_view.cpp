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
class CRowDelegate : public QStyledItemDelegate {
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
    : QTableView(parent), App(app), JobModel(app) {
    ChooseTransfer = [this](const CSpoolFile& job, std::u16string* printerName) {
        return RunTransferDialog(App.PrinterList, this, job, printerName);
    };
    setObjectName(QStringLiteral("JobListView"));
    setModel(&JobModel);
    setItemDelegate(new CRowDelegate(this));
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
    connect(&JobModel, &QAbstractItemModel::modelAboutToBeReset, this, [this] { RememberSelection(); });
    connect(&JobModel, &QAbstractItemModel::modelReset, this, [this] { RestoreSelection(); });
    // A state change of the selected job changes what may be done with it.
    connect(&JobModel, &QAbstractItemModel::dataChanged, this, [this] { UpdateSelection(); });

    RefreshTimer.setSingleShot(true);
    connect(&RefreshTimer, &QTimer::timeout, this, [this] { RefreshList(REFRESH_LOCK_TIMEOUT); });
    RefreshList(REFRESH_LOCK_TIMEOUT);
}

bool CVelmoraVirtualPrinterView::RefreshList(int lockTimeout) {
    RefreshTimer.stop();
    const bool refreshed = JobModel.Refresh(std::chrono::milliseconds(lockTimeout));
    // A skipped refresh counts as one: it has waited its time, and the next change catches up.
    SinceRefresh.start();
    if (refreshed) {
        ++Refreshes;
        UpdateSelection();
    }
    return refreshed;
}

void CVelmoraVirtualPrinterView::OnJobListChanged() {
    if (RefreshTimer.isActive())
        return;
    const std::chrono::milliseconds since(SinceRefresh.isValid() ? SinceRefresh.elapsed()
                                                                 : REFRESH_INTERVAL.count());
    if (since >= REFRESH_INTERVAL) {
        RefreshList(REFRESH_LOCK_TIMEOUT);
    } else {
        RefreshTimer.start(REFRESH_INTERVAL - since);
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
    const JobId job = JobModel.JobAt(last);
    const int32_t state = JobModel.StateAt(last);
    if (job != SelectedJobId || state != SelectedState) {
        SelectedJobId = job;
        SelectedState = state;
        emit CommandStateChanged();
    }
}

bool CVelmoraVirtualPrinterView::IsJobCommandEnabled(int command) const {
    if (SelectedJobId == 0)
        return false;
    switch (command) {
        case ID_JOB_RELEASE:
            return SelectedState == STATE_HELD || SelectedState == STATE_SAVED ||
                   SelectedState == STATE_ERROR;
        case ID_JOB_STOP:
            return SelectedState == STATE_READY || SelectedState == STATE_PRINTING;
        case ID_JOB_DELETE:
        case ID_JOB_TRANSFER:
            return SelectedState != STATE_PRINTING;
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
        jobs.push_back(JobModel.JobAt(row));
    for (const JobId job : jobs) {
        if (action != JOB_TRANSFER) {
            App.Jobs.ApplyJobAction(action, job, false);
            continue;
        }
        // The dialog shows a copy and runs without any lock; its choice applies to the job if it still
        // exists.
        const std::optional<CSpoolFile> shown = App.Jobs.CopyOfJob(job);
        std::u16string printerName;
        if (shown && ChooseTransfer && ChooseTransfer(*shown, &printerName))
            App.Jobs.ApplyJobAction(JOB_TRANSFER, job, false, printerName);
    }
    RefreshList(REFRESH_LOCK_TIMEOUT);
}

void CVelmoraVirtualPrinterView::OnDoubleClick(const QModelIndex&) {
    UpdateSelection();
    if (SelectedJobId == 0)
        return;
    const std::u16string path = JobModel.LocalFileNameAt(LastSelectedRow());
    // Held first, so that the spooler does not print the job while the user looks at it.
    App.Jobs.ApplyJobAction(JOB_HOLD, SelectedJobId, false);
    // Whether an application opens it is the desktop's business; the job stays held either way.
    platform::OpenWithDefaultApplication(path);
    RefreshList(REFRESH_LOCK_TIMEOUT);
}

std::unique_ptr<QMenu> CVelmoraVirtualPrinterView::CreateContextMenu() {
    const std::vector<int> rows = SelectedRows();
    if (rows.empty()) {
        SelectedJobId = 0;
        SelectedState = -1;
        emit CommandStateChanged();
        return nullptr;
    }
    const JobId job = JobModel.JobAt(rows.front());
    int32_t state = -1;
    {
        // The job's state now, not as last shown.
        std::lock_guard<CRecursiveTimedMutex> lock(App.Jobs.JobListLock);
        const long index = App.Jobs.FindJob(job);
        if (index < 0)
            return nullptr;
        state = App.Jobs.JobList[static_cast<std::size_t>(index)]->State;
    }
    SelectedJobId = job;
    SelectedState = state;
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
    RememberedJobs.clear();
    for (const int row : SelectedRows())
        RememberedJobs.insert(JobModel.JobAt(row));
    RememberedCurrent = JobModel.JobAt(currentIndex().row());
}

void CVelmoraVirtualPrinterView::RestoreSelection() {
    QItemSelection selection;
    const int rows = JobModel.rowCount();
    const int lastColumn = CJobListModel::ColumnCount - 1;
    int runStart = -1;
    QModelIndex current;
    for (int row = 0; row <= rows; ++row) {
        const JobId job = row < rows ? JobModel.JobAt(row) : 0;
        const bool selected = row < rows && RememberedJobs.count(job) != 0;
        if (row < rows && job == RememberedCurrent && job != 0)
            current = JobModel.index(row, 0);
        if (selected && runStart < 0)
            runStart = row;
        if (!selected && runStart >= 0) {
            selection.select(JobModel.index(runStart, 0), JobModel.index(row - 1, lastColumn));
            runStart = -1;
        }
    }
    if (current.isValid())
        selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    RememberedJobs.clear();
    RememberedCurrent = 0;
}

void CJobListNotifier::Post() {
    if (!Posted.exchange(true))
        QCoreApplication::postEvent(this, new QEvent(WM_JOBLIST_CHANGED));
}

bool CJobListNotifier::event(QEvent* event) {
    if (event->type() == WM_JOBLIST_CHANGED) {
        // Cleared before the refresh: a change made during it is posted anew.
        Posted = false;
        if (JobListView)
            QCoreApplication::sendEvent(JobListView, event);
        return true;
    }
    return QObject::event(event);
}

}  // namespace velmora::ui
