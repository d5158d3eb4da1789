// The "Server configuration" dialog on the offscreen platform, against a private CUPS server whose queues
// are this machine's printers.
#include <gtest/gtest.h>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "config/printer_setting.h"
#include "platform/ansi.h"
#include "resources/dialog_string_ids.h"
#include "resources/string_ids.h"
#include "resources/string_table.h"
#include "support/app_fixture.h"
#include "support/cups_server.h"
#include "support/test_util.h"
#include "text/format.h"
#include "ui/dialog_configure_server.h"
#include "ui/dialog_ip_address.h"
#include "ui/dialog_test_support.h"
#include "ui/dialogs.h"

namespace velmora {
namespace {

using test::AnswerMessageBox;
using test::Child;
using test::FinishEditing;
using test::Q;
using test::ShownMessage;
using test::WhenModal;
using ui::CConfigurationPrinter;
using ui::CDialogConfigureServeur;

// Nothing is printed in these tests: every queue points at the discard port.
constexpr char DEVICE[] = "socket://127.0.0.1:9";
constexpr char DEFAULT_QUEUE[] = "Office_Laser";

// The controls whose enabled state the dialog manages, in a fixed order.
constexpr const char* MANAGED_CONTROLS[] = {
    "PrinterNameList",  "NewButton",     "DeleteButton",     "LocalModeRadio",     "LocalPrinterList",
    "InputBinEdit",     "OutputBinEdit", "ProgramModeRadio", "ProgramPrinterList", "ProgramEdit",
    "ParametersButton", "LpdModeRadio",  "IpAddressControl", "QueueNameEdit",      "HoldJobsCheck",
    "StatusPortEdit",   "SaveButton",    "CancelButton"};

constexpr char SELECTED_COMMON[] =
    "PrinterNameList NewButton DeleteButton LocalModeRadio ProgramModeRadio LpdModeRadio HoldJobsCheck "
    "StatusPortEdit SaveButton CancelButton";

class ServerConfigurationDialogTest : public test::AppFixture {
  protected:
    static void SetUpTestSuite() {
        server_ = new test::CupsServer();
        if (!server_->Start() || !server_->AddRawQueue("Zeta_Raw", DEVICE) ||
            !server_->AddRawQueue(DEFAULT_QUEUE, DEVICE) || !server_->AddRawQueue("alpha_raw", DEVICE) ||
            !server_->SetDefaultQueue(DEFAULT_QUEUE)) {
            failure_ = server_->Failure();
        }
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
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

    void SetPrinters(const PrinterRecords& records) { app_->PrinterList.Replace(records); }
    PrinterRecords Published() const { return *app_->PrinterList.Snapshot(); }
    std::string PrinterCfg() const {
        return test::ReadFile(platform::UnicodeToAnsi(app_->PrinterConfig.Path()));
    }

    // The names of the managed controls that are enabled.
    static std::set<std::string> EnabledControls(const QWidget* dialog) {
        std::set<std::string> enabled;
        for (const char* name : MANAGED_CONTROLS) {
            const QWidget* control = Child<QWidget>(dialog, name);
            if (control && control->isEnabled())
                enabled.insert(name);
        }
        return enabled;
    }
    static std::set<std::string> Words(const std::string& text) {
        std::set<std::string> words;
        std::string word;
        for (const char c : text + " ") {
            if (c != ' ') {
                word += c;
            } else if (!word.empty()) {
                words.insert(word);
                word.clear();
            }
        }
        return words;
    }
    // The controls of a selected virtual printer: those of every mode and the mode's own.
    static std::set<std::string> Selected(const std::string& modeControls) {
        return Words(std::string(SELECTED_COMMON) + " " + modeControls);
    }

    // "New" with the name typed into the "Printer configuration" dialog and OK (or Cancel); the message
    // boxes that follow are answered and noted.
    static void ClickNew(CDialogConfigureServeur* dialog, const QString& name, int messages = 0,
                         std::vector<ShownMessage>* shown = nullptr, bool cancel = false) {
        QWidget* above = QApplication::activeModalWidget();
        WhenModal(
            [=](QWidget* modal) {
                auto* nameDialog = qobject_cast<CConfigurationPrinter*>(modal);
                if (!nameDialog) {
                    ADD_FAILURE() << "the printer name was not asked for";
                    modal->close();
                    return;
                }
                EXPECT_TRUE(nameDialog->Name().empty());
                EXPECT_EQ(nameDialog->windowTitle(), Q(LoadString(IDS_DLG_NEW_PRINTER_TITLE)));
                Child<QLineEdit>(nameDialog, "NewPrinterNameEdit")->setText(name);
                for (int i = 0; i < messages; ++i)
                    AnswerMessageBox(shown, above);
                Child<QPushButton>(nameDialog, cancel ? "CancelButton" : "OkButton")->click();
            },
            above);
        Child<QPushButton>(dialog, "NewButton")->click();
    }

    // Types an address into the four fields of the IP address control.
    static void TypeAddress(QWidget* dialog, const QStringList& bytes) {
        for (int i = 0; i < 4; ++i) {
            auto* field = Child<QLineEdit>(dialog, ("IpAddressField" + std::to_string(i)).c_str());
            field->setText(bytes[i]);
            emit field->textEdited(bytes[i]);
        }
    }

    static std::u16string Line(const CPrinterSetting& r) {
        auto padded = [](const std::u16string& value) {
            return value.empty() ? std::u16string(u" ") : value;
        };
        return Format(u"%s;%d;%s;%s;%d;%s;%s;%s;%s;%s;%s\r\n", r.Name, r.OutputMode, padded(r.ProgramCommand),
                      padded(r.ProgramPrinter), r.HoldJobs, padded(r.StatusPort), padded(r.LocalPrinter),
                      padded(r.IPAddress), padded(r.QueueName), padded(r.InputBin), padded(r.OutputBin));
    }

    static inline test::CupsServer* server_ = nullptr;
    static inline std::string failure_;
    std::unique_ptr<test::QtApplicationScope> qt_;
};

void ExpectSameSettings(const CPrinterSetting& a, const CPrinterSetting& b) {
    EXPECT_EQ(a.OutputMode, b.OutputMode);
    EXPECT_EQ(a.ProgramCommand, b.ProgramCommand);
    EXPECT_EQ(a.ProgramPrinter, b.ProgramPrinter);
    EXPECT_EQ(a.HoldJobs, b.HoldJobs);
    EXPECT_EQ(a.StatusPort, b.StatusPort);
    EXPECT_EQ(a.LocalPrinter, b.LocalPrinter);
    EXPECT_EQ(a.IPAddress, b.IPAddress);
    EXPECT_EQ(a.QueueName, b.QueueName);
    EXPECT_EQ(a.InputBin, b.InputBin);
    EXPECT_EQ(a.OutputBin, b.OutputBin);
}

TEST_F(ServerConfigurationDialogTest,
       FirstVirtualPrinterTakesTheInitialValuesAndTheNextOneCopiesTheShownOne) {
    CDialogConfigureServeur dialog(app_->PrinterList);
    EXPECT_EQ(dialog.windowTitle(), "Server configuration");
    // Nothing to edit yet: only New, Save and Cancel can be used.
    EXPECT_EQ(EnabledControls(&dialog), Words("NewButton SaveButton CancelButton"));

    // Both printer lists hold this machine's printers, sorted without regard to case, with the default
    // printer selected.
    for (const char* name : {"LocalPrinterList", "ProgramPrinterList"}) {
        auto* list = Child<QComboBox>(&dialog, name);
        ASSERT_EQ(list->count(), 3) << name;
        EXPECT_EQ(list->itemText(0), "alpha_raw");
        EXPECT_EQ(list->itemText(1), DEFAULT_QUEUE);
        EXPECT_EQ(list->itemText(2), "Zeta_Raw");
        EXPECT_EQ(list->currentText(), DEFAULT_QUEUE) << name;
    }
    EXPECT_EQ(Child<QLineEdit>(&dialog, "ProgramEdit")->text(), Q(DEFAULT_PROGRAM_COMMAND));
    EXPECT_EQ(Child<QLineEdit>(&dialog, "ProgramEdit")->text(), R"("/usr/bin/lp" -d %2 %1)");
    EXPECT_TRUE(Child<QRadioButton>(&dialog, "LocalModeRadio")->isChecked());
    EXPECT_FALSE(Child<QLineEdit>(&dialog, "StatusPortEdit")->isVisibleTo(&dialog));

    ClickNew(&dialog, "PASS");
    PrinterRecords printers = Published();
    ASSERT_EQ(printers.size(), 1u);
    const CPrinterSetting& first = printers[0];
    EXPECT_EQ(first.Name, u"PASS");
    EXPECT_EQ(first.OutputMode, OUTPUT_LOCAL_PRINTER);
    EXPECT_EQ(first.ProgramCommand, DEFAULT_PROGRAM_COMMAND);
    EXPECT_EQ(first.LocalPrinter, u"Office_Laser");
    EXPECT_EQ(first.ProgramPrinter, u"Office_Laser");
    EXPECT_EQ(first.QueueName, u"");
    EXPECT_EQ(first.InputBin, u"");
    EXPECT_EQ(first.OutputBin, u"");
    EXPECT_EQ(first.IPAddress, u"0.0.0.0");
    EXPECT_EQ(first.HoldJobs, 0);
    EXPECT_EQ(Child<QComboBox>(&dialog, "PrinterNameList")->currentText(), "PASS");
    EXPECT_EQ(EnabledControls(&dialog), Selected("LocalPrinterList InputBinEdit OutputBinEdit"));
    // The LPD server sees the new queue at once.
    bool hold = true;
    EXPECT_TRUE(app_->PrinterList.FindVirtualPrinter(u"PASS", &hold));
    EXPECT_FALSE(hold);

    // Edit the first one, then create a second while it is shown.
    Child<QRadioButton>(&dialog, "LpdModeRadio")->click();
    FinishEditing(Child<QLineEdit>(&dialog, "QueueNameEdit"), "REMOTE");
    TypeAddress(&dialog, {"10", "1", "2", "3"});
    Child<QCheckBox>(&dialog, "HoldJobsCheck")->click();
    printers = Published();
    EXPECT_EQ(printers[0].OutputMode, OUTPUT_LPD);
    EXPECT_EQ(printers[0].QueueName, u"REMOTE");
    EXPECT_EQ(printers[0].IPAddress, u"10.1.2.3");
    EXPECT_EQ(printers[0].HoldJobs, 1);
    EXPECT_TRUE(app_->PrinterList.FindVirtualPrinter(u"PASS", &hold));
    EXPECT_TRUE(hold);

    ClickNew(&dialog, "COPY");
    printers = Published();
    ASSERT_EQ(printers.size(), 2u);
    EXPECT_EQ(printers[1].Name, u"COPY");
    ExpectSameSettings(printers[1], printers[0]);
    EXPECT_EQ(dialog.Records().size(), 2u);
    EXPECT_EQ(Child<QComboBox>(&dialog, "PrinterNameList")->count(), 2);
    EXPECT_EQ(Child<QComboBox>(&dialog, "PrinterNameList")->currentIndex(), 1);
}

TEST_F(ServerConfigurationDialogTest, EachOutputModeEnablesItsOwnControlsAndKeepsTheOthersValues) {
    CPrinterSetting pass;
    pass.Name = u"PASS";
    pass.LocalPrinter = u"Zeta_Raw";
    pass.InputBin = u"4";
    pass.OutputBin = u"2";
    pass.ProgramPrinter = u"alpha_raw";
    pass.ProgramCommand = u"/usr/bin/lp -d %2 %1";
    SetPrinters({pass});
    app_->SavePrinterConfig();

    CDialogConfigureServeur dialog(app_->PrinterList);
    EXPECT_EQ(Child<QComboBox>(&dialog, "LocalPrinterList")->currentText(), "Zeta_Raw");
    EXPECT_EQ(Child<QComboBox>(&dialog, "ProgramPrinterList")->currentText(), "alpha_raw");
    EXPECT_EQ(Child<QLineEdit>(&dialog, "InputBinEdit")->text(), "4");
    EXPECT_EQ(EnabledControls(&dialog), Selected("LocalPrinterList InputBinEdit OutputBinEdit"));

    Child<QRadioButton>(&dialog, "ProgramModeRadio")->click();
    EXPECT_EQ(EnabledControls(&dialog), Selected("ProgramPrinterList ProgramEdit ParametersButton"));
    EXPECT_EQ(Published()[0].OutputMode, OUTPUT_PROGRAM);

    Child<QRadioButton>(&dialog, "LpdModeRadio")->click();
    EXPECT_EQ(EnabledControls(&dialog), Selected("IpAddressControl QueueNameEdit"));
    FinishEditing(Child<QLineEdit>(&dialog, "QueueNameEdit"), "RAW");

    // Switching to LPD keeps the local printer, the bins and the program in the record.
    CPrinterSetting expected = pass;
    expected.OutputMode = OUTPUT_LPD;
    expected.QueueName = u"RAW";
    ExpectSameSettings(Published()[0], expected);

    // A printer chosen in a list is stored at once; a disabled control cannot be clicked.
    Child<QRadioButton>(&dialog, "LocalModeRadio")->click();
    Child<QComboBox>(&dialog, "LocalPrinterList")->setCurrentText("alpha_raw");
    EXPECT_EQ(Published()[0].LocalPrinter, u"alpha_raw");
    Child<QRadioButton>(&dialog, "LpdModeRadio")->click();
    Child<QPushButton>(&dialog, "ParametersButton")->click();
    EXPECT_EQ(Published()[0].OutputMode, OUTPUT_LPD);

    // The file is only written by Save, through the command.
    expected.LocalPrinter = u"alpha_raw";
    WhenModal([](QWidget* modal) { Child<QPushButton>(modal, "SaveButton")->click(); });
    ui::OnServerConfiguration(*app_, nullptr);
    EXPECT_EQ(test::U16(PrinterCfg()), Line(expected));
}

TEST_F(ServerConfigurationDialogTest, NewRefusesBlankDuplicateAndUnstorableNames) {
    CPrinterSetting pass;
    pass.Name = u"PASS";
    // Two records of the same name: each match is reported.
    SetPrinters({pass, pass});
    CDialogConfigureServeur dialog(app_->PrinterList);

    std::vector<ShownMessage> shown;
    ClickNew(&dialog, "", 1, &shown);
    ClickNew(&dialog, "PASS", 2, &shown);
    ClickNew(&dialog, "LINE;BREAK", 1, &shown);
    ClickNew(&dialog, "TWO\nLINES", 1, &shown);
    ClickNew(&dialog, "CR\rONLY", 1, &shown);
    ClickNew(&dialog, "NEVER", 0, &shown, /*cancel=*/true);
    ASSERT_EQ(shown.size(), 6u);
    EXPECT_EQ(shown[0].Text, "The printer name cannot be blank.");
    EXPECT_EQ(shown[1].Text, "The printer already exists.");
    EXPECT_EQ(shown[2].Text, "The printer already exists.");
    for (int i = 3; i < 6; ++i)
        EXPECT_EQ(shown[i].Text, Q(LoadString(IDS_DLG_NAME_NOT_STORABLE)));
    for (const ShownMessage& message : shown)
        EXPECT_EQ(message.Caption, "VelmoraVirtualPrinter");
    EXPECT_EQ(Published().size(), 2u);
    EXPECT_EQ(Child<QComboBox>(&dialog, "PrinterNameList")->count(), 2);

    // Names are compared exactly: another letter case is another queue.
    ClickNew(&dialog, "pass");
    ASSERT_EQ(Published().size(), 3u);
    EXPECT_EQ(Published()[2].Name, u"pass");
}

TEST_F(ServerConfigurationDialogTest,
       DeleteSelectsTheFirstRemainingPrinterAndSaveOrCancelDecideAboutTheFile) {
    CPrinterSetting first;
    first.Name = u"FIRST";
    first.OutputMode = OUTPUT_PROGRAM;
    first.ProgramPrinter = u"Zeta_Raw";
    CPrinterSetting second;
    second.Name = u"SECOND";
    second.OutputMode = OUTPUT_LPD;
    second.IPAddress = u"192.168.7.7";
    second.QueueName = u"LP";
    SetPrinters({first, second});
    app_->SavePrinterConfig();
    const std::string saved = PrinterCfg();
    ASSERT_EQ(test::U16(saved), Line(first) + Line(second));

    // Delete the second, then Cancel: memory changes at once, the file does not.
    WhenModal([](QWidget* modal) {
        auto* names = Child<QComboBox>(modal, "PrinterNameList");
        names->setCurrentIndex(1);
        EXPECT_TRUE(Child<QRadioButton>(modal, "LpdModeRadio")->isChecked());
        Child<QPushButton>(modal, "DeleteButton")->click();
        EXPECT_EQ(names->count(), 1);
        EXPECT_EQ(names->currentText(), "FIRST");
        // The first one is shown again.
        EXPECT_TRUE(Child<QRadioButton>(modal, "ProgramModeRadio")->isChecked());
        EXPECT_EQ(Child<QComboBox>(modal, "ProgramPrinterList")->currentText(), "Zeta_Raw");
        Child<QPushButton>(modal, "CancelButton")->click();
    });
    ui::OnServerConfiguration(*app_, nullptr);
    ASSERT_EQ(Published().size(), 1u);
    EXPECT_EQ(Published()[0].Name, u"FIRST");
    bool hold = false;
    EXPECT_FALSE(app_->PrinterList.FindVirtualPrinter(u"SECOND", &hold));
    EXPECT_EQ(PrinterCfg(), saved);

    // Delete the last one: only New, Save and Cancel stay usable; Save writes the empty list.
    WhenModal([](QWidget* modal) {
        Child<QPushButton>(modal, "DeleteButton")->click();
        EXPECT_EQ(Child<QComboBox>(modal, "PrinterNameList")->count(), 0);
        EXPECT_EQ(EnabledControls(modal), Words("NewButton SaveButton CancelButton"));
        // Delete without a selection does nothing.
        Child<QPushButton>(modal, "DeleteButton")->click();
        Child<QPushButton>(modal, "SaveButton")->click();
    });
    ui::OnServerConfiguration(*app_, nullptr);
    EXPECT_TRUE(Published().empty());
    EXPECT_EQ(PrinterCfg(), "");

    // What was saved is what the next start loads.
    app_->PrinterList.Replace({first});
    app_->SavePrinterConfig();
    app_->PrinterList.Clear();
    app_->LoadPrinterConfig();
    ASSERT_EQ(Published().size(), 1u);
    ExpectSameSettings(Published()[0], first);
    EXPECT_TRUE(messages_.empty());
}

TEST_F(ServerConfigurationDialogTest, TextsThatPrinterCfgCannotHoldAreRefusedAndThePreviousValueKept) {
    CPrinterSetting pass;
    pass.Name = u"PASS";
    pass.OutputMode = OUTPUT_PROGRAM;
    pass.ProgramCommand = u"/usr/bin/lp -d %2 %1";
    pass.ProgramPrinter = u"Zeta_Raw";
    pass.LocalPrinter = u"Zeta_Raw";
    pass.QueueName = u"LP1";
    pass.InputBin = u"7";
    pass.OutputBin = u"1";
    SetPrinters({pass});
    CDialogConfigureServeur dialog(app_->PrinterList);

    struct Case {
        const char* Edit;
        QString Text;
        const char16_t* Label;
        QString Previous;
    };
    const Case cases[] = {
        {"ProgramEdit", "/usr/bin/lp -d %2 %1; rm -rf /", u"Program", "/usr/bin/lp -d %2 %1"},
        {"ProgramEdit", "/usr/bin/lp\n-d %2 %1", u"Program", "/usr/bin/lp -d %2 %1"},
        {"QueueNameEdit", "LP;2", u"Queue name", "LP1"},
        {"InputBinEdit", "7\r", u"Input bin", "7"},
        {"OutputBinEdit", "\n", u"Output bin", "1"},
        {"StatusPortEdit", "9100;", u"Status port", ""},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.Edit);
        std::vector<ShownMessage> shown;
        AnswerMessageBox(&shown);
        auto* edit = Child<QLineEdit>(&dialog, each.Edit);
        FinishEditing(edit, each.Text);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].Text, Q(Format(LoadString(IDS_DLG_VALUE_NOT_STORABLE), each.Label)));
        EXPECT_EQ(shown[0].Icon, QMessageBox::Warning);
        EXPECT_EQ(edit->text(), each.Previous);
        ExpectSameSettings(Published()[0], pass);
    }

