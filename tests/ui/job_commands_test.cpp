// The job commands of the list: available by the state of the last selected job, run on every selected
// job; the context menu by the state of the first selected job; double-click holds and opens the file.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <QKeyEvent>
#include <QMenu>

#include <filesystem>

#include "platform/ansi.h"
#include "ui/command_ids.h"
#include "ui/job_list_view.h"
#include "ui_fixture.h"

namespace velmora {
namespace {

using ui::CVelmoraVirtualPrinterView;
using ui::ID_JOB_DELETE;
using ui::ID_JOB_RELEASE;
using ui::ID_JOB_STOP;
using ui::ID_JOB_TRANSFER;

constexpr int JOB_COMMANDS[] = {ID_JOB_RELEASE, ID_JOB_STOP, ID_JOB_DELETE, ID_JOB_TRANSFER};

class JobCommandsTest : public test::UiFixture {
  protected:
    // One job in each state, in state order.
    void AddJobInEveryState() {
        for (int32_t state = STATE_READY; state <= STATE_ERROR; ++state)
            jobs_.push_back(AddJob("job" + std::to_string(state) + ".tmp", state));
    }

    static std::vector<bool> Enabled(const CVelmoraVirtualPrinterView& view) {
        std::vector<bool> enabled;
        for (const int command : JOB_COMMANDS)
            enabled.push_back(view.IsJobCommandEnabled(command));
        return enabled;
    }

    // The texts of a menu's items, "-" for a separator.
    static std::vector<std::string> Items(const QMenu& menu) {
        std::vector<std::string> items;
        for (const QAction* action : menu.actions())
            items.push_back(action->isSeparator() ? "-" : action->text().toStdString());
        return items;
    }

