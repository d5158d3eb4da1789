// The job dialogs: Transfer, Copy to printer (private CUPS server), Send via LPR (this system's LPD server).
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>

#include "platform/ansi.h"
#include "support/cups_server.h"
#include "support/lpd_server_fixture.h"
#include "ui/dialog_configure_spool.h"
#include "ui/dialog_ip_address.h"
#include "ui/dialog_printer_lpr.h"
#include "ui/dialogs.h"
#include "ui/ui_test_support.h"

namespace velmora {
namespace {

using test::AnswerMessageBox, test::Child, test::ChooseFile, test::Q, test::ShownMessage, test::WhenModal;

// Answers a printer list dialog: notes entries and current one, chooses (-2: as is, -1: none), OK or Cancel.
void ChoosePrinter(int choice, bool ok, QStringList* entries = nullptr, int messages = 0,
                   std::vector<ShownMessage>* shown = nullptr, QWidget* above = nullptr) {
    WhenModal(
        [=](QWidget* modal) {
            auto* list = Child<QComboBox>(modal, "PrinterList");
            for (int i = 0; entries && i < list->count(); ++i)
                entries->append(list->itemText(i));
            if (entries)
                entries->append(list->currentIndex() >= 0 ? list->currentText() : QStringLiteral("<none>"));
            if (choice != -2)
                list->setCurrentIndex(choice);
            for (int i = 0; i < messages; ++i)
                AnswerMessageBox(shown, nullptr);
            Child<QPushButton>(modal, ok ? "OkButton" : "CancelButton")->click();
        },
        above);
}

using TransferDialogTest = test::WithQt<test::AppFixture>;

TEST_F(TransferDialogTest, TheJobMovesToTheChosenVirtualPrinterOnOkOnly) {
    PrinterRecords printers;
    for (const char16_t* name : {u"Zeta", u"PASS", u"archive", u"pass"})
        printers.emplace_back().Name = name;
    app_->PrinterList.Replace(printers);
    CSpoolFile job;
    job.SetState(STATE_ERROR);
    // The job's fields in the order the dialog shows them, one value per line, the state second.
    using F = CSpoolFile;
    std::u16string F::*const fields[] = {
        &F::DocumentName, &F::Owner,         &F::DateInserted,     &F::FileSize,   &F::FileType,
        &F::PrinterName,  &F::LocalFileName, &F::ReceivedFileName, &F::SourceHost, &F::ControlFile,
        &F::JobName,      &F::JobClass,      &F::ErrorText};
    QStringList values = QStringLiteral(
                             "report.pdf|alice|2024/03/01 10:11:12|1234 bytes|PDF|pass|"
                             "/var/spool/pass/20240301101112_1.pdf|dfA001host|host|Hhost|"
                             "Quarterly|A|Connection refused")
                             .split('|');
    for (int i = 0; i < values.size(); ++i)
        job.*fields[i] = values[i].toStdU16String();
    {
        ui::CDialogConfigureSpool dialog(*app_->PrinterList.Snapshot(), job);
        EXPECT_EQ(dialog.windowTitle(), "Spooled file configuration");
        auto* lines = Child<QListWidget>(&dialog, "InformationList");
        QStringList shown;
        for (int i = 0; i < lines->count(); ++i)
            shown.append(lines->item(i)->text());
        values.insert(1, "Error");
        EXPECT_EQ(shown, values);
    }
    const auto transfer = [&](int choice, bool ok, QStringList* entries = nullptr) {
        ChoosePrinter(choice, ok, entries, 0, nullptr, QApplication::activeModalWidget());
        std::u16string printerName;
        if (ui::RunTransferDialog(app_->PrinterList, nullptr, job, &printerName))
            job.PrinterName = printerName;
    };
    // Sorted names, the job's own virtual printer preselected by its exact name; Cancel changes nothing.
    QStringList entries;
    transfer(3, /*ok=*/false, &entries);
    EXPECT_EQ(entries, QStringList({"archive", "PASS", "pass", "Zeta", "pass"}));
    EXPECT_EQ(job.PrinterName, u"pass");
    transfer(1, /*ok=*/true);
    EXPECT_EQ(job.PrinterName, u"PASS");
    // A job whose virtual printer is gone: nothing is preselected, and OK without a choice empties it.
    job.PrinterName = u"REMOVED";
    entries.clear();
    transfer(-2, /*ok=*/true, &entries);
    EXPECT_EQ(entries.back(), "<none>");
    EXPECT_EQ(job.PrinterName, u"");
}

using CopyToPrinterTest = test::WithQt<test::AppFixture>;

TEST_F(CopyToPrinterTest, TheChosenFileReachesTheChosenPrinterUnchangedOrPrinterNotFoundIsShown) {
    test::FakePrinter printer;
    test::CupsServer server;
    ASSERT_TRUE(printer.Listening());
    ASSERT_TRUE(server.Start() && server.AddRawQueue("Desk_Raw", printer.DeviceUri()) &&
                server.AddRawQueue("Archive_Raw", "socket://127.0.0.1:9") &&
                server.SetDefaultQueue("Desk_Raw"))
        << server.Failure();
    const auto copyToPrinter = [](const std::string& file, int choice, bool ok,
                                  QStringList* entries = nullptr, int messages = 0,
                                  std::vector<ShownMessage>* shown = nullptr) {
        ChooseFile(file, [=] { ChoosePrinter(choice, ok, entries, messages, shown); });
        ui::CopyFileToPrinter(nullptr);
    };
    const auto cupsJobs = [] {
        cups_job_t* jobs = nullptr;
        const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, nullptr, 0, CUPS_WHICHJOBS_ALL);
        cupsFreeJobs(count, jobs);
        return count;
    };
    std::string data = "\033E\033&l4Hpage\f";
    for (int i = 0; i < 5000; ++i)
        data.push_back(static_cast<char>(i & 0xFF));
    const std::string file = folder_.File("invoice 42.pcl");
    test::WriteFile(file, data);
    // The printers of this machine, sorted, the default one preselected; the bytes go raw, no bin rewritten.
    QStringList entries;
    copyToPrinter(file, -2, /*ok=*/true, &entries);
    EXPECT_EQ(entries, QStringList({"Archive_Raw", "Desk_Raw", "Desk_Raw"}));
    std::string document;
    ASSERT_TRUE(printer.NextDocument(&document)) << server.ErrorLog();
    EXPECT_EQ(document, data);
    const int jobs = cupsJobs();
    // Cancel sends nothing; neither does a printer that cannot be opened, which is reported.
    copyToPrinter(file, -2, /*ok=*/false);
    std::vector<ShownMessage> shown;
    copyToPrinter(file, -1, /*ok=*/true, nullptr, 1, &shown);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, "Printer not found.");
    EXPECT_EQ(shown[0].Caption, "VelmoraVirtualPrinter");
    EXPECT_EQ(cupsJobs(), jobs);
    EXPECT_FALSE(printer.NextDocument(&document, 200));
    // No file chosen ends either command.
    for (void (*command)(QWidget*) : {ui::CopyFileToPrinter, ui::SendFileByLpr}) {
        WhenModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
        command(nullptr);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}

class SendViaLprTest : public test::WithQt<test::LpdServerFixture> {
  protected:
    void Send(const std::string& file, const QString& queue, bool ok, QStringList* destination = nullptr,
              const QStringList& address = {}, int messages = 0, std::vector<ShownMessage>* shown = nullptr) {
        ChooseFile(file, [=] {
            WhenModal(
                [=](QWidget* modal) {
                    auto* queueEdit = Child<QLineEdit>(modal, "QueueNameEdit");
                    if (destination)
                        *destination = {Child<ui::CIpAddressEdit>(modal, "IpAddressControl")->Text(),
                                        queueEdit->text()};
                    test::TypeAddress(modal, address);
                    queueEdit->setText(queue);
                    for (int i = 0; i < messages; ++i)
                        AnswerMessageBox(shown, nullptr);
                    Child<QPushButton>(modal, ok ? "OkButton" : "CancelButton")->click();
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
    Send(file, "PASS", /*ok=*/true, &destination);
    EXPECT_EQ(destination, QStringList({"127.0.0.1", "PASS"}));
    ASSERT_EQ(WaitForJobs(1), 1u);
    EXPECT_EQ(test::ReadFile(platform::UnicodeToAnsi(Job(0)->LocalFileName)), test::ReadFile(file));
    EXPECT_EQ(Job(0)->PrinterName, u"PASS");
    // Without job class and job name: no C and no J line.
    const std::string controlFile = platform::UnicodeToAnsi(Job(0)->ControlFile);
    EXPECT_NE(controlFile.find("\nNstatement.txt\n"), std::string::npos) << controlFile;
    EXPECT_EQ(controlFile.find("\nC"), std::string::npos) << controlFile;
    EXPECT_EQ(controlFile.find("\nJ"), std::string::npos) << controlFile;
    // The queue and the address typed are the ones used.
    Send(file, "HOLD", /*ok=*/true, nullptr, {"127", "0", "0", "1"});
    ASSERT_EQ(WaitForJobs(2), 2u);
    EXPECT_EQ(Job(1)->PrinterName, u"HOLD");
    Send(file, "PASS", /*ok=*/false);
    WaitForSessions();
    EXPECT_EQ(JobCount(), 2u);
    // A queue the server does not have, and then no server: the forwarding client's text.
    std::vector<ShownMessage> shown;
    Send(file, "NOPE", /*ok=*/true, nullptr, {}, 1, &shown);
    app_->LpdServer.StopLpdServer();
    Send(file, "PASS", /*ok=*/true, nullptr, {}, 1, &shown);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].Text, "The print request is rejected");
    EXPECT_EQ(shown[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(shown[1].Text, "Connection refused");
}

}  // namespace
}  // namespace velmora
