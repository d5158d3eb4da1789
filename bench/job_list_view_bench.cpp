// The job list view under load: refreshes of a list of 100,000 jobs after the changes the workers make,
// and the window's answer time while 1,000 jobs per second arrive. Peers in the same run: a model that
// rebuilds every row from JobList at each refresh (the list emptied and filled again), and refreshes made
// for every notification instead of gathered ones.
#include <stdlib.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "app/app.h"
#include "core/recursive_timed_mutex.h"
#include "text/format.h"
#include "ui/job_list_view.h"

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int JOBS = 100000;
// How long after the arrivals a run may take to catch up; notifications still waiting then are dropped
// (a peer that refreshes at every notification can fall minutes behind).
constexpr auto CATCH_UP_LIMIT = std::chrono::seconds(10);
Clock::time_point gGiveUpAt = Clock::time_point::max();

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

SpoolFilePtr MakeJob(int i) {
    auto job = std::make_shared<CSpoolFile>();
    job->DocumentName = Format(u"Invoice %d.pdf", i);
    job->SetReady();
    job->Owner = u"accounting";
    job->DateInserted = u"Sun Dec  6 12:00:00 2026";
    job->FileSize = Format(u"%d bytes", 10000 + i);
    job->FileType = u"PDF";
    job->PrinterName = (i % 3 == 0) ? u"LABELS" : u"PASS";
    job->LocalFileName = Format(u"/var/opt/velmora/VelmoraSpooler/Spool/PASS/20261206120000%d.pdf", i);
    return job;
}

void Fill(CVelmoraVirtualPrinterApp& app, int count) {
    std::lock_guard<CRecursiveTimedMutex> lock(app.Jobs.JobListLock);
    app.Jobs.JobList.clear();
    for (int i = 0; i < count; ++i)
        app.Jobs.JobList.push_back(MakeJob(i));
}

// The peer: every refresh empties the list and fills it again with every shown text of every record.
class RebuildingModel : public QAbstractTableModel {
  public:
    explicit RebuildingModel(CVelmoraVirtualPrinterApp& app) : app_(app) {}

    bool Refresh(std::chrono::milliseconds timeout) {
        if (!app_.Jobs.JobListLock.try_lock_for(timeout))
            return false;
        std::unique_lock<CRecursiveTimedMutex> lock(app_.Jobs.JobListLock, std::adopt_lock);
        beginResetModel();
        rows_.clear();
        rows_.reserve(app_.Jobs.JobList.size());
        for (const SpoolFilePtr& job : app_.Jobs.JobList) {
            rows_.push_back(
                {QString::fromStdU16String(job->StateText), QString::fromStdU16String(job->DocumentName),
                 QString::fromStdU16String(job->DateInserted), QString::fromStdU16String(job->FileSize),
                 QString::fromStdU16String(job->Owner), QString::fromStdU16String(job->FileType),
                 QString::fromStdU16String(job->PrinterName), QString::fromStdU16String(job->LocalFileName)});
        }
        endResetModel();
        return true;
    }
    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : 8;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid())
            return QVariant();
        return rows_[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())];
    }

  private:
    CVelmoraVirtualPrinterApp& app_;
    std::vector<std::array<QString, 8>> rows_;
};

// A view shown as the user sees it, 900 by 500 with 8 columns, so that refreshes pay for what they cause.
// The peer's view is set up as the job list view sets itself up.
void Prepare(QTableView& view) {
    view.setShowGrid(false);
    view.verticalHeader()->hide();
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.verticalHeader()->setDefaultSectionSize(view.fontMetrics().height() + 4);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.setSelectionMode(QAbstractItemView::ExtendedSelection);
    view.resize(900, 500);
    view.show();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The median of a few runs of a change followed by a refresh and a repaint of the visible rows; the change
// itself is not timed.
template <typename Refresh>
double TimeRefresh(QAbstractItemView& view, const std::function<void()>& change, Refresh refresh,
                   int rounds = 5) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        change();
        const auto start = Clock::now();
        refresh();
        view.viewport()->repaint();
        times.push_back(Milliseconds(Clock::now() - start));
    }
    return Median(times);
}

struct Scenario {
    const char* Name;
    std::function<void()> Change;
};