    // A storable value beside a refused one is still taken.
    std::vector<ShownMessage> shown;
    AnswerMessageBox(&shown);
    Child<QLineEdit>(&dialog, "QueueNameEdit")->setText("LP2");
    FinishEditing(Child<QLineEdit>(&dialog, "InputBinEdit"), "bin;");
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_EQ(Published()[0].QueueName, u"LP2");
    EXPECT_EQ(Published()[0].InputBin, u"7");

    // The file keeps one line of eleven fields per virtual printer.
    app_->SavePrinterConfig();
    pass.QueueName = u"LP2";
    EXPECT_EQ(test::U16(PrinterCfg()), Line(pass));
}

TEST_F(ServerConfigurationDialogTest, ShowingARecordStoresWhatTheControlsCanShow) {
    CPrinterSetting odd;
    odd.Name = u"ODD";
    odd.OutputMode = 7;
    odd.LocalPrinter = u"office_laser";
    odd.ProgramPrinter = u"Gone_Printer";
    odd.IPAddress = u"printsrv.example";
    odd.HoldJobs = 5;
    CPrinterSetting lpd;
    lpd.Name = u"LPD";
    lpd.OutputMode = OUTPUT_LPD;
    lpd.IPAddress = u"10.0.0.7";
    lpd.QueueName = u"RAW";
    lpd.HoldJobs = 1;
    SetPrinters({odd, lpd});

    CDialogConfigureServeur dialog(app_->PrinterList);
    CPrinterSetting shown = Published()[0];
    // An unknown mode takes the checked radio button, printers are matched without regard to case and
    // a missing one is dropped, a host name stays, and only 1 holds.
    EXPECT_EQ(shown.OutputMode, OUTPUT_LOCAL_PRINTER);
    EXPECT_EQ(shown.LocalPrinter, u"Office_Laser");
    EXPECT_EQ(shown.ProgramPrinter, u"");
    EXPECT_EQ(shown.IPAddress, u"printsrv.example");
    EXPECT_EQ(shown.HoldJobs, 0);

    auto* names = Child<QComboBox>(&dialog, "PrinterNameList");
    names->setCurrentIndex(1);
    EXPECT_TRUE(Child<QRadioButton>(&dialog, "LpdModeRadio")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(&dialog, "HoldJobsCheck")->isChecked());
    EXPECT_EQ(Child<QLineEdit>(&dialog, "IpAddressField3")->text(), "7");
    ExpectSameSettings(Published()[1], lpd);

    // One field edited: the dotted text of all four.
    auto* field = Child<QLineEdit>(&dialog, "IpAddressField3");
    field->setText("9");
    emit field->textEdited("9");
    EXPECT_EQ(Published()[1].IPAddress, u"10.0.0.9");

    // Back to the first: its host name is shown as the tooltip and kept until a field is edited.
    names->setCurrentIndex(0);
    auto* address = Child<ui::CIpAddressEdit>(&dialog, "IpAddressControl");
    EXPECT_EQ(address->toolTip(), "printsrv.example");
    EXPECT_EQ(address->Text(), "printsrv.example");
    Child<QRadioButton>(&dialog, "LpdModeRadio")->click();
    EXPECT_EQ(Published()[0].IPAddress, u"printsrv.example");
    field->setText("1");
    emit field->textEdited("1");
    EXPECT_EQ(Published()[0].IPAddress, u"0.0.0.1");
}

