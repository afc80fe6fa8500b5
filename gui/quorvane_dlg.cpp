#include "gui/quorvane_dlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QTabBar>
#include <QToolBar>
#include <algorithm>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

#include "core/host_log.h"
#include "desktop/desktop_commands.h"
#include "desktop/options_form.h"
#include "gui/about_dlg.h"
#include "gui/dialogs/c_dlg_hosts.h"
#include "gui/dialogs/dlg_logs.h"
#include "gui/dialogs/dlg_tab_names.h"
#include "gui/dialogs/opt_dlg.h"
#include "gui/dialogs/trace_logs.h"
#include "gui/window_message_sink.h"
#include "mail/test_mail.h"
#include "platform/error_text.h"
#include "settings/autostart.h"
#include "settings/config_files.h"
#include "settings/data_directory.h"
#include "settings/mail_config.h"

namespace qv::gui {
namespace {

// The window is laid out in the dialog units of its original font: x * 6 / 4 and
// y * 13 / 8 pixels, rounded like the platform that defined them.
int DuX(int x) {
    return (x * 6 + 2) / 4;
}
int DuY(int y) {
    return (y * 13 + 4) / 8;
}
QRect DuRect(int x, int y, int w, int h) {
    return QRect(QPoint(DuX(x), DuY(y)), QPoint(DuX(x + w) - 1, DuY(y + h) - 1));
}

const QColor kLabelText(50, 0, 225);

// The service program runs systemctl, whose start waits for the service to be up (90 s
// at most by systemd's default); beyond this it is ended as hung.
constexpr int kServiceRunLimitMs = 180'000;
// How long File > Exit lets a running service program finish before it ends it.
constexpr int kServiceRunExitWaitMs = 5'000;

// A configuration file that could not be written is told as every file failure is.
void ShowSaveFailure(MessageBoxes& boxes, QWidget* parent, const std::string& failure) {
    boxes.Show(parent, QString::fromStdString(failure), QStringLiteral("Error"), BoxIcon::Error);
}

// Tops of each pane's frame, graph and statistics line, in dialog units.
constexpr int kFrameTop[kPanes] = {47, 114, 181, 248, 316};
constexpr int kGraphTop[kPanes] = {63, 130, 197, 264, 333};
constexpr int kStatsTop[kPanes] = {53, 120, 187, 254, 322};

struct ScrollButton {
    int id;
    const char* text;
    const char* accessibleName;
    int x;
    int minutes;  // negative: back in time
};
constexpr ScrollButton kScrollButtons[] = {
    {kBack60, "< 1 hour", "Scroll back 1 hour", 11, -60},
    {kBack30, "< 30 min", "Scroll back 30 minutes", 53, -30},
    {kBack10, "< 10 min", "Scroll back 10 minutes", 95, -10},
    {kBack5, "< 5 min", "Scroll back 5 minutes", 137, -5},
    {kForward5, "5 min >", "Scroll forward 5 minutes", 450, 5},
    {kForward10, "10 min >", "Scroll forward 10 minutes", 492, 10},
    {kForward30, "30 min >", "Scroll forward 30 minutes", 534, 30},
    {kForward60, "1 hour >", "Scroll forward 1 hour", 576, 60},
};

// The order in which the toolbar's show and hide moves the controls.
constexpr int kMovedByToolbar[] = {1039, 1003, 1002, 1006, 1005, 1009, 1008, 1012, 1011,
                                   1015, 1014, 1004, 1007, 1010, 1013, 1016, 1042, 1030,
                                   1027, 1028, 1031, 1035, 1032, 1034, 1033};

QString Caption(const std::string& caption) {
    // Group boxes and tabs read "&" as a mnemonic.
    return QString::fromStdString(caption).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// The file-open chooser of "Open log...": existing *.log files, starting in `start`.
std::optional<QString> ChooseLogFile(QWidget* parent, const QString& start) {
    QFileDialog dialog(parent, QStringLiteral("Open"), start, QStringLiteral("LOG files(*.log)"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("log"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().constFirst();
}

}  // namespace

// The service program runs on a thread of its own, so the window and its tick go on
// meanwhile; its end is handed to the window thread as a queued call.
struct CQuorvaneDlg::ServiceRun {
    Settings settings;  // taken over once the program has run
    ProcessResult result;
    std::thread thread;
};

CQuorvaneDlg::CQuorvaneDlg(DesktopParts parts)
    : ctx_(parts.ctx),
      boxes_(parts.boxes),
      sink_(parts.sink),
      programPath_(std::move(parts.programPath)),
      tray_(parts.tray, parts.boxes),
      images_(parts.ctx.table, parts.ctx.seams.clock, state_),
      serviceRunner_(parts.serviceRunner),
      serviceProgram_(parts.serviceProgram.empty() ? ServiceProgramPath(programPath_)
                                                   : std::move(parts.serviceProgram)),
      autostart_(parts.autostart),
      chooseLogFile_(std::move(parts.chooseLogFile)),
      chooseSoundFile_(std::move(parts.chooseSoundFile)) {
    notices_ = parts.notices;
    if (serviceRunner_ == nullptr) {
        // Its own process group, so that a run cut short takes whatever it started along.
        ownRunner_ = std::make_unique<SystemProcessRunner>(
            SystemProcessRunner::Output::ErrorOnly,
            SystemProcessRunner::Limits{kServiceRunLimitMs, /*ownGroup=*/true});
        serviceRunner_ = ownRunner_.get();
    }
    if (autostart_ == nullptr) {
        ownAutostart_ = std::make_unique<Autostart>();
        autostart_ = ownAutostart_.get();
    }
    if (!chooseLogFile_) {
        chooseLogFile_ = ChooseLogFile;
    }
    tray_.SetOwner(this);
    if (sink_ != nullptr) {
        sink_->SetOwner(this);
        tray_.SetSink(sink_);
    }
    setWindowTitle(kProgramCaption);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setAccessibleName(kProgramCaption);
    InstallStatisticsAccessibility();

    client_ = new QWidget(this);
    QFont font = client_->font();
    font.setPixelSize(11);
    client_->setFont(font);
    client_->setFixedSize(DuX(627), DuY(422));
    // Frame lines run through the middle of their titles, so the statistics line sits inside
    // its pane's frame; the selected pane stands out in the selection colour.
    client_->setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid #a0a0a0; border-radius: 2px; margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
        " left: 6px; padding: 0 2px; }"
        "QGroupBox[selected=\"true\"] { background-color: rgb(190, 190, 230); }"
        "QGroupBox:focus { border: 2px solid palette(highlight); }"
        "QGroupBox#timeScroll::title { color: rgb(50, 0, 225); }"));
    setCentralWidget(client_);

    BuildMenu();
    BuildToolBar(client_);
    BuildPanes(client_);
    BuildTimeScroll(client_);
    adjustSize();
    setFixedSize(sizeHint());

    connect(&parts.tray, &TrayBackend::LeftClicked, this, &CQuorvaneDlg::ShowFromTray);
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &CQuorvaneDlg::Tick);
}

CQuorvaneDlg::~CQuorvaneDlg() {
    // The service program may be half way through the unit: it gets a while to finish.
    if (serviceRun_ != nullptr && serviceRun_->thread.joinable()) {
        serviceRunner_->EndRunsWithin(kServiceRunExitWaitMs);
        serviceRun_->thread.join();
    }
}

void CQuorvaneDlg::BuildMenu() {
    struct Item {
        const char* menu;
        const char* text;  // null: a separator
        int id;
        void (CQuorvaneDlg::*slot)();
    };
    const Item items[] = {
        {"&File", "&Open log...", kCmdOpenLog, &CQuorvaneDlg::OnOpenLog},
        {"&File", nullptr, 0, nullptr},
        {"&File", "&Hide", kCmdHide, &CQuorvaneDlg::OnHide},
        {"&File", nullptr, 0, nullptr},
        {"&File", "E&xit", kCmdExit, &CQuorvaneDlg::OnExit},
        {"&Hosts", "&Add/remove hosts...", kCmdEditHosts, &CQuorvaneDlg::OnEditHosts},
        {"&Hosts", "Open log &file...", kCmdOpenLogFile, &CQuorvaneDlg::OnOpenLog},
        {"&Hosts", "Show current &history", kCmdShowHistory, &CQuorvaneDlg::OnShowHistory},
        {"&Hosts", "Show &tracert logs", kCmdTraceLogs, &CQuorvaneDlg::OnTraceLogs},
        {"&Options", "&Options...", kCmdOptions, &CQuorvaneDlg::OnOptions},
        {"&Options", "Show tool&bar", kCmdShowToolbar, &CQuorvaneDlg::OnToggleToolbar},
        {"&Options", "Set tab &names...", kCmdTabNames, &CQuorvaneDlg::OnTabNames},
        {"&Help", "&About...", kCmdAbout, &CQuorvaneDlg::OnAbout},
    };
    std::map<QString, QMenu*> menus;
    for (const Item& item : items) {
        const QString title = QString::fromLatin1(item.menu);
        QMenu*& menu = menus[title];
        if (menu == nullptr) {
            menu = menuBar()->addMenu(title);
        }
        if (item.text == nullptr) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(QString::fromLatin1(item.text), this, item.slot);
        commands_[item.id] = action;
    }
    commands_[kCmdShowToolbar]->setCheckable(true);
    commands_[kCmdShowToolbar]->setChecked(true);
}

void CQuorvaneDlg::BuildToolBar(QWidget* client) {
    struct Button {
        int id;
        int menuId;        // the menu item of the same action, which shows the same picture
        const char* text;  // prompt and tooltip
        const char* icon;
        void (CQuorvaneDlg::*slot)();
    };
    const Button buttons[] = {
        {kButtonOpenLog, kCmdOpenLog, "Open log file", "tb_open_log.svg", &CQuorvaneDlg::OnOpenLog},
        {kButtonHistory, kCmdShowHistory, "Show current history", "tb_history.svg",
         &CQuorvaneDlg::OnShowHistory},
        {kButtonTraceLogs, kCmdTraceLogs, "Show tracert logs", "tb_tracert.svg",
         &CQuorvaneDlg::OnTraceLogs},
        {0, 0, nullptr, nullptr, nullptr},
        {kButtonOptions, kCmdOptions, "Options", "tb_options.svg", &CQuorvaneDlg::OnOptions},
        {0, 0, nullptr, nullptr, nullptr},
        {kButtonHosts, kCmdEditHosts, "Add/remove hosts", "tb_hosts.svg",
         &CQuorvaneDlg::OnEditHosts},
    };
    toolbar_ = new QToolBar(client);
    toolbar_->setAccessibleName(QStringLiteral("Toolbar"));
    toolbar_->setIconSize(QSize(16, 16));
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    for (const Button& b : buttons) {
        if (b.text == nullptr) {
            toolbar_->addSeparator();
            continue;
        }
        const QString text = QString::fromLatin1(b.text);
        const QIcon icon(QStringLiteral(":/gui/resources/") + QString::fromLatin1(b.icon));
        QAction* action = toolbar_->addAction(icon, text, this, b.slot);
        action->setToolTip(text);
        action->setStatusTip(text);
        commands_[b.id] = action;
        commands_[b.menuId]->setIcon(icon);
    }
    commands_[kCmdOpenLogFile]->setIcon(commands_[kCmdOpenLog]->icon());
    toolbar_->setGeometry(0, 0, client->width(), toolbar_->sizeHint().height());
}

void CQuorvaneDlg::BuildPanes(QWidget* client) {
    tabFrame_ = new QFrame(client);
    static_cast<QFrame*>(tabFrame_)->setFrameShape(QFrame::StyledPanel);
    tabs_ = new QTabBar(client);
    tabs_->setAccessibleName(QStringLiteral("Host tabs"));
    tabs_->setDrawBase(false);
    tabs_->setExpanding(false);
    const QRect tabRect = DuRect(3, 29, 620, 357);
    tabs_->addTab(QStringLiteral("Unnamed"));  // measures the bar's height
    tabs_->setGeometry(tabRect.x(), tabRect.y(), tabRect.width(), tabs_->sizeHint().height());
    tabs_->removeTab(0);
    tabFrame_->setGeometry(tabRect.adjusted(0, tabs_->height() - 1, 0, 0));
    tabFrame_->lower();
    controls_[kTabControl] = tabs_;
    connect(tabs_, &QTabBar::currentChanged, this, &CQuorvaneDlg::ShowTab);

    for (int i = 0; i < kPanes; ++i) {
        auto* frame = new QGroupBox(client);
        frame->setGeometry(DuRect(7, kFrameTop[i], 612, 65));
        frame->setAttribute(Qt::WA_TransparentForMouseEvents);
        frame->setAccessibleName(QStringLiteral("Pane %1").arg(i + 1));
        // Tab reaches the panes; focus selects one as a click does.
        frame->setFocusPolicy(Qt::StrongFocus);
        frame->installEventFilter(this);
        auto* graph = new CGraphic(images_, client);
        graph->setGeometry(DuRect(12, kGraphTop[i], 603, 45));
        graph->hostSlot = i;
        graph->setAccessibleName(QStringLiteral("Empty graph"));
        auto* stats = new StatisticsLabel(client);
        stats->setGeometry(DuRect(201, kStatsTop[i], 400, 8));
        stats->setAttribute(Qt::WA_TransparentForMouseEvents);
        stats->setAccessibleName(QStringLiteral("Statistics of pane %1").arg(i + 1));
        frames_[i] = frame;
        graphs_[i] = graph;
        stats_[i] = stats;
        controls_[kFirstPaneFrame + 3 * i] = frame;
        controls_[kFirstPaneFrame + 3 * i + 1] = graph;
        controls_[kFirstPaneFrame + 3 * i + 2] = stats;
    }
    SetSelectedPane(0);
}

void CQuorvaneDlg::BuildTimeScroll(QWidget* client) {
    auto* group = new QGroupBox(QStringLiteral("Time scroll: "), client);
    group->setGeometry(DuRect(7, 387, 613, 25));
    group->setAccessibleName(QStringLiteral("Time scroll"));
    group->setObjectName(QStringLiteral("timeScroll"));
    controls_[kTimeScrollGroup] = group;
    for (const ScrollButton& b : kScrollButtons) {
        auto* button = new QPushButton(QString::fromLatin1(b.text), client);
        button->setGeometry(DuRect(b.x, 394, 40, 14));
        button->setAccessibleName(QString::fromLatin1(b.accessibleName));
        button->setAutoDefault(false);
        const int id = b.id;
        connect(button, &QPushButton::clicked, this, [this, id] { TimeScroll(id); });
        controls_[b.id] = button;
    }
}

void CQuorvaneDlg::Initialize() {
    setWindowIcon(QIcon(kProgramIcon));
    layoutUnchanged = true;
    toolbarShown = true;
    tray_.Add();
    CreateDataDirectory(ctx_.dataDirectory);
    for (int t = 0; t < kTabCount; ++t) {
        state_.tabNames[t] = DefaultTabName(t);
    }
    LoadHostList(ctx_.dataDirectory, ctx_.table);
    LoadSettings(ctx_.dataDirectory, ctx_.settings, ctx_.rules, programPath_);
    LoadMailSecurity();
    LoadTabNames(ctx_.dataDirectory, state_.tabNames);
    RebuildTabs();
    ShowTab(0);  // panes 0 to 4 show slots 0 to 4
    timer_.start();
}

void CQuorvaneDlg::RebuildTabs() {
    const QSignalBlocker block(tabs_);
    const int wanted = TabCount(ctx_.table.hostCount);
    while (tabs_->count() > wanted) {
        tabs_->removeTab(tabs_->count() - 1);
    }
    for (int t = 0; t < wanted; ++t) {
        const QString name = Caption(state_.tabNames[t]);
        if (t < tabs_->count()) {
            tabs_->setTabText(t, name);
        } else {
            tabs_->addTab(name);
        }
        tabs_->setTabTextColor(t, kLabelText);
    }
}

void CQuorvaneDlg::ShowTab(int tab) {
    if (tab < 0) {
        return;
    }
    state_.firstVisibleSlot = tab * kPanes;
    for (int i = 0; i < kPanes; ++i) {
        stats_[i]->SetLine(QString(), std::nullopt);
        graphs_[i]->hostSlot = state_.firstVisibleSlot + i;
    }
    ShowCaptions();
}

void CQuorvaneDlg::ShowCaptions() {
    const std::vector<std::string> captions = TabCaptions(ctx_.table, state_.firstVisibleSlot);
    for (int i = 0; i < kPanes; ++i) {
        const bool named = i < static_cast<int>(captions.size());
        const QString caption = named ? Caption(captions[i]) : QString();
        frames_[i]->setTitle(caption);
        const QString plain = named ? QString::fromStdString(captions[i]) : QString();
        frames_[i]->setAccessibleName(named ? plain : QStringLiteral("Pane %1").arg(i + 1));
        graphs_[i]->setAccessibleName(named ? QStringLiteral("Graph of ") + plain
                                            : QStringLiteral("Empty graph"));
        stats_[i]->setAccessibleName(named ? QStringLiteral("Statistics of ") + plain
                                           : QStringLiteral("Statistics of pane %1").arg(i + 1));
    }
    update();
}

void CQuorvaneDlg::SetSelectedPane(int pane) {
    if (pane < 0 || pane >= kPanes) {
        return;
    }
    state_.selectedPane = pane;
    for (int i = 0; i < kPanes; ++i) {
        frames_[i]->setProperty("selected", i == pane);
        frames_[i]->style()->unpolish(frames_[i]);
        frames_[i]->style()->polish(frames_[i]);
    }
    update();
}

std::tm CQuorvaneDlg::LocalNow() {
    std::tm now{};
    ctx_.seams.clock.LocalTime(ctx_.seams.clock.Now(), now);
    return now;
}

void CQuorvaneDlg::TimeScroll(int buttonId) {
    for (const ScrollButton& b : kScrollButtons) {
        if (b.id == buttonId) {
            state_.scrollMinutes = b.minutes < 0
                                       ? ScrollBack(state_.scrollMinutes, -b.minutes, LocalNow())
                                       : ScrollForward(state_.scrollMinutes, b.minutes);
        }
    }
}

void CQuorvaneDlg::Tick() {
    // Nothing in the tick shows a box (messages wait in the sink until it is over); the
    // guard keeps a box that a test or a fault opens from running a tick inside a tick.
    if (ticking_) {
        return;
    }
    ticking_ = true;
    tray_.Poll();
    tickNotice_.clear();
    DesktopTick(ctx_, state_, *this);
    if (!tickNotice_.isEmpty()) {
        DeliverNotice(tickNotice_);
    }
    ticking_ = false;
}

void CQuorvaneDlg::DeliverNotice(const QString& balloonText) {
    const QString body = NoticeBody(balloonText);
    const QString icon = state_.lastAllUp ? kThemeIconAllUp : kThemeIconSomeDown;
    if (notices_ != nullptr && notices_->Send(body, UrgencyOf(body), icon)) {
        return;
    }
    if (tray_.Available()) {
        tray_.Balloon(balloonText);
        return;
    }
    QApplication::alert(this);
}

void CQuorvaneDlg::ShowStatistics(int pane, const std::string& line) {
    const HostEntry& entry = ctx_.table.Entry(state_.firstVisibleSlot + pane);
    stats_[pane]->SetLine(QString::fromStdString(line), entry.up != 0);
    graphs_[pane]->update();
}

void CQuorvaneDlg::ShowBalloon(const std::string& text) {
    tickNotice_ = QString::fromStdString(text);
}

void CQuorvaneDlg::SetTrayStatus(bool allUp) {
    tray_.SetStatus(allUp);
}

void CQuorvaneDlg::StopAllHosts() {
    ctx_.table.StopAllHosts();
}

void CQuorvaneDlg::ExchangeSlots(int slotA, int slotB) {
    images_.Exchange(slotA, slotB);
}

QWidget* CQuorvaneDlg::Control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

QAction* CQuorvaneDlg::Command(int id) const {
    auto it = commands_.find(id);
    return it == commands_.end() ? nullptr : it->second;
}

void CQuorvaneDlg::ShowFromTray() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void CQuorvaneDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    // Without a notification area a hidden window could not be reached again.
    if (tray_.Available()) {
        hide();
    } else {
        showMinimized();
    }
}

void CQuorvaneDlg::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && tray_.Available()) {
        // Hidden after the state change has settled; it comes back un-minimised.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized()) {
                setWindowState(windowState() & ~Qt::WindowMinimized);
                hide();
            }
        });
    }
}