std::vector<Scenario> Scenarios(CVelmoraVirtualPrinterApp& app) {
    std::vector<Scenario> scenarios;
    scenarios.push_back({"no change", [] {}});
    scenarios.push_back({"100 jobs change state", [&app] {
                             std::lock_guard<CRecursiveTimedMutex> lock(app.Jobs.JobListLock);
                             static int round = 0;
                             ++round;
                             for (std::size_t i = 0; i < app.Jobs.JobList.size();
                                  i += app.Jobs.JobList.size() / 100)
                                 app.Jobs.JobList[i]->SetState(round % 2 ? STATE_SAVED : STATE_READY);
                         }});
    scenarios.push_back({"100 jobs arrive", [&app] {
                             std::lock_guard<CRecursiveTimedMutex> lock(app.Jobs.JobListLock);
                             for (int i = 0; i < 100; ++i)
                                 app.Jobs.JobList.push_back(MakeJob(JOBS + i));
                         }});
    scenarios.push_back({"10 scattered jobs deleted", [&app] {
                             std::lock_guard<CRecursiveTimedMutex> lock(app.Jobs.JobListLock);
                             for (int i = 0; i < 10; ++i)
                                 app.Jobs.JobList.erase(app.Jobs.JobList.begin() +
                                                        static_cast<long>(i * app.Jobs.JobList.size() / 10));
                         }});
    scenarios.push_back({"1,000 scattered jobs deleted", [&app] {
                             std::lock_guard<CRecursiveTimedMutex> lock(app.Jobs.JobListLock);
                             std::vector<SpoolFilePtr> kept;
                             kept.reserve(app.Jobs.JobList.size());
                             for (std::size_t i = 0; i < app.Jobs.JobList.size(); ++i) {
                                 if (i % (app.Jobs.JobList.size() / 1000) != 7)
                                     kept.push_back(app.Jobs.JobList[i]);
                             }
                             app.Jobs.JobList = std::move(kept);
                         }});
    scenarios.push_back({"list loaded anew", [&app] { Fill(app, JOBS); }});
    return scenarios;
}

void RefreshTable(CVelmoraVirtualPrinterApp& app) {
    std::printf("Refresh of a list of %d jobs, then a repaint of the visible rows; median of 5 (ms)\n", JOBS);
    std::printf("| change | view (ms) | peer: rebuild every row (ms) | ratio |\n|---|---|---|---|\n");

    Fill(app, JOBS);
    ui::CVelmoraVirtualPrinterView view(app);
    Prepare(view);
    RebuildingModel rebuilding(app);
    QTableView peerView;
    peerView.setModel(&rebuilding);
    Prepare(peerView);
    QCoreApplication::processEvents();

    // The first fill, from an empty view.
    const auto empty = [&] {
        {
            std::lock_guard<CRecursiveTimedMutex> lock(app.Jobs.JobListLock);
            app.Jobs.JobList.clear();
        }
        view.RefreshList(200);
        rebuilding.Refresh(std::chrono::milliseconds(200));
        Fill(app, JOBS);
    };
    const double first = TimeRefresh(
        view, empty, [&] { view.RefreshList(200); }, 3);
    const double firstPeer = TimeRefresh(
        peerView, empty, [&] { rebuilding.Refresh(std::chrono::milliseconds(200)); }, 3);
    std::printf("| first fill of %d rows | %.1f | %.1f | %.2f |\n", JOBS, first, firstPeer,
                first / firstPeer);

    for (const Scenario& scenario : Scenarios(app)) {
        Fill(app, JOBS);
        view.RefreshList(200);
        rebuilding.Refresh(std::chrono::milliseconds(200));
        // Each model sees the same change: the change is made once per round, the peer follows it.
        std::vector<double> ours;
        std::vector<double> peer;
        for (int round = 0; round < 5; ++round) {
            scenario.Change();
            auto start = Clock::now();
            view.RefreshList(200);
            view.viewport()->repaint();
            ours.push_back(Milliseconds(Clock::now() - start));
            start = Clock::now();
            rebuilding.Refresh(std::chrono::milliseconds(200));
            peerView.viewport()->repaint();
            peer.push_back(Milliseconds(Clock::now() - start));
        }
        const double a = Median(ours);
        const double b = Median(peer);
        std::printf("| %s | %.2f | %.1f | %.3f |\n", scenario.Name, a, b, a / b);
    }
    std::printf("\n");
}

struct LoadResult {
    int Refreshes = 0;
    double LateP99 = 0;  // how late a 10 ms timer fires: the window's answer time
    double LateWorst = 0;
    double LockWaitP99 = 0;  // how long an arriving job waits for JobListLock
    double LockWaitWorst = 0;
    double CatchUp = 0;  // from the last arrival until the list shows every job
    bool Complete = false;
};

