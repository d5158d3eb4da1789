// The job list view: the spooled jobs as a report-style list, and the job commands on its selection.
#pragma once

#include <QElapsedTimer>
#include <QEvent>
#include <QPointer>
#include <QTableView>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <unordered_set>

#include "app/app.h"
#include "ui/job_list_model.h"

class QMenu;

namespace velmora::ui {

// The notification that JobList or a job's state changed, posted to the user-interface thread by the
// workers and delivered to the job list view.
constexpr QEvent::Type WM_JOBLIST_CHANGED = static_cast<QEvent::Type>(QEvent::User + 1);

class CVelmoraVirtualPrinterView : public QTableView {
    Q_OBJECT

  public:
    // Every refresh asks for JobListLock with this limit; a refresh that cannot have it is skipped.
    static constexpr int REFRESH_LOCK_TIMEOUT = 200;
    // Notifications that come sooner than this after a refresh are gathered into one refresh at its end,
    // so that a stream of arriving jobs leaves the window time to answer the user.
    static constexpr std::chrono::milliseconds REFRESH_INTERVAL{100};

    explicit CVelmoraVirtualPrinterView(CVelmoraVirtualPrinterApp& app, QWidget* parent = nullptr);

    CJobListModel& Model() { return JobModel; }

    // Brings the list up to date with JobList; false when JobListLock could not be had within the time
    // (milliseconds) and the refresh was skipped.
    bool RefreshList(int lockTimeout);
    // WM_JOBLIST_CHANGED: a refresh now, or at the end of the interval when the last one is recent.
    void OnJobListChanged();
    // Refreshes made so far (skipped ones not counted).
    int RefreshCount() const { return Refreshes; }

    // SelectedJob: the job of the last selected row in list order, 0 when no row is selected.
    void UpdateSelection();
    JobId SelectedJob() const { return SelectedJobId; }

    // The job commands (ID_JOB_RELEASE .. ID_JOB_TRANSFER): available by the state of SelectedJob, and run
    // on every selected job.
    bool IsJobCommandEnabled(int command) const;
    void OnJobCommand(int command);
    void ApplyToSelection(JobAction action);
    // The Transfer command's choice for one job: true and the chosen virtual printer on OK. The
    // "Spooled file configuration" dialog by default; tests answer it themselves.
    using TransferChooser = std::function<bool(const CSpoolFile& job, std::u16string* printerName)>;
    void SetTransferChooser(TransferChooser chooser) { ChooseTransfer = std::move(chooser); }

    // The job menu for the selection, its items chosen by the state of the first selected job; null when
    // no row is selected or that job has left the list.
    std::unique_ptr<QMenu> CreateContextMenu();

  signals:
    // The selection or the selected job's state changed: the job commands' availability may have too.
    void CommandStateChanged();

  protected:
    bool event(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void OnDoubleClick(const QModelIndex& index);
    // The selected rows in list order, and the last of them (-1 when none is).
    std::vector<int> SelectedRows() const;
    int LastSelectedRow() const;
    void RememberSelection();
    void RestoreSelection();

    CVelmoraVirtualPrinterApp& App;
    CJobListModel JobModel;
    JobId SelectedJobId = 0;
    int32_t SelectedState = -1;
    int Refreshes = 0;
    QElapsedTimer SinceRefresh;
    QTimer RefreshTimer;
    // The selection across a reset of the model, by job.
    std::unordered_set<JobId> RememberedJobs;
    JobId RememberedCurrent = 0;
    TransferChooser ChooseTransfer;
};

// Carries the workers' notifications to the view on the user-interface thread. Any thread may post; one
// notification at most waits in the event queue, however many are posted meanwhile.
class CJobListNotifier : public QObject {
    Q_OBJECT

  public:
    using QObject::QObject;
    void Post();
    // The view that receives the notifications; none while there is no main window.
    void SetView(CVelmoraVirtualPrinterView* view) { JobListView = view; }

  protected:
    bool event(QEvent* event) override;

  private:
    std::atomic<bool> Posted{false};
    QPointer<CVelmoraVirtualPrinterView> JobListView;
};

}  // namespace velmora::ui