bool CQuorvaneDlg::eventFilter(QObject* watched, QEvent* event) {
    const auto* frame = std::find(frames_.begin(), frames_.end(), watched);
    if (frame == frames_.end()) {
        return QMainWindow::eventFilter(watched, event);
    }
    const int pane = static_cast<int>(frame - frames_.begin());
    if (event->type() == QEvent::FocusIn) {
        SetSelectedPane(pane);
    } else if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const int step = key == Qt::Key_Up || key == Qt::Key_Left      ? -1
                         : key == Qt::Key_Down || key == Qt::Key_Right ? 1
                                                                       : 0;
        if (step != 0) {
            const int next = pane + step;
            if (next >= 0 && next < kPanes) {
                frames_[next]->setFocus(Qt::OtherFocusReason);
            }
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void CQuorvaneDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QPoint top = frames_[0]->mapToGlobal(QPoint(0, 0));
        const int pane =
            PaneAtY(event->globalPosition().toPoint().y(), top.y(), frames_[0]->height());
        if (pane >= 0) {
            SetSelectedPane(pane);
            return;
        }
    }
    QMainWindow::mousePressEvent(event);
}

void CQuorvaneDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(QStringLiteral("&About TarnwickServerMonitor..."), this, &CQuorvaneDlg::OnAbout);
    menu.exec(event->globalPos());
}

