// The job dialogs on the offscreen platform: Transfer, Copy to printer against a private CUPS server, and
// Send via LPR against this system's own LPD server.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <memory>
#include <string>
#include <vector>

#include "platform/ansi.h"
#include "resources/dialog_string_ids.h"
#include "resources/string_ids.h"
#include "resources/string_table.h"
#include "spool/spool_file.h"
#include "support/app_fixture.h"
#include "support/cups_server.h"
#include "support/lpd_server_fixture.h"
#include "support/test_util.h"
#include "ui/dialog_configure_spool.h"
#include "ui/dialog_ip_address.h"
#include "ui/dialog_print_windows.h"
#include "ui/dialog_printer_lpr.h"
#include "ui/dialog_test_support.h"
#include "ui/dialogs.h"

namespace velmora {
namespace {

using test::AnswerMessageBox;
using test::Child;
using test::ChooseFile;
using test::Q;
using test::ShownMessage;
using test::WhenModal;

// Transfer.

class TransferDialogTest : public test::AppFixture {
  protected:
    void SetUp() override {
        AppFixture::SetUp();
        qt_ = std::make_unique<test::QtApplicationScope>();
        PrinterRecords printers(4);
        printers[0].Name = u"Zeta";
        printers[1].Name = u"PASS";
        printers[2].Name = u"archive";
        printers[3].Name = u"pass";
        app_->PrinterList.Replace(printers);

        job_ = std::make_shared<CSpoolFile>();
        job_->DocumentName = u"report.pdf";
        job_->SetState(STATE_ERROR);
        job_->Owner = u"alice";
        job_->DateInserted = u"2024/03/01 10:11:12";
        job_->FileSize = u"1234 bytes";
        job_->FileType = u"PDF";
        job_->PrinterName = u"pass";
        job_->LocalFileName = u"/var/spool/pass/20240301101112_1.pdf";
        job_->ReceivedFileName = u"dfA001host";
        job_->SourceHost = u"host";
        job_->ControlFile = u"Hhost";
        job_->JobName = u"Quarterly";
        job_->JobClass = u"A";
        job_->ErrorText = u"Connection refused";
    }
    void TearDown() override {
        qt_.reset();
        AppFixture::TearDown();
    }

    // Runs the transfer of the job, choosing the entry (-1: none) and ending with OK or Cancel.
    void Transfer(int choice, bool ok, QStringList* entries = nullptr, QString* preselected = nullptr) {
        WhenModal([=](QWidget* modal) {
            auto* list = Child<QComboBox>(modal, "PrinterList");
            if (entries) {
                for (int i = 0; i < list->count(); ++i)
                    entries->append(list->itemText(i));
            }
            if (preselected)
                *preselected = list->currentIndex() >= 0 ? list->currentText() : QStringLiteral("<none>");
            if (choice != -2)
                list->setCurrentIndex(choice);
            Child<QPushButton>(modal, ok ? "OkButton" : "CancelButton")->click();
        });
        std::u16string printerName;
        if (ui::RunTransferDialog(app_->PrinterList, nullptr, *job_, &printerName))
            job_->PrinterName = printerName;
    }

