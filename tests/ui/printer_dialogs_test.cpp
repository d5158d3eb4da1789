// The printer dialogs against a private CUPS server whose queues are this machine's printers: "Server
// configuration", and the job dialogs Transfer, Copy to printer and Send via LPR (this system's LPD server).
#include <gtest/gtest.h>
#include <QComboBox>
#include <QListWidget>
#include <QRadioButton>

#include <sstream>

#include "config/printer_setting.h"
#include "platform/ansi.h"
#include "resources/dialog_string_ids.h"
#include "support/cups_server.h"
#include "support/lpd_server_fixture.h"
#include "text/format.h"
#include "ui/dialog_configure_server.h"
#include "ui/dialog_configure_spool.h"
#include "ui/dialog_ip_address.h"
#include "ui/dialog_printer_lpr.h"
#include "ui/dialogs.h"
#include "ui/ui_test_support.h"

namespace velmora {
namespace {

using test::AnswerMessageBox, test::Child, test::ChooseFile, test::Click, test::FinishEditing, test::Q,
    test::ShownMessage, test::WhenModal, ui::CDialogConfigureServeur;

constexpr char DEFAULT_QUEUE[] = "Office_Laser";
// The controls whose enabled state the dialog manages, in groups: every printer's, each mode's, the rest.
constexpr char CONTROLS[] =
    "PrinterNameList NewButton DeleteButton | LocalModeRadio LocalPrinterList InputBinEdit OutputBinEdit | "
    "ProgramModeRadio ProgramPrinterList ProgramEdit ParametersButton | LpdModeRadio IpAddressControl "
    "QueueNameEdit | HoldJobsCheck StatusPortEdit SaveButton CancelButton";
constexpr char NOTHING_SELECTED[] = ".+. .... .... ... ..++";
constexpr char LOCAL_MODE[] = "+++ ++++ +... +.. ++++";

// "+" for an enabled control, "." for a disabled one, in CONTROLS order.
std::string Enabled(const QWidget* dialog) {
    std::string enabled;
    std::istringstream names(CONTROLS);
    for (std::string name; names >> name;)
        enabled += name == "|" ? ' ' : Child<QWidget>(dialog, name.c_str())->isEnabled() ? '+' : '.';
    return enabled;
}

// The record as its line of Printer.cfg.
std::u16string Line(const CPrinterSetting& r) {
    const auto padded = [](const std::u16string& value) { return value.empty() ? u" " : value; };
    return Format(u"%s;%d;%s;%s;%d;%s;%s;%s;%s;%s;%s\r\n", r.Name, r.OutputMode, padded(r.ProgramCommand),
                  padded(r.ProgramPrinter), r.HoldJobs, padded(r.StatusPort), padded(r.LocalPrinter),
                  padded(r.IPAddress), padded(r.QueueName), padded(r.InputBin), padded(r.OutputBin));
}

class ServerConfigurationDialogTest : public test::WithQt<test::AppFixture> {
  protected:
    static void SetUpTestSuite() {
        server_ = new test::CupsServer();
        // Nothing is printed here: every queue points at the discard port.
        bool ready = server_->Start();
        for (const char* queue : {"Zeta_Raw", DEFAULT_QUEUE, "alpha_raw"})
            ready = ready && server_->AddRawQueue(queue, "socket://127.0.0.1:9");
        if (!ready || !server_->SetDefaultQueue(DEFAULT_QUEUE))
            failure_ = server_->Failure();
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
        failure_.clear();
    }
    void SetUp() override {
        WithQt::SetUp();
        ASSERT_TRUE(failure_.empty()) << failure_;
    }
    PrinterRecords Published() const { return *app_->PrinterList.Snapshot(); }
    // Printer.cfg with those lines, loaded as the program loads it.
    void Load(const std::u16string& lines) {
        test::WriteFile(platform::UnicodeToAnsi(app_->PrinterConfig.Path()), platform::UnicodeToAnsi(lines));
        app_->LoadPrinterConfig();
    }
    std::u16string PrinterCfg() const {
        return test::U16(test::ReadFile(platform::UnicodeToAnsi(app_->PrinterConfig.Path())));
    }
    bool Holds(const std::u16string& name) const {
        bool hold = false;
        EXPECT_TRUE(app_->PrinterList.FindVirtualPrinter(name, &hold)) << test::Q(name).toStdString();
        return hold;
    }
    // "New" with the name typed and the button clicked; the message boxes that follow answered.
    static std::vector<ShownMessage> ClickNew(QWidget* dialog, const QString& name, int messages = 0,
                                              const char* button = "OkButton") {
        std::vector<ShownMessage> shown;
        WhenModal(
            [&shown, name, messages, button, above = QApplication::activeModalWidget()](QWidget* modal) {
                Child<QLineEdit>(modal, "NewPrinterNameEdit")->setText(name);
                for (int i = 0; i < messages; ++i)
                    AnswerMessageBox(&shown, above);
                Click(modal, button);
            });
        Click(dialog, "NewButton");
        return shown;
    }
    static inline test::CupsServer* server_ = nullptr;
    static inline std::string failure_;
};

TEST_F(ServerConfigurationDialogTest,
       FirstVirtualPrinterTakesTheInitialValuesAndTheNextOneCopiesTheShownOne) {
    CDialogConfigureServeur dialog(app_->PrinterList);
    EXPECT_EQ(Enabled(&dialog), NOTHING_SELECTED);
    // This machine's printers, sorted without regard to case, the default one selected.
    for (const char* name : {"LocalPrinterList", "ProgramPrinterList"}) {
        auto* list = Child<QComboBox>(&dialog, name);
        EXPECT_EQ(QStringList({list->itemText(0), list->itemText(1), list->itemText(2), list->itemText(3),
                               list->currentText()}),
                  QStringList({"alpha_raw", DEFAULT_QUEUE, "Zeta_Raw", "", DEFAULT_QUEUE}));
    }
    EXPECT_FALSE(Child<QLineEdit>(&dialog, "StatusPortEdit")->isVisibleTo(&dialog));
    ClickNew(&dialog, "PASS");
    ASSERT_EQ(Published().size(), 1u);
    EXPECT_EQ(Line(Published()[0]),
              u"PASS;0;\"/usr/bin/lp\" -d %2 %1;Office_Laser;0; ;Office_Laser;0.0.0.0; ; ; \r\n");
    EXPECT_EQ(Enabled(&dialog), LOCAL_MODE);
    EXPECT_FALSE(Holds(u"PASS"));  // the LPD server sees the new queue at once
    // Edit the first one, then create a second while it is shown.
    Click(&dialog, "LpdModeRadio");
    FinishEditing(Child<QLineEdit>(&dialog, "QueueNameEdit"), "REMOTE");
    test::TypeAddress(&dialog, {"10", "1", "2", "3"});
    Click(&dialog, "HoldJobsCheck");
    const std::u16string edited =
        u"PASS;2;\"/usr/bin/lp\" -d %2 %1;Office_Laser;1; ;Office_Laser;10.1.2.3;REMOTE; ; \r\n";
    EXPECT_EQ(Line(Published()[0]), edited);
    EXPECT_TRUE(Holds(u"PASS"));
    ClickNew(&dialog, "COPY");
    ASSERT_EQ(Published().size(), 2u);
    EXPECT_EQ(u"PASS" + Line(Published()[1]).substr(4), edited);
    EXPECT_EQ(Child<QComboBox>(&dialog, "PrinterNameList")->currentText(), "COPY");
}

TEST_F(ServerConfigurationDialogTest, EachOutputModeEnablesItsOwnControlsAndKeepsTheOthersValues) {
    const std::u16string pass = u"PASS;0;/usr/bin/lp -d %2 %1;alpha_raw;0; ;Zeta_Raw;0.0.0.0; ;4;2\r\n";
    Load(pass);
    CDialogConfigureServeur dialog(app_->PrinterList);
    EXPECT_EQ(Child<QComboBox>(&dialog, "LocalPrinterList")->currentText(), "Zeta_Raw");
    EXPECT_EQ(Child<QComboBox>(&dialog, "ProgramPrinterList")->currentText(), "alpha_raw");
    EXPECT_EQ(Child<QLineEdit>(&dialog, "InputBinEdit")->text(), "4");
    EXPECT_EQ(Enabled(&dialog), LOCAL_MODE);
    // A printer chosen in a list is stored at once.
    Child<QComboBox>(&dialog, "LocalPrinterList")->setCurrentText("alpha_raw");
    EXPECT_EQ(Published()[0].LocalPrinter, u"alpha_raw");
    Click(&dialog, "ProgramModeRadio");
    EXPECT_EQ(Enabled(&dialog), "+++ +... ++++ +.. ++++");
    const ShownMessage parameters = test::MessageDuring([&] { Click(&dialog, "ParametersButton"); });
    EXPECT_TRUE(parameters.Text.startsWith("List of available parameters :\n\n%1 : Local file name\n"));
    Click(&dialog, "LpdModeRadio");
    EXPECT_EQ(Enabled(&dialog), "+++ +... +... +++ ++++");
    FinishEditing(Child<QLineEdit>(&dialog, "QueueNameEdit"), "RAW");
    // Switching to LPD keeps the local printer, the bins and the program in the record.
    const std::u16string expected =
        u"PASS;2;/usr/bin/lp -d %2 %1;alpha_raw;0; ;alpha_raw;0.0.0.0;RAW;4;2\r\n";
    EXPECT_EQ(Line(Published()[0]), expected);
    // Save writes the file.
    EXPECT_EQ(PrinterCfg(), pass);
    WhenModal([](QWidget* modal) { Click(modal, "SaveButton"); });
    ui::OnServerConfiguration(*app_, nullptr);
    EXPECT_EQ(PrinterCfg(), expected);
}

TEST_F(ServerConfigurationDialogTest, NewRefusesBlankDuplicateAndUnstorableNames) {
    // Two records of the same name: each match is reported.
    Load(u"PASS;0; ; ;0; ; ; ; ; ; \r\nPASS;0; ; ;0; ; ; ; ; ; \r\n");
    CDialogConfigureServeur dialog(app_->PrinterList);
    const struct {
        const char* Name;
        int Messages;
        QString Text;
    } refused[] = {{"", 1, "The printer name cannot be blank."},
                   {"PASS", 2, "The printer already exists."},
                   {"LINE;BREAK", 1, Q(LoadString(IDS_DLG_NAME_NOT_STORABLE))},
                   {"TWO\nLINES", 1, Q(LoadString(IDS_DLG_NAME_NOT_STORABLE))}};
    for (const auto& each : refused) {
        SCOPED_TRACE(each.Name);
        const std::vector<ShownMessage> shown = ClickNew(&dialog, each.Name, each.Messages);
        ASSERT_EQ(shown.size(), static_cast<std::size_t>(each.Messages));
        EXPECT_EQ(shown.back().Text, each.Text);
        EXPECT_EQ(shown.back().Caption, "VelmoraVirtualPrinter");
    }
    ClickNew(&dialog, "NEVER", 0, "CancelButton");
    EXPECT_EQ(Published().size(), 2u);
    // Names are compared exactly: another letter case is another queue.
    ClickNew(&dialog, "pass");
    ASSERT_EQ(Published().size(), 3u);
    EXPECT_EQ(Published()[2].Name, u"pass");
}

TEST_F(ServerConfigurationDialogTest,
       DeleteSelectsTheFirstRemainingPrinterAndSaveOrCancelDecideAboutTheFile) {
    const std::u16string saved =
        u"FIRST;1; ;Zeta_Raw;0; ; ; ; ; ; \r\nSECOND;2; ; ;0; ; ;192.168.7.7; ; ; \r\n";
    Load(saved);
    // Delete the second, then Cancel: memory changes at once, the file does not.
    WhenModal([](QWidget* modal) {
        auto* names = Child<QComboBox>(modal, "PrinterNameList");
        names->setCurrentIndex(1);
        Click(modal, "DeleteButton");
        EXPECT_EQ(names->currentText() + Child<QComboBox>(modal, "ProgramPrinterList")->currentText(),
                  "FIRSTZeta_Raw");
        EXPECT_TRUE(Child<QRadioButton>(modal, "ProgramModeRadio")->isChecked());
        Click(modal, "CancelButton");
    });
    ui::OnServerConfiguration(*app_, nullptr);
    ASSERT_EQ(Published().size(), 1u);
    EXPECT_EQ(Published()[0].Name, u"FIRST");
    EXPECT_EQ(PrinterCfg(), saved);
    // Delete the last one: only New, Save and Cancel stay usable; Save writes the empty list.
    WhenModal([](QWidget* modal) {
        Click(modal, "DeleteButton");
        EXPECT_EQ(Enabled(modal), NOTHING_SELECTED);
        Click(modal, "DeleteButton");  // without a selection: nothing
        Click(modal, "SaveButton");
    });
    ui::OnServerConfiguration(*app_, nullptr);
    EXPECT_TRUE(Published().empty());
    EXPECT_EQ(PrinterCfg(), u"");
    EXPECT_TRUE(messages_.empty());
}

TEST_F(ServerConfigurationDialogTest, TextsThatPrinterCfgCannotHoldAreRefusedAndThePreviousValueKept) {
    const std::u16string pass = u"PASS;1;/usr/bin/lp -d %2 %1;Zeta_Raw;0; ;Zeta_Raw;0.0.0.0;LP1;7;1\r\n";
    Load(pass);
    CDialogConfigureServeur dialog(app_->PrinterList);
    const struct {
        const char* Edit;
        QString Text;
        const char16_t* Label;
        QString Previous;
    } cases[] = {
        {"ProgramEdit", "/usr/bin/lp -d %2 %1; rm -rf /", u"Program", "/usr/bin/lp -d %2 %1"},
        {"QueueNameEdit", "LP;2", u"Queue name", "LP1"},
        {"InputBinEdit", "7\r", u"Input bin", "7"},
        {"OutputBinEdit", "\n", u"Output bin", "1"},
        {"StatusPortEdit", "9100;", u"Status port", ""},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.Edit);
        auto* edit = Child<QLineEdit>(&dialog, each.Edit);
        const ShownMessage shown = test::MessageDuring([&] { FinishEditing(edit, each.Text); });
        EXPECT_EQ(shown.Text, Q(Format(LoadString(IDS_DLG_VALUE_NOT_STORABLE), each.Label)));
        EXPECT_EQ(edit->text(), each.Previous);
    }
    EXPECT_EQ(Line(Published()[0]), pass);
    // In the thread's language, the control is named by its label without the colon.
    SetThreadLanguage(Language::French);
    CDialogConfigureServeur translated(app_->PrinterList);
    const ShownMessage shown =
        test::MessageDuring([&] { FinishEditing(Child<QLineEdit>(&translated, "QueueNameEdit"), "Q;"); });
    EXPECT_EQ(shown.Text, Q(Format(LoadString(IDS_DLG_VALUE_NOT_STORABLE), u"Nom de la file")));
}

// Answers a printer list dialog: notes its entries and current one, chooses (-1: none, KEEP: as is), clicks
// OK or Cancel, and answers the message box that follows into shown.
constexpr int KEEP = -2;
void ChoosePrinter(int choice, bool ok, QStringList* entries = nullptr,
                   std::vector<ShownMessage>* shown = nullptr) {
    WhenModal(
        [=](QWidget* modal) {
            auto* list = Child<QComboBox>(modal, "PrinterList");
            for (int i = 0; entries && i < list->count(); ++i)
                entries->append(list->itemText(i));
            if (entries)
                entries->append(list->currentIndex() >= 0 ? list->currentText() : QStringLiteral("<none>"));
            if (choice != KEEP)
                list->setCurrentIndex(choice);
            if (shown)
                AnswerMessageBox(shown, nullptr);
            Click(modal, ok ? "OkButton" : "CancelButton");
        },
        nullptr);
}

using JobDialogTest = test::WithQt<test::AppFixture>;

TEST_F(JobDialogTest, TransferShowsTheJobAndMovesItToTheChosenVirtualPrinterOnOkOnly) {
    PrinterRecords printers;
    for (const char16_t* name : {u"Zeta", u"PASS", u"archive", u"pass"})
        printers.emplace_back().Name = name;
    app_->PrinterList.Replace(printers);
    CSpoolFile job;
    job.SetState(STATE_ERROR);
    // The job's fields in the order the dialog shows them, a line each, the state second.
    using F = CSpoolFile;
    std::u16string F::*const fields[] = {
        &F::DocumentName, &F::Owner,         &F::DateInserted,     &F::FileSize,   &F::FileType,
        &F::PrinterName,  &F::LocalFileName, &F::ReceivedFileName, &F::SourceHost, &F::ControlFile,
        &F::JobName,      &F::JobClass,      &F::ErrorText};
    for (std::size_t i = 0; i < std::size(fields); ++i)
        job.*fields[i] = std::u16string(1, static_cast<char16_t>(u'a' + i));
    {
        ui::CDialogConfigureSpool dialog(*app_->PrinterList.Snapshot(), job);
        auto* lines = Child<QListWidget>(&dialog, "InformationList");
        QString shown;
        for (int i = 0; i < lines->count(); ++i)
            shown += lines->item(i)->text() + " ";
        EXPECT_EQ(shown, "a Error b c d e f g h i j k l m ");
    }
    const auto transfer = [&](int choice, bool ok, QStringList* entries = nullptr) {
        ChoosePrinter(choice, ok, entries);
        std::u16string printerName;
        if (ui::RunTransferDialog(app_->PrinterList, nullptr, job, &printerName))
            job.PrinterName = printerName;
    };
    // Sorted names, the job's own virtual printer preselected by its exact name; Cancel changes nothing.
    job.PrinterName = u"pass";
    QStringList entries;
    transfer(3, /*ok=*/false, &entries);
    EXPECT_EQ(entries, QStringList({"archive", "PASS", "pass", "Zeta", "pass"}));
    EXPECT_EQ(job.PrinterName, u"pass");
    transfer(1, /*ok=*/true);
    EXPECT_EQ(job.PrinterName, u"PASS");
    // A job whose virtual printer is gone: nothing is preselected, and OK without a choice empties it.
    job.PrinterName = u"REMOVED";
    entries.clear();
    transfer(KEEP, /*ok=*/true, &entries);
    EXPECT_EQ(entries.back(), "<none>");
    EXPECT_EQ(job.PrinterName, u"");
}

TEST_F(JobDialogTest, CopyToPrinterSendsTheChosenFileUnchangedOrShowsPrinterNotFound) {
    test::FakePrinter printer;
    test::CupsServer server;
    ASSERT_TRUE(printer.Listening());
    ASSERT_TRUE(server.Start() && server.AddRawQueue("Desk_Raw", printer.DeviceUri()) &&
                server.AddRawQueue("Archive_Raw", "socket://127.0.0.1:9") &&
                server.SetDefaultQueue("Desk_Raw"))
        << server.Failure();
    const std::string file = folder_.File("invoice 42.pcl");
    const auto copyToPrinter = [&file](int choice, bool ok, QStringList* entries = nullptr,
                                       std::vector<ShownMessage>* shown = nullptr) {
        ChooseFile(file, [=] { ChoosePrinter(choice, ok, entries, shown); });
        ui::CopyFileToPrinter(nullptr);
    };
    // Cancel sends nothing; neither does a printer that cannot be opened, which is reported.
    test::WriteFile(file, "never printed");
    copyToPrinter(KEEP, /*ok=*/false);
    std::vector<ShownMessage> shown;
    copyToPrinter(-1, /*ok=*/true, nullptr, &shown);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, "Printer not found.");
    // The printers of this machine, sorted, the default one preselected; the bytes go raw, no bin rewritten.
    std::string data = "\033E\033&l4Hpage\f";
    for (int i = 0; i < 5000; ++i)
        data.push_back(static_cast<char>(i & 0xFF));
    test::WriteFile(file, data);
    QStringList entries;
    copyToPrinter(KEEP, /*ok=*/true, &entries);
    EXPECT_EQ(entries, QStringList({"Archive_Raw", "Desk_Raw", "Desk_Raw"}));
    std::string document;
    ASSERT_TRUE(printer.NextDocument(&document)) << server.ErrorLog();
    EXPECT_EQ(document, data);  // the first document the printer received
}