void CQuorvaneDlg::OnOpenLog() {
    const std::optional<QString> path =
        chooseLogFile_(this, QString::fromStdString(ctx_.dataDirectory));
    if (!path || ending_) {
        return;
    }
    DlgLogs history(*path, boxes_, this);
    history.exec();
}

void CQuorvaneDlg::OnHide() {
    hide();
}

void CQuorvaneDlg::OnExit() {
    if (ending_) {
        return;
    }
    ending_ = true;
    tray_.Remove();
    std::string failure;
    if (!SaveHostList(ctx_.dataDirectory, ctx_.table, &failure)) {
        // The last chance to keep the hosts changed since the last save: the user hears of
        // it before the program ends (and a log of the session's output does too).
        std::fprintf(stderr, "Quorvane: %s\n", failure.c_str());
        ShowSaveFailure(boxes_, nullptr,
                        failure + "\nHosts added or changed since the last save are lost.");
    }
    // A service program still running gets a while to finish its work, and its settings
    // are kept when it succeeds; a hung one is ended.
    if (serviceRun_ != nullptr) {
        serviceRunner_->EndRunsWithin(kServiceRunExitWaitMs);
    }
    FinishServiceRun(false);
    hide();
    emit Ended();
}

void CQuorvaneDlg::OnEditHosts() {
    layoutUnchanged = true;
    {
        CDlgHosts hosts(
            ctx_.table, ctx_.dataDirectory, state_.tabNames, layoutUnchanged, ctx_.seams.clock,
            boxes_, [this](int a, int b) { ExchangeSlots(a, b); }, {}, this);
        hosts.exec();
    }
    std::string failure;
    const bool saved = SaveHostList(ctx_.dataDirectory, ctx_.table, &failure);
    if (ending_) {
        return;
    }
    if (!saved) {
        ShowSaveFailure(boxes_, this, failure);
    }
    if (!layoutUnchanged) {
        RestartMonitoring(saved);
    } else {
        // Hosts added in the dialog fill the panes of the tab in front and may need a tab.
        ShowCaptions();
        RebuildTabs();
    }
    update();
}