    std::unique_ptr<test::QtApplicationScope> qt_;
    SpoolFilePtr job_;
};

TEST_F(TransferDialogTest, TheJobMovesToTheChosenVirtualPrinterOnOkOnly) {
    // The dialog shows the job's fields in their order, one value per line.
    {
        ui::CDialogConfigureSpool dialog(*app_->PrinterList.Snapshot(), *job_);
        EXPECT_EQ(dialog.windowTitle(), "Spooled file configuration");
        auto* lines = Child<QListWidget>(&dialog, "InformationList");
        const QStringList expected = {"report.pdf", "Error",
                                      "alice",      "2024/03/01 10:11:12",
                                      "1234 bytes", "PDF",
                                      "pass",       "/var/spool/pass/20240301101112_1.pdf",
                                      "dfA001host", "host",
                                      "Hhost",      "Quarterly",
                                      "A",          "Connection refused"};
        ASSERT_EQ(lines->count(), expected.size());
        for (int i = 0; i < lines->count(); ++i)
            EXPECT_EQ(lines->item(i)->text(), expected[i]) << i;
    }

    // Sorted names, the job's own virtual printer preselected by its exact name.
    QStringList entries;
    QString preselected;
    Transfer(-2, /*ok=*/false, &entries, &preselected);
    EXPECT_EQ(entries, QStringList({"archive", "PASS", "pass", "Zeta"}));
    EXPECT_EQ(preselected, "pass");
    EXPECT_EQ(job_->PrinterName, u"pass");

    // Cancel changes nothing, whatever was chosen.
    Transfer(3, /*ok=*/false);
    EXPECT_EQ(job_->PrinterName, u"pass");

    // OK moves the job; nothing else of it changes.
    Transfer(1, /*ok=*/true);
    EXPECT_EQ(job_->PrinterName, u"PASS");
    EXPECT_EQ(job_->State, STATE_ERROR);
    EXPECT_EQ(job_->ErrorText, u"Connection refused");
    EXPECT_EQ(job_->LocalFileName, u"/var/spool/pass/20240301101112_1.pdf");

    // A job whose virtual printer is gone: nothing is preselected, and OK without a choice empties it.
    job_->PrinterName = u"REMOVED";
    Transfer(-2, /*ok=*/true, nullptr, &preselected);
    EXPECT_EQ(preselected, "<none>");
    EXPECT_EQ(job_->PrinterName, u"");
}

// Copy to printer.

class CopyToPrinterTest : public test::AppFixture {
  protected:
    static void SetUpTestSuite() {
        printer_ = new test::FakePrinter();
        server_ = new test::CupsServer();
        if (!printer_->Listening()) {
            failure_ = "the stand-in printer cannot listen";
        } else if (!server_->Start() || !server_->AddRawQueue("Desk_Raw", printer_->DeviceUri()) ||
                   !server_->AddRawQueue("Archive_Raw", "socket://127.0.0.1:9") ||
                   !server_->SetDefaultQueue("Desk_Raw")) {
            failure_ = server_->Failure();
        }
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
        delete printer_;
        printer_ = nullptr;
        failure_.clear();
    }
    void SetUp() override {
        AppFixture::SetUp();
        ASSERT_TRUE(failure_.empty()) << failure_;
        qt_ = std::make_unique<test::QtApplicationScope>();
    }
    void TearDown() override {
        qt_.reset();
        AppFixture::TearDown();
    }

    // Runs the command: the file chosen, then the printer dialog answered with the entry (-2: as it opens,
    // -1: none) and OK or Cancel, then the message boxes that follow.
    void CopyToPrinter(const std::string& file, int choice, bool ok, QStringList* entries = nullptr,
                       int messages = 0, std::vector<ShownMessage>* shown = nullptr) {
        ChooseFile(file, [=] {
            WhenModal(
                [=](QWidget* modal) {
                    auto* list = Child<QComboBox>(modal, "PrinterList");
                    if (entries) {
                        for (int i = 0; i < list->count(); ++i)
                            entries->append(list->itemText(i));
                        entries->append(list->currentText());
                    }
                    if (choice != -2)
                        list->setCurrentIndex(choice);
                    for (int i = 0; i < messages; ++i)
                        AnswerMessageBox(shown, nullptr);
                    Child<QPushButton>(modal, ok ? "OkButton" : "CancelButton")->click();
                },
                nullptr);
        });
        ui::CopyFileToPrinter(nullptr);
    }

    static std::vector<std::string> JobTitles() {
        cups_job_t* jobs = nullptr;
        const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, nullptr, 0, CUPS_WHICHJOBS_ALL);
        std::vector<std::string> titles;
        for (int i = 0; i < count; ++i)
            titles.push_back(jobs[i].title ? jobs[i].title : "");
        cupsFreeJobs(count, jobs);
        return titles;
    }

