// A fresh application object (test::AppFixture) with a Qt application on the offscreen platform, and
// helpers to fill the job list and to wait while the message loop runs.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QMouseEvent>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "resources/string_table.h"
#include "support/app_fixture.h"
#include "text/format.h"
#include "ui/job_list_view.h"

namespace velmora::test {

class UiFixture : public AppFixture {
  public:
    // Runs the message loop until the condition holds or the time is over; the condition's last value.
    template <typename Condition>
    static bool WaitFor(Condition condition, int milliseconds = 10000) {
        return WaitUntil(condition, milliseconds, [] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        });
    }

  protected:
    void SetUp() override {
        AppFixture::SetUp();
        application_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override {
        application_.reset();
        SetThreadLanguage(Language::English);
        AppFixture::TearDown();
    }

    // A job as intake leaves it, appended to JobList. Its data file exists in the spool folder.
    SpoolFilePtr AddJob(const std::string& name, int32_t state = STATE_READY,
                        const std::u16string& printer = u"PASS") {
        auto job = std::make_shared<CSpoolFile>();
        const std::string path = folder_.File(name);
        WriteFile(path, "data of " + name);
        job->DocumentName = U16(name);
        job->Owner = u"accounting";
        job->DateInserted = u"Sun Dec  6 12:00:00 2026";
        job->FileSize = u"12 bytes";
        job->FileType = u"PDF";
        job->PrinterName = printer;
        job->LocalFileName = U16(path);
        job->SetState(state);
        std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
        app_->Jobs.AppendJob(job);
        return job;
    }

    int32_t StateOf(const SpoolFilePtr& job) {
        std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
        return job->State;
    }

    std::size_t JobCount() {
        std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
        return app_->Jobs.JobList.size();
    }

    // Selects exactly the given rows of the view, as clicks with Ctrl held would.
    static void SelectRows(ui::CVelmoraVirtualPrinterView& view, std::initializer_list<int> rows) {
        view.clearSelection();
        for (const int row : rows) {
            view.selectionModel()->select(view.model()->index(row, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }

    // A mouse event on a row's first cell, as the list's viewport receives it.
    static void SendMouse(ui::CVelmoraVirtualPrinterView& view, int row, QEvent::Type type,
                          Qt::MouseButton button = Qt::LeftButton) {
        const QPoint position = view.visualRect(view.model()->index(row, 1)).center();
        const Qt::MouseButtons buttons =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent event(type, position, view.viewport()->mapToGlobal(position), button, buttons,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(view.viewport(), &event);
    }

  private:
    int argc_ = 1;
    char name_[16] = "velmora-ui-test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

}  // namespace velmora::test