void CQuorvaneDlg::RestartMonitoring(bool listSaved) {
    struct Host {
        std::string name;
        int32_t probeValue;
        int port;
    };
    std::vector<Host> hosts;
    if (!listSaved) {
        // Re-reading the old file (or none, which means the default hosts) would undo what
        // the dialog did.
        for (int slot = 0; slot < kMaxHosts; ++slot) {
            const HostEntry& e = ctx_.table.Entry(slot);
            if (e.active != 0) {
                hosts.push_back(
                    {e.name, e.probeValue, e.isIcmp != 0 ? 0 : int{static_cast<int16_t>(e.port)}});
            }
        }
    }
    StopAllHosts();
    CreateDataDirectory(ctx_.dataDirectory);
    if (listSaved) {
        LoadHostList(ctx_.dataDirectory, ctx_.table);
    } else {
        for (const Host& h : hosts) {
            ctx_.table.AddHost(h.name, h.probeValue, h.port, /*saveList=*/false,
                               /*startProber=*/true);
        }
    }
    RebuildTabs();
    {
        const QSignalBlocker block(tabs_);
        tabs_->setCurrentIndex(0);
    }
    ShowTab(0);
}

void CQuorvaneDlg::OnShowHistory() {
    enum class Outcome { NoHost, Placeholder, NotWritten, Written } outcome;
    std::string path;
    {
        // No sample is appended while the day is copied.
        std::lock_guard<std::recursive_mutex> lock(ctx_.table.SampleLock());
        const HostEntry& e = ctx_.table.Entry(state_.firstVisibleSlot + state_.selectedPane);
        if (e.active == 0) {
            outcome = Outcome::NoHost;
        } else if (e.probeValue == 0) {
            outcome = Outcome::Placeholder;
        } else {
            const std::tm now = LocalNow();
            path = ctx_.dataDirectory + "/" + HistorySnapshotFileName(e.name);
            outcome = WriteHistorySnapshot(path, e.samples, SecondsSinceMidnight(now))
                          ? Outcome::Written
                          : Outcome::NotWritten;
        }
    }
    // Boxes and the dialog come after the lock: the tick goes on while they are open.
    switch (outcome) {
        case Outcome::NoHost:
            boxes_.Show(this, QStringLiteral("Select a host to show log."), kProgramCaption,
                        BoxIcon::None);
            return;
        case Outcome::Placeholder:
            boxes_.Show(this, QStringLiteral("Empty host is selected! Select a host to show log."),
                        kProgramCaption, BoxIcon::None);
            return;
        case Outcome::NotWritten:
            return;
        case Outcome::Written:
            break;
    }
    DlgLogs history(QString::fromStdString(path), boxes_, this);
    history.exec();
}