    static inline test::FakePrinter* printer_ = nullptr;
    static inline test::CupsServer* server_ = nullptr;
    static inline std::string failure_;
    std::unique_ptr<test::QtApplicationScope> qt_;
};

TEST_F(CopyToPrinterTest, TheChosenFileReachesTheChosenPrinterUnchangedOrPrinterNotFoundIsShown) {
    std::string data =
        "\x1b"
        "E"
        "\x1b"
        "&l4H"
        "page\f";
    for (int i = 0; i < 5000; ++i)
        data.push_back(static_cast<char>(i & 0xFF));
    const std::string file = folder_.File("invoice 42.pcl");
    test::WriteFile(file, data);

    // The printers of this machine, sorted, the default one preselected; the bytes go raw, no bin rewritten.
    QStringList entries;
    CopyToPrinter(file, -2, /*ok=*/true, &entries);
    EXPECT_EQ(entries, QStringList({"Archive_Raw", "Desk_Raw", "Desk_Raw"}));
    std::string document;
    ASSERT_TRUE(printer_->NextDocument(&document)) << server_->ErrorLog();
    EXPECT_EQ(document, data);
    const std::vector<std::string> titles = JobTitles();
    EXPECT_NE(std::find(titles.begin(), titles.end(), "invoice 42.pcl"), titles.end());

    // Cancel sends nothing; neither does a printer that cannot be opened, which is reported.
    CopyToPrinter(file, -2, /*ok=*/false);
    std::vector<ShownMessage> shown;
    CopyToPrinter(file, -1, /*ok=*/true, nullptr, 1, &shown);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, "Printer not found.");
    EXPECT_EQ(shown[0].Caption, "VelmoraVirtualPrinter");
    EXPECT_EQ(JobTitles().size(), titles.size());
    EXPECT_FALSE(printer_->NextDocument(&document, 200));
}

