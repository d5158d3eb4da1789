#include "ui/main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>

#include "app/app.h"
#include "platform/keyboard.h"
#include "resources/string_table.h"
#include "resources/window_string_ids.h"
#include "ui/command_ids.h"
#include "ui/dialogs.h"
#include "ui/icons.h"
#include "ui/job_list_view.h"

namespace velmora::ui {

namespace {

QString ToQString(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

QString Text(uint32_t id) {
    return ToQString(LoadString(id));
}

// The string that holds a command's status-bar prompt and, after a line break, its tooltip.
uint32_t PromptId(int command) {
    switch (command) {
        case ID_APP_EXIT:
            return IDS_PROMPT_EXIT;
        case ID_INTERFACE:
            return IDS_PROMPT_INTERFACE;
        default:
            return static_cast<uint32_t>(command);
    }
}

// The lock keys are looked at this often (the window system tells a window of their changes only while it
// has the keyboard).
constexpr int INDICATOR_INTERVAL = 500;

}  // namespace

CMainFrame::CMainFrame(CVelmoraVirtualPrinterApp& app, bool trayAvailable, QWidget* parent)
    : QMainWindow(parent), App(app) {
    setObjectName(QStringLiteral("MainFrame"));
    setWindowIcon(ProgramIcon());
    resize(900, 500);
    JobListView = new CVelmoraVirtualPrinterView(app, this);
    setCentralWidget(JobListView);
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    CreateTrayIcon(trayAvailable);
    connect(JobListView, &CVelmoraVirtualPrinterView::CommandStateChanged, this,
            &CMainFrame::UpdateCommandUi);
    UpdateCommandUi();
}

QAction* CMainFrame::AddCommand(QWidget* container, int command, uint32_t text) {
    auto* action = new QAction(Text(text), container);
    action->setData(command);
    const QString prompt = Text(PromptId(command));
    action->setStatusTip(prompt.section(QLatin1Char('\n'), 0, 0));
    if (prompt.contains(QLatin1Char('\n')))
        action->setToolTip(prompt.section(QLatin1Char('\n'), 1, 1));
    connect(action, &QAction::triggered, this, [this, command] { OnCommand(command); });
    container->addAction(action);
    Commands.push_back(action);
    return action;
}

void CMainFrame::CreateMenus() {
    QMenu* server = menuBar()->addMenu(Text(IDS_MENU_SERVER));
    AddCommand(server, ID_SERVER_STARTING, IDS_MENU_SERVER_STARTING);
    AddCommand(server, ID_SPOOLER_STOP, IDS_MENU_SPOOLER_STOP);
    server->addSeparator();
    AddCommand(server, ID_CONFIGURATION, IDS_MENU_CONFIGURATION);
    server->addSeparator();
    AddCommand(server, ID_PREFERENCES, IDS_MENU_PREFERENCES);
    server->addSeparator();
    AddCommand(server, ID_APP_EXIT, IDS_MENU_EXIT);

    QMenu* job = menuBar()->addMenu(Text(IDS_MENU_SPOOLED_FILE));
    AddCommand(job, ID_JOB_RELEASE, IDS_MENU_JOB_RELEASE);
    AddCommand(job, ID_JOB_STOP, IDS_MENU_JOB_STOP);
    job->addSeparator();
    AddCommand(job, ID_JOB_DELETE, IDS_MENU_JOB_DELETE);
    job->addSeparator();
    AddCommand(job, ID_JOB_TRANSFER, IDS_MENU_JOB_TRANSFER);

    QMenu* tools = menuBar()->addMenu(Text(IDS_MENU_TOOLS));
    AddCommand(tools, ID_SEND_VIA_LPR, IDS_MENU_SEND_VIA_LPR);
    AddCommand(tools, ID_COPY_TO_PRINTER, IDS_MENU_COPY_TO_PRINTER);

    for (QMenu* menu : {server, job, tools})
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUi);
}

void CMainFrame::CreateToolBar() {
    MainToolBar = new QToolBar(Text(IDS_TOOLBAR_TITLE), this);
    MainToolBar->setObjectName(QStringLiteral("ToolBar"));
    MainToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    MainToolBar->setIconSize(QSize(40, 20));
    MainToolBar->setMovable(true);
    MainToolBar->setFloatable(true);
    MainToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    const struct {
        int Command;
        uint32_t Text;
        ToolbarImage Image;
    } buttons[] = {{ID_SPOOLER_START, IDS_START, ToolbarImage::Start},
                   {ID_SPOOLER_STOP, IDS_STOP, ToolbarImage::Stop},
                   {ID_CONFIGURATION, IDS_CONFIGURE, ToolbarImage::Configure}};
    for (const auto& button : buttons)
        AddCommand(MainToolBar, button.Command, button.Text)->setIcon(ToolbarIcon(button.Image));
    addToolBar(Qt::TopToolBarArea, MainToolBar);
}

void CMainFrame::CreateStatusBar() {
    // The idle text is a plain pane: the prompts of the commands cover it while shown.
    auto* idle = new QLabel(Text(IDS_STATUS_IDLE), this);
    idle->setObjectName(QStringLiteral("IdleText"));
    statusBar()->addWidget(idle, 1);
    const uint32_t indicatorIds[3] = {IDS_INDICATOR_CAPS, IDS_INDICATOR_NUM, IDS_INDICATOR_SCROLL};
    for (int i = 0; i < 3; ++i) {
        IndicatorTexts[i] = Text(indicatorIds[i]);
        Indicators[i] = new QLabel(this);
        Indicators[i]->setObjectName(QStringLiteral("Indicator%1").arg(i));
        Indicators[i]->setFrameShape(QFrame::Panel);
        Indicators[i]->setFrameShadow(QFrame::Sunken);
        Indicators[i]->setAlignment(Qt::AlignCenter);
        // As wide as its text also while the key is off and the pane empty.
        Indicators[i]->setMinimumWidth(Indicators[i]->fontMetrics().horizontalAdvance(IndicatorTexts[i]) +
                                       12);
        statusBar()->addPermanentWidget(Indicators[i]);
    }
    UpdateIndicators();
    connect(&IndicatorTimer, &QTimer::timeout, this, &CMainFrame::UpdateIndicators);
    IndicatorTimer.start(INDICATOR_INTERVAL);
}

void CMainFrame::UpdateIndicators() {
    const platform::CLockKeys keys = platform::LockKeyStates();
    const bool on[3] = {keys.CapsLock, keys.NumLock, keys.ScrollLock};
    for (int i = 0; i < 3; ++i)
        Indicators[i]->setText(on[i] ? IndicatorTexts[i] : QString());
}

void CMainFrame::CreateTrayIcon(bool trayAvailable) {
    TrayIconMenu = new QMenu(this);
    TrayIconMenu->setObjectName(QStringLiteral("TrayMenu"));
    AddCommand(TrayIconMenu, ID_SPOOLER_START, IDS_TRAY_START);
    AddCommand(TrayIconMenu, ID_SPOOLER_STOP, IDS_MENU_SPOOLER_STOP);
    TrayIconMenu->addSeparator();
    AddCommand(TrayIconMenu, ID_INTERFACE, IDS_TRAY_INTERFACE);
    connect(TrayIconMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUi);
    SystemTray.Create(this, TrayIconMenu, Text(IDS_TRAY_TOOLTIP), ProgramIcon(), trayAvailable);
    SystemTray.SetIconByResource(App.Spooler.IsSpoolerRunning() ? IDI_SPOOLER_RUNNING : IDI_SPOOLER_STOPPED);
    // "&Interface", after Start, Stop and the separator.
    SystemTray.SetMenuDefaultItem(3, true);
}

bool CMainFrame::IsCommandEnabled(int command) const {
    switch (command) {
        case ID_SERVER_STARTING:
            // Nothing is bound to it: shown for the record, never available.
            return false;
        case ID_SPOOLER_START:
        case ID_CONFIGURATION:
            return !App.Spooler.IsSpoolerRunning();
        case ID_SPOOLER_STOP:
            return App.Spooler.IsSpoolerRunning();
        case ID_PREFERENCES:
        case ID_SEND_VIA_LPR:
        case ID_COPY_TO_PRINTER:
        case ID_INTERFACE:
        case ID_APP_EXIT:
            return true;
        case ID_JOB_RELEASE:
        case ID_JOB_STOP:
        case ID_JOB_DELETE:
        case ID_JOB_TRANSFER:
            return JobListView->IsJobCommandEnabled(command);
        default:
            return false;
    }
}

void CMainFrame::OnCommand(int command) {
    if (!IsCommandEnabled(command))
        return;
    switch (command) {
        case ID_SPOOLER_START:
            App.Spooler.StartSpooler();
            break;
        case ID_SPOOLER_STOP:
            App.Spooler.StopSpooler();
            break;
        case ID_CONFIGURATION:
            OnServerConfiguration(App, this);
            break;
        case ID_PREFERENCES:
            OnPreferences(App, this);
            break;
        case ID_SEND_VIA_LPR:
            SendFileByLpr(this);
            break;
        case ID_COPY_TO_PRINTER:
            CopyFileToPrinter(this);
            break;
        case ID_INTERFACE:
            ShowInterface();
            break;
        case ID_APP_EXIT:
            close();
            break;
        default:
            JobListView->OnJobCommand(command);
            break;
    }
    UpdateCommandUi();
}

void CMainFrame::UpdateCommandUi() {
    for (QAction* action : Commands)
        action->setEnabled(IsCommandEnabled(action->data().toInt()));
}

void CMainFrame::SetSpoolerIcon(int iconId) {
    SystemTray.SetIconByResource(iconId);
    UpdateCommandUi();
}

bool CMainFrame::HidesWhenMinimized() const {
    return SystemTray.IsEnabled();
}

void CMainFrame::ShowInterface() {
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
    show();
    raise();
    activateWindow();
}

void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && HidesWhenMinimized()) {
        // Hidden once the minimising is done; the tray icon brings the window back.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
    }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // Closing the main window ends the program, also while other windows are open.
    event->accept();
    QCoreApplication::quit();
}

}  // namespace velmora::ui