void CQuorvaneDlg::OnTraceLogs() {
    CTraceLogs logs(ctx_.dataDirectory, ctx_.seams.clock, boxes_, this);
    logs.exec();
}

void CQuorvaneDlg::OnOptions() {
    // One switch of the service mode at a time.
    if (serviceRun_ != nullptr) {
        return;
    }
    OptDlg options(ctx_.settings, boxes_, *autostart_, programPath_, chooseSoundFile_, this);
    options.SetMailSecurity(mailSecurity_);
    options.SetTestMailer([this](const TestMailTarget& target, const MailSecurityOptions& security,
                                 std::function<void(bool, const std::string&)> done) {
        MailRequest request;
        request.server = target.server;
        request.port = target.port;
        request.from = target.address;
        request.to = target.address;
        request.subject = kTestMailSubject;
        request.body = kTestMailBody;
        if (!ctx_.mailQueue.EnqueueTest(std::move(request), security, done)) {
            done(false, "The program is ending");
        }
    });
    if (options.exec() != QDialog::Accepted || ending_) {
        return;
    }
    if (options.mailSecurity() != mailSecurity_) {
        std::string error;
        if (!SaveMailConfig(ctx_.dataDirectory, options.mailSecurity(), &error)) {
            boxes_.Show(this, QString::fromStdString(error), QStringLiteral("Error"),
                        BoxIcon::Error);
        }
    }
    // Read back whether changed here or by hand: what is in force is what the file says.
    LoadMailSecurity();
    const Settings updated = options.settings();
    ResetWatchersForOptions(ctx_.table, ctx_.settings, updated);
    if (updated.general.serviceMode != ctx_.settings.general.serviceMode) {
        StartServiceRun(updated);
        return;
    }
    TakeOverSettings(updated);
}