    std::vector<SpoolFilePtr> jobs_;
};

TEST_F(JobCommandsTest, AvailabilityFollowsTheStateOfTheLastSelectedJob) {
    AddJobInEveryState();
    CVelmoraVirtualPrinterView view(*app_);
    EXPECT_EQ(view.SelectedJob(), 0u);
    EXPECT_EQ(Enabled(view), (std::vector<bool>{false, false, false, false}));

    //                                       Release Stop   Delete Transfer
    const std::vector<bool> expected[] = {{false, true, true, true},    // Ready
                                          {true, false, true, true},    // Held
                                          {true, false, true, true},    // Saved
                                          {false, true, false, false},  // Printing
                                          {true, false, true, true}};   // Error
    for (int row = 0; row < 5; ++row) {
        SelectRows(view, {row});
        EXPECT_EQ(view.SelectedJob(), jobs_[static_cast<std::size_t>(row)]->Id());
        EXPECT_EQ(Enabled(view), expected[row]) << "state " << row;
    }
    // Several rows: the last one in list order decides, whatever order they were selected in.
    SelectRows(view, {4, 3});
    EXPECT_EQ(view.SelectedJob(), jobs_[4]->Id());
    EXPECT_EQ(Enabled(view), expected[4]);
    SelectRows(view, {4, 0, 3});
    EXPECT_EQ(Enabled(view), expected[4]);

    // Keys move the selection as clicks do.
    view.show();
    SelectRows(view, {1});
    view.setCurrentIndex(view.model()->index(1, 0));
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &down);
    EXPECT_EQ(view.SelectedJob(), jobs_[2]->Id());
}

TEST_F(JobCommandsTest, CommandsActOnEverySelectedJob) {
    AddJobInEveryState();
    const SpoolFilePtr extra = AddJob("extra.tmp", STATE_READY);
    CVelmoraVirtualPrinterView view(*app_);

    // Release: Held, Saved and Error become Ready.
    SelectRows(view, {1, 2, 4});
    view.OnJobCommand(ID_JOB_RELEASE);
    for (const std::size_t i : {1u, 2u, 4u})
        EXPECT_EQ(StateOf(jobs_[i]), STATE_READY) << i;
    EXPECT_EQ(StateOf(jobs_[3]), STATE_PRINTING);
    EXPECT_EQ(view.model()->index(1, 0).data().toString(), "Ready");

    // Stop: Ready and Printing become Held.
    SelectRows(view, {0, 3});
    view.OnJobCommand(ID_JOB_STOP);
    EXPECT_EQ(StateOf(jobs_[0]), STATE_HELD);
    EXPECT_EQ(StateOf(jobs_[3]), STATE_HELD);

    // Transfer: the dialog once per selected job, each moved to the printer chosen.
    std::vector<JobId> asked;
    view.SetTransferChooser([&](const CSpoolFile& job, std::u16string* printerName) {
        asked.push_back(job.Id());
        *printerName = u"OTHER";
        return true;
    });
    SelectRows(view, {1, 5});
    view.OnJobCommand(ID_JOB_TRANSFER);
    EXPECT_EQ(asked, (std::vector<JobId>{jobs_[1]->Id(), extra->Id()}));
    EXPECT_EQ(view.model()->index(1, 6).data().toString(), "OTHER");
    EXPECT_EQ(view.model()->index(5, 6).data().toString(), "OTHER");
    EXPECT_EQ(view.model()->index(2, 6).data().toString(), "PASS");

    // Delete: the jobs, their files and their rows go.
    SelectRows(view, {0, 2, 5});
    view.OnJobCommand(ID_JOB_DELETE);
    EXPECT_EQ(JobCount(), 3u);
    EXPECT_FALSE(std::filesystem::exists(platform::UnicodeToAnsi(jobs_[0]->LocalFileName)));
    EXPECT_FALSE(std::filesystem::exists(platform::UnicodeToAnsi(extra->LocalFileName)));
    EXPECT_TRUE(std::filesystem::exists(platform::UnicodeToAnsi(jobs_[1]->LocalFileName)));
    ASSERT_EQ(view.model()->rowCount(), 3);
    EXPECT_EQ(view.Model().JobAt(0), jobs_[1]->Id());
    EXPECT_EQ(view.Model().JobAt(2), jobs_[4]->Id());

    // A command that the selected job does not allow does nothing.
    app_->Jobs.ApplyJobAction(JOB_RELEASE, jobs_[4]->Id(), false);
    view.RefreshList(200);
    SelectRows(view, {1, 2});
    ASSERT_FALSE(view.IsJobCommandEnabled(ID_JOB_RELEASE));
    view.OnJobCommand(ID_JOB_RELEASE);
    EXPECT_EQ(StateOf(jobs_[3]), STATE_HELD);
    EXPECT_EQ(JobCount(), 3u);
}

TEST_F(JobCommandsTest, ContextMenuOffersWhatTheStateOfTheFirstSelectedJobAllows) {
    AddJobInEveryState();
    CVelmoraVirtualPrinterView view(*app_);

    EXPECT_EQ(view.CreateContextMenu(), nullptr);
    EXPECT_EQ(view.SelectedJob(), 0u);

    const std::vector<std::string> expected[] = {{"S&top", "-", "&Delete", "-", "&Transfer"},      // Ready
                                                 {"&Release", "-", "&Delete", "-", "&Transfer"},   // Held
                                                 {"&Release", "-", "&Delete", "-", "&Transfer"},   // Saved
                                                 {"S&top", "-", "-"},                              // Printing
                                                 {"&Release", "-", "&Delete", "-", "&Transfer"}};  // Error
    for (int row = 0; row < 5; ++row) {
        SelectRows(view, {row});
        const std::unique_ptr<QMenu> menu = view.CreateContextMenu();
        ASSERT_NE(menu, nullptr) << row;
        EXPECT_EQ(Items(*menu), expected[row]) << "state " << row;
        for (const QAction* action : menu->actions())
            EXPECT_TRUE(action->isEnabled()) << "state " << row;
    }

    // The first selected job decides the items; the chosen one acts on every selected job.
    SelectRows(view, {1, 4, 0});
    std::unique_ptr<QMenu> menu = view.CreateContextMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(view.SelectedJob(), jobs_[0]->Id());
    EXPECT_EQ(Items(*menu), expected[0]);
    SelectRows(view, {1, 4});
    menu = view.CreateContextMenu();
    ASSERT_NE(menu, nullptr);
    menu->actions().front()->trigger();
    EXPECT_EQ(StateOf(jobs_[1]), STATE_READY);
    EXPECT_EQ(StateOf(jobs_[4]), STATE_READY);

    // The state now counts, not the state last shown; a job that has left the list has no menu.
    app_->Jobs.ApplyJobAction(JOB_HOLD, jobs_[0]->Id(), false);
    SelectRows(view, {0});
    menu = view.CreateContextMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(Items(*menu), expected[1]);
    app_->Jobs.ApplyJobAction(JOB_DELETE, jobs_[0]->Id(), false);
    EXPECT_EQ(view.CreateContextMenu(), nullptr);
}

TEST_F(JobCommandsTest, DoubleClickHoldsTheJobAndOpensItsFileWithTheDefaultApplication) {
    // The desktop's opener, standing in for xdg-open: it notes the file it is asked to open.
    const std::string bin = folder_.File("bin");
    std::filesystem::create_directory(bin);
    const std::string opened = folder_.File("opened");
    test::WriteFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > " + opened + ".part && mv " + opened +
                                           ".part " + opened + "\n");
    chmod((bin + "/xdg-open").c_str(), 0755);
    const std::string path = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", (bin + ":" + path).c_str(), 1);

    AddJob("first.tmp", STATE_SAVED);
    const SpoolFilePtr job = AddJob("with space's \"name\".pdf", STATE_READY);
    CVelmoraVirtualPrinterView view(*app_);
    view.resize(900, 300);
    view.show();
    SendMouse(view, 1, QEvent::MouseButtonPress);
    SendMouse(view, 1, QEvent::MouseButtonRelease);
    SendMouse(view, 1, QEvent::MouseButtonDblClick);
    SendMouse(view, 1, QEvent::MouseButtonRelease);

    EXPECT_EQ(view.SelectedJob(), job->Id());
    EXPECT_EQ(StateOf(job), STATE_HELD);
    EXPECT_EQ(view.model()->index(1, 0).data().toString(), "Held");
    EXPECT_TRUE(WaitFor([&] { return std::filesystem::exists(opened); }));
    EXPECT_EQ(test::ReadFile(opened), platform::UnicodeToAnsi(job->LocalFileName));
    setenv("PATH", path.c_str(), 1);
}

}  // namespace
}  // namespace velmora