TEST_F(CopyToPrinterTest, NoFileChosenEndsTheCommand) {
    WhenModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    ui::CopyFileToPrinter(nullptr);
    WhenModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    ui::SendFileByLpr(nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// Send via LPR.

class SendViaLprTest : public test::LpdServerFixture {
  protected:
    void SetUp() override {
        LpdServerFixture::SetUp();
        qt_ = std::make_unique<test::QtApplicationScope>();
    }
    void TearDown() override {
        qt_.reset();
        LpdServerFixture::TearDown();
    }

    // Runs the command on the test server's port: the file chosen, then the destination dialog read and
    // answered, then the message boxes that follow.
    void Send(const std::string& file, const QString& queue, bool ok, QString* shownAddress = nullptr,
              QString* shownQueue = nullptr, const QStringList& address = {}, int messages = 0,
              std::vector<ShownMessage>* shown = nullptr) {
        ChooseFile(file, [=] {
            WhenModal(
                [=](QWidget* modal) {
                    auto* ip = Child<ui::CIpAddressEdit>(modal, "IpAddressControl");
                    auto* queueEdit = Child<QLineEdit>(modal, "QueueNameEdit");
                    if (shownAddress)
                        *shownAddress = ip->Text();
                    if (shownQueue)
                        *shownQueue = queueEdit->text();
                    for (int i = 0; i < address.size(); ++i) {
                        auto* field = Child<QLineEdit>(modal, ("IpAddressField" + std::to_string(i)).c_str());
                        field->setText(address[i]);
                        emit field->textEdited(address[i]);
                    }
                    queueEdit->setText(queue);
                    for (int i = 0; i < messages; ++i)
                        AnswerMessageBox(shown, nullptr);
                    Child<QPushButton>(modal, ok ? "OkButton" : "CancelButton")->click();
                },
                nullptr);
        });
        ui::SendFileByLprToPort(nullptr, port_);
    }

    std::unique_ptr<test::QtApplicationScope> qt_;
};

TEST_F(SendViaLprTest, TheFileArrivesAsAJobOrTheClientsErrorTextIsShown) {
    const std::string file = folder_.File("statement.txt");
    test::WriteFile(file, "Statement of account\nline two\n\f");

    QString address;
    QString queue;
    Send(file, "PASS", /*ok=*/true, &address, &queue);
    EXPECT_EQ(address, "127.0.0.1");
    EXPECT_EQ(queue, "PASS");
    ASSERT_EQ(WaitForJobs(1), 1u);
    const SpoolFilePtr job = Job(0);
    EXPECT_EQ(test::ReadFile(platform::UnicodeToAnsi(job->LocalFileName)), test::ReadFile(file));
    EXPECT_EQ(job->DocumentName, u"statement.txt");
    EXPECT_EQ(job->PrinterName, u"PASS");
    // Without job class and job name: no C and no J line.
    const std::string controlFile = platform::UnicodeToAnsi(job->ControlFile);
    EXPECT_NE(controlFile.find("\nNstatement.txt\n"), std::string::npos) << controlFile;
    EXPECT_EQ(controlFile.find("\nC"), std::string::npos) << controlFile;
    EXPECT_EQ(controlFile.find("\nJ"), std::string::npos) << controlFile;

    // The queue chosen is the one used: HOLD holds its jobs.
    Send(file, "HOLD", /*ok=*/true, nullptr, nullptr, {"127", "0", "0", "1"});
    ASSERT_EQ(WaitForJobs(2), 2u);
    EXPECT_EQ(Job(1)->PrinterName, u"HOLD");
    EXPECT_EQ(Job(1)->State, STATE_HELD);

    // A queue the server does not have: the forwarding client's text.
    std::vector<ShownMessage> shown;
    Send(file, "NOPE", /*ok=*/true, nullptr, nullptr, {}, 1, &shown);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, "The print request is rejected");
    EXPECT_EQ(shown[0].Caption, "VelmoraVirtualPrinter");
    EXPECT_EQ(shown[0].Icon, QMessageBox::Critical);

    // Cancel sends nothing.
    Send(file, "PASS", /*ok=*/false);
    WaitForSessions();
    EXPECT_EQ(JobCount(), 2u);
}

TEST_F(SendViaLprTest, NoServerListeningShowsTheConnectionFailure) {
    const std::string file = folder_.File("statement.txt");
    test::WriteFile(file, "x");
    app_->LpdServer.StopLpdServer();
    std::vector<ShownMessage> shown;
    Send(file, "PASS", /*ok=*/true, nullptr, nullptr, {}, 1, &shown);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, "Connection refused");
}

// The dialogs' texts in the thread's language.

TEST_F(CopyToPrinterTest, TheJobDialogsSpeakTheThreadsLanguage) {
    for (const Language language : {Language::English, Language::French, Language::Japanese}) {
        test::LanguageScope scope(language);
        ui::CPrintWindows copy;
        EXPECT_EQ(copy.windowTitle(), Q(LoadString(IDS_DLG_COPY_TITLE, language)));
        EXPECT_EQ(Child<QPushButton>(&copy, "CancelButton")->text(), Q(LoadString(IDS_DLG_CANCEL, language)));
        ui::CPrinterLPR lpr;
        EXPECT_EQ(lpr.windowTitle(), Q(LoadString(IDS_DLG_LPR_TITLE, language)));
        CSpoolFile job;
        ui::CDialogConfigureSpool transfer(*app_->PrinterList.Snapshot(), job);
        EXPECT_EQ(transfer.windowTitle(), Q(LoadString(IDS_DLG_SPOOL_TITLE, language)));
        if (language != Language::English) {
            EXPECT_NE(copy.windowTitle(), Q(LoadString(IDS_DLG_COPY_TITLE, Language::English)));
            EXPECT_NE(lpr.windowTitle(), Q(LoadString(IDS_DLG_LPR_TITLE, Language::English)));
            EXPECT_NE(transfer.windowTitle(), Q(LoadString(IDS_DLG_SPOOL_TITLE, Language::English)));
        }
    }
}

}  // namespace
}  // namespace velmora