void CQuorvaneDlg::StartServiceRun(const Settings& settings) {
    for (int id : {kCmdOptions, kButtonOptions}) {
        commands_[id]->setEnabled(false);
    }
    serviceRun_ = std::make_unique<ServiceRun>();
    ServiceRun* run = serviceRun_.get();
    run->settings = settings;
    std::vector<std::string> argv =
        ServiceCommandLine(serviceProgram_, settings.general.serviceMode != 0, ctx_.dataDirectory);
    ProcessRunner* runner = serviceRunner_;
    run->thread = std::thread([this, run, runner, argv = std::move(argv)] {
        run->result = runner->Run(argv);
        // By name: the result stays with us (the join hands it over), Qt only wakes us.
        QMetaObject::invokeMethod(this, "ServiceRunEnded", Qt::QueuedConnection);
    });
}

void CQuorvaneDlg::ServiceRunEnded() {
    FinishServiceRun(true);
}

void CQuorvaneDlg::FinishServiceRun(bool showBoxes) {
    if (serviceRun_ == nullptr) {
        return;
    }
    serviceRun_->thread.join();
    const std::unique_ptr<ServiceRun> run = std::move(serviceRun_);
    for (int id : {kCmdOptions, kButtonOptions}) {
        commands_[id]->setEnabled(true);
    }
    if (run->result.startError != 0) {
        // The options stay as they were: the mode saved would not be the mode in force.
        if (showBoxes) {
            boxes_.Show(nullptr, QString::fromStdString(SystemErrorText(run->result.startError)),
                        QStringLiteral("Error"), BoxIcon::Information);
        }
        emit ServiceRunFinished();
        return;
    }
    const bool switched = run->result.exitCode == 0 && !run->result.cutShort;
    if (switched) {
        // Saved before the service program's boxes: nothing waits on the user's "OK". The
        // autostart entry follows the mode only now that the mode is in force.
        TakeOverSettings(run->settings);
        if (int error = ApplyAutostart(run->settings.general, *autostart_, programPath_);
            error != 0 && showBoxes) {
            boxes_.Show(this, QString::fromStdString(SystemErrorText(error)),
                        QStringLiteral("Error"), BoxIcon::Information);
        }
    } else if (showBoxes && run->result.cutShort) {
        boxes_.Show(this,
                    QStringLiteral("The service program did not finish in time and was ended; "
                                   "nothing was changed."),
                    QStringLiteral("Error"), BoxIcon::Error);
    }
    // A failed switch changes nothing: the program's boxes say why.
    if (showBoxes) {
        for (const std::string& text : ServiceBoxTexts(run->result.output)) {
            boxes_.Show(this, QString::fromStdString(text), QStringLiteral("Halvoric"),
                        BoxIcon::None);
        }
    }
    emit ServiceRunFinished();
}