// Jobs arrive at 1,000 per second for the given time into a list of JOBS, each announced as intake does.
// The notification goes through post; refresh tells how many refreshes were made and how many rows show.
LoadResult Arrivals(CVelmoraVirtualPrinterApp& app, int seconds, const std::function<void()>& post,
                    const std::function<int()>& refreshes, const std::function<int()>& rows) {
    LoadResult result;
    const int before = refreshes();
    const int arrivals = seconds * 1000;
    std::vector<double> waits;
    waits.reserve(static_cast<std::size_t>(arrivals));
    std::atomic<bool> done{false};
    Clock::time_point lastArrival;
    std::thread producer([&] {
        const auto begin = Clock::now();
        for (int i = 0; i < arrivals; ++i) {
            std::this_thread::sleep_until(begin + std::chrono::microseconds(1000 * i));
            const auto start = Clock::now();
            {
                std::lock_guard<CRecursiveTimedMutex> lock(app.Jobs.JobListLock);
                waits.push_back(Milliseconds(Clock::now() - start));
                app.Jobs.JobList.push_back(MakeJob(JOBS + i));
            }
            post();
        }
        lastArrival = Clock::now();
        done = true;
    });

    // The window's answer time: a 10 ms timer, and how late each of its ticks comes.
    std::vector<double> late;
    QElapsedTimer clock;
    clock.start();
    qint64 expected = 10;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        late.push_back(static_cast<double>(std::max<qint64>(0, now - expected)));
        expected = now + 10;
    });
    ticker.start(10);
    const int total = JOBS + arrivals;
    gGiveUpAt = Clock::now() + std::chrono::seconds(seconds) + CATCH_UP_LIMIT;
    while (!(done && rows() == total) && Clock::now() < gGiveUpAt)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ticker.stop();
    producer.join();
    QCoreApplication::processEvents();
    gGiveUpAt = Clock::time_point::max();
    result.Complete = rows() == total;
    result.CatchUp = Milliseconds(Clock::now() - lastArrival);
    result.Refreshes = refreshes() - before;
    std::sort(late.begin(), late.end());
    std::sort(waits.begin(), waits.end());
    if (!late.empty()) {
        result.LateP99 = late[late.size() * 99 / 100];
        result.LateWorst = late.back();
    }
    result.LockWaitP99 = waits[waits.size() * 99 / 100];
    result.LockWaitWorst = waits.back();
    return result;
}

// A receiver that refreshes at every notification, the way a window that handles each message does.
class EveryNotification : public QObject {
  public:
    explicit EveryNotification(std::function<void()> refresh) : refresh_(std::move(refresh)) {}
    void Post() { QCoreApplication::postEvent(this, new QEvent(ui::WM_JOBLIST_CHANGED)); }
    bool event(QEvent* event) override {
        if (event->type() != ui::WM_JOBLIST_CHANGED)
            return QObject::event(event);
        if (Clock::now() < gGiveUpAt)
            refresh_();
        return true;
    }

  private:
    std::function<void()> refresh_;
};

void PrintLoad(const char* name, const LoadResult& r) {
    char catchUp[32] = "not within 10 s";
    if (r.Complete)
        std::snprintf(catchUp, sizeof catchUp, "%.0f", r.CatchUp);
    std::printf("| %s | %d | %.1f | %.1f | %.3f | %.1f | %s |\n", name, r.Refreshes, r.LateP99, r.LateWorst,
                r.LockWaitP99, r.LockWaitWorst, catchUp);
}

void LoadTable(CVelmoraVirtualPrinterApp& app, int seconds) {
    std::printf("1,000 jobs/s for %d s into a list of %d jobs; the window's 10 ms timer, how late it ticks\n",
                seconds, JOBS);
    std::printf(
        "| refreshes | made | timer late p99 (ms) | worst (ms) | arrival lock wait p99 (ms) | worst (ms) | "
        "caught up after last arrival (ms) |\n|---|---|---|---|---|---|---|\n");
    {
        Fill(app, JOBS);
        ui::CVelmoraVirtualPrinterView view(app);
        Prepare(view);
        ui::CJobListNotifier notifier;
        notifier.SetView(&view);
        const LoadResult r = Arrivals(
            app, seconds, [&] { notifier.Post(); }, [&] { return view.RefreshCount(); },
            [&] { return view.model()->rowCount(); });
        PrintLoad("gathered, paced (this view)", r);
    }
    {
        Fill(app, JOBS);
        ui::CVelmoraVirtualPrinterView view(app);
        Prepare(view);
        EveryNotification receiver([&] { view.RefreshList(200); });
        const LoadResult r = Arrivals(
            app, seconds, [&] { receiver.Post(); }, [&] { return view.RefreshCount(); },
            [&] { return view.model()->rowCount(); });
        PrintLoad("peer: this model, one per notification", r);
    }
    {
        Fill(app, JOBS);
        RebuildingModel rebuilding(app);
        QTableView view;
        view.setModel(&rebuilding);
        Prepare(view);
        int count = 0;
        EveryNotification receiver([&] {
            rebuilding.Refresh(std::chrono::milliseconds(200));
            ++count;
        });
        const LoadResult r = Arrivals(
            app, seconds, [&] { receiver.Post(); }, [&] { return count; },
            [&] { return rebuilding.rowCount(); });
        PrintLoad("peer: rebuild every row, one per notification", r);
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int seconds = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::sscanf(argv[i], "--seconds=%d", &seconds) != 1 || seconds < 1) {
            std::fprintf(stderr, "usage: %s [--seconds=S]\n", argv[0]);
            return 2;
        }
    }
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    CVelmoraVirtualPrinterApp app;
    RefreshTable(app);
    LoadTable(app, seconds);
    std::lock_guard<CRecursiveTimedMutex> lock(app.Jobs.JobListLock);
    app.Jobs.JobList.clear();
    return 0;
}