TEST_F(ServerConfigurationDialogTest, TheQuestionMarkListsTheProgramParameters) {
    CPrinterSetting pass;
    pass.Name = u"PASS";
    pass.OutputMode = OUTPUT_PROGRAM;
    SetPrinters({pass});
    CDialogConfigureServeur dialog(app_->PrinterList);
    std::vector<ShownMessage> shown;
    AnswerMessageBox(&shown);
    Child<QPushButton>(&dialog, "ParametersButton")->click();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text,
              "List of available parameters :\n\n"
              "%1 : Local file name\n%2 : Printer name\n%3 : Driver name\n%4 : Port name\n\n"
              "%5 : Original document name (or title)\n%6 : Owner\n%7 : Date inserted\n%8 : File size\n"
              "%9 : File type\n%A : Source host\n%B : Job name\n%C : Job class");
    EXPECT_EQ(shown[0].Icon, QMessageBox::Information);
    EXPECT_EQ(shown[0].Caption, "VelmoraVirtualPrinter");
}

TEST_F(ServerConfigurationDialogTest, TheDialogsSpeakTheThreadsLanguage) {
    for (const Language language : {Language::French, Language::Japanese}) {
        test::LanguageScope scope(language);
        SetPrinters({});
        CDialogConfigureServeur dialog(app_->PrinterList);
        EXPECT_EQ(dialog.windowTitle(), Q(LoadString(IDS_DLG_SERVER_TITLE, language)));
        EXPECT_NE(dialog.windowTitle(), "Server configuration");
        EXPECT_EQ(Child<QPushButton>(&dialog, "NewButton")->text(),
                  Q(LoadString(IDS_DLG_SERVER_NEW, language)));
        EXPECT_EQ(Child<QPushButton>(&dialog, "SaveButton")->text(),
                  Q(LoadString(IDS_DLG_SERVER_SAVE, language)));
        EXPECT_EQ(Child<QRadioButton>(&dialog, "LpdModeRadio")->text(),
                  Q(LoadString(IDS_DLG_SERVER_LPD_MODE, language)));
        bool labelled = false;
        for (const QLabel* label : dialog.findChildren<QLabel*>())
            labelled |= label->text() == Q(LoadString(IDS_DLG_SERVER_QUEUE_LABEL, language));
        EXPECT_TRUE(labelled);

        // Messages too, with the product name as caption in every language.
        std::vector<ShownMessage> shown;
        ClickNew(&dialog, "", 1, &shown);
        ClickNew(&dialog, "A;B", 1, &shown);
        ClickNew(&dialog, "PASS");
        AnswerMessageBox(&shown);
        FinishEditing(Child<QLineEdit>(&dialog, "QueueNameEdit"), "Q;");
        ASSERT_EQ(shown.size(), 3u);
        EXPECT_EQ(shown[0].Text, Q(LoadString(IDS_PRINTER_NAME_BLANK, language)));
        EXPECT_EQ(shown[1].Text, Q(LoadString(IDS_DLG_NAME_NOT_STORABLE, language)));
        EXPECT_NE(shown[1].Text, Q(LoadString(IDS_DLG_NAME_NOT_STORABLE, Language::English)));
        // The control is named as its label reads, without the colon.
        QString label = Q(LoadString(IDS_DLG_SERVER_QUEUE_LABEL, language));
        while (label.endsWith(u':') || label.endsWith(u' '))
            label.chop(1);
        EXPECT_TRUE(shown[2].Text.contains(QStringLiteral("「") + label + QStringLiteral("」")) ||
                    shown[2].Text.contains(QStringLiteral("« ") + label + QStringLiteral(" »")))
            << shown[2].Text.toStdString();
        for (const ShownMessage& message : shown)
            EXPECT_EQ(message.Caption, "VelmoraVirtualPrinter");
    }
}

}  // namespace
}  // namespace velmora