void CQuorvaneDlg::LoadMailSecurity() {
    const MailConfigLoad config = LoadMailConfig(ctx_.dataDirectory);
    mailSecurity_ = config.options;
    ctx_.seams.mail.SetSecurity(mailSecurity_);
    if (!config.warning.empty()) {
        boxes_.Show(this, QString::fromStdString(config.warning), kProgramCaption,
                    BoxIcon::Warning);
    }
}

void CQuorvaneDlg::TakeOverSettings(const Settings& settings) {
    ctx_.settings = settings;
    if (std::string failure; !SaveSettings(ctx_.dataDirectory, ctx_.settings, &failure)) {
        ShowSaveFailure(boxes_, this, failure);
    }
}

void CQuorvaneDlg::OnToggleToolbar() {
    toolbarShown = !toolbarShown;
    commands_[kCmdShowToolbar]->setChecked(toolbarShown);
    toolbar_->setVisible(toolbarShown);
    const int d = toolbarShown ? toolbar_->height() : -toolbar_->height();
    for (int id : kMovedByToolbar) {
        if (QWidget* w = Control(id)) {
            w->move(w->x(), w->y() + d);
        }
    }
    tabFrame_->move(tabFrame_->x(), tabFrame_->y() + d);
    client_->setFixedSize(client_->width(), client_->height() + d);
    setFixedSize(width(), height() + d);
    update();
}

void CQuorvaneDlg::OnTabNames() {
    {
        DlgTabNames names(state_.tabNames, boxes_, this);
        names.exec();
    }
    if (std::string failure; !SaveTabNames(ctx_.dataDirectory, state_.tabNames, &failure)) {
        ShowSaveFailure(boxes_, this, failure);
    }
    if (ctx_.table.hostCount > 0) {
        RebuildTabs();
    }
    update();
}

void CQuorvaneDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

}  // namespace qv::gui