class SendViaLprTest : public test::WithQt<test::LpdServerFixture> {
  protected:
    // Sends the file to the queue (at the address typed, if any); the message box that follows into shown.
    void Send(const std::string& file, const QString& queue, bool ok, const QStringList& address = {},
              std::vector<ShownMessage>* shown = nullptr, QStringList* destination = nullptr) {
        ChooseFile(file, [=] {
            WhenModal(
                [=](QWidget* modal) {
                    auto* queueEdit = Child<QLineEdit>(modal, "QueueNameEdit");
                    if (destination)
                        *destination = {Child<ui::CIpAddressEdit>(modal, "IpAddressControl")->Text(),
                                        queueEdit->text()};
                    test::TypeAddress(modal, address);
                    queueEdit->setText(queue);
                    if (shown)
                        AnswerMessageBox(shown, nullptr);
                    Click(modal, ok ? "OkButton" : "CancelButton");
                },
                nullptr);
        });
        ui::SendFileByLprToPort(nullptr, port_);
    }
};

TEST_F(SendViaLprTest, TheFileArrivesAsAJobOrTheClientsErrorTextIsShown) {
    const std::string file = folder_.File("statement.txt");
    test::WriteFile(file, "Statement of account\nline two\n\f");
    QStringList destination;
    Send(file, "PASS", /*ok=*/true, {}, nullptr, &destination);
    EXPECT_EQ(destination, QStringList({"127.0.0.1", "PASS"}));
    ASSERT_EQ(WaitForJobs(1), 1u);
    EXPECT_EQ(test::ReadFile(platform::UnicodeToAnsi(Job(0)->LocalFileName)), test::ReadFile(file));
    EXPECT_EQ(Job(0)->PrinterName, u"PASS");
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "\nNstatement.txt\n",
                        platform::UnicodeToAnsi(Job(0)->ControlFile));
    // The queue and the address typed are the ones used.
    Send(file, "HOLD", /*ok=*/true, {"127", "0", "0", "1"});
    ASSERT_EQ(WaitForJobs(2), 2u);
    EXPECT_EQ(Job(1)->PrinterName, u"HOLD");
    Send(file, "PASS", /*ok=*/false);
    WaitForSessions();
    EXPECT_EQ(JobCount(), 2u);
    // A queue the server does not have, and then no server: the forwarding client's text.
    std::vector<ShownMessage> shown;
    Send(file, "NOPE", /*ok=*/true, {}, &shown);
    app_->LpdServer.StopLpdServer();
    Send(file, "PASS", /*ok=*/true, {}, &shown);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].Text, "The print request is rejected");
    EXPECT_EQ(shown[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(shown[1].Text, "Connection refused");
}

}  // namespace
}  // namespace velmora
