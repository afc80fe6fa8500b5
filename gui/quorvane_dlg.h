// CQuorvaneDlg, the main window: tabs of five panes with their graphs and statistics, the
// time-scroll buttons, the menu bar and toolbar, the tray icon and the refresh tick.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/mail_security.h"
#include "core/monitor_context.h"
#include "desktop/desktop_view.h"
#include "gui/desktop_notifier.h"
#include "gui/graphic.h"
#include "gui/message_boxes.h"
#include "gui/statistics_label.h"
#include "gui/tray.h"
#include "platform/process.h"

class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QTabBar;
class QToolBar;
class QAction;

namespace qv {
class Autostart;
}

namespace qv::gui {

class WindowMessageSink;

inline const QString kProgramIcon = QStringLiteral(":/gui/resources/icon128.svg");

// Control and command ids of the main window.
enum ControlId : int {
    kTabControl = 1039,
    kFirstPaneFrame = 1002,  // pane i: frame 1002 + 3i, graph 1003 + 3i, statistics 1004 + 3i
    kTimeScrollGroup = 1042,
    kBack60 = 1027,
    kBack30 = 1028,
    kBack10 = 1030,
    kBack5 = 1031,
    kForward5 = 1032,
    kForward10 = 1033,
    kForward30 = 1034,
    kForward60 = 1035,
};
enum CommandId : int {
    kCmdOpenLog = 32775,
    kCmdOpenLogFile = 32774,
    kCmdHide = 32777,
    kCmdExit = 32773,
    kCmdEditHosts = 32782,
    kCmdShowHistory = 32781,
    kCmdTraceLogs = 32789,
    kCmdOptions = 32780,
    kCmdShowToolbar = 32788,
    kCmdTabNames = 32790,
    kCmdAbout = 32779,
    kButtonOpenLog = 32785,
    kButtonHistory = 32784,
    kButtonTraceLogs = 32787,
    kButtonOptions = 32786,
    kButtonHosts = 32783,
};

// What the main window works with; the program makes one of each, tests their own.
struct DesktopParts {
    MonitorContext& ctx;
    MessageBoxes& boxes;
    TrayBackend& tray;
    // The sink whose boxes the window owns (may be null in tests).
    WindowMessageSink* sink = nullptr;
    // The running program file, for the default sound file and the service program.
    std::string programPath;
    // Runs the service program when the service mode is switched; null: a real process
    // whose standard error is kept.
    ProcessRunner* serviceRunner = nullptr;
    // The service program; empty: HalvoricSvc beside programPath.
    std::string serviceProgram = {};
    // The autostart entry the Options dialog writes or removes; null: the user's own.
    Autostart* autostart = nullptr;
    // Asks for an existing file (parent, start folder); file choosers when empty.
    using FileChooser = std::function<std::optional<QString>(QWidget*, const QString&)>;
    FileChooser chooseLogFile = {};
    FileChooser chooseSoundFile = {};
    // Desktop notifications; null: none (the tick's notices go to the tray balloon).
    NoticeSender* notices = nullptr;
};

class CQuorvaneDlg final : public QMainWindow, private DesktopTickView {
    Q_OBJECT
  public:
    explicit CQuorvaneDlg(DesktopParts parts);
    ~CQuorvaneDlg() override;

    // The start-up: tray icon, data folder, host list, settings, tab names, tabs, timer.
    void Initialize();

    // One refresh tick (the timer's slot).
    void Tick();

    // Shows the tab's five slots in the panes.
    void ShowTab(int tab);
    // Puts the tab bar's tabs in line with hostCount and the tab names.
    void RebuildTabs();
    void SetSelectedPane(int pane);
    // Applies a time-scroll button (1027..1035).
    void TimeScroll(int buttonId);
    // Stops every host.
    void StopAllHosts();
    // The host list dialog exchanged the entries of two slots: their graph images follow.
    void ExchangeSlots(int slotA, int slotB);
    // After the host list dialog deleted or moved hosts: every host starts again from the
    // saved list (or, when it could not be saved, from the table as it stands), packed in
    // list order, with tab 0 in front.
    void RestartMonitoring(bool listSaved);
    // Whether the service program switched on or off by "Options..." is still running.
    bool ServiceRunning() const { return serviceRun_ != nullptr; }

    WindowSideState& State() { return state_; }
    Tray& TrayIcon() { return tray_; }
    GraphImages& Images() { return images_; }
    const QTimer& RefreshTimer() const { return timer_; }
    QTabBar* Tabs() const { return tabs_; }
    QGroupBox* PaneFrame(int pane) const { return frames_[pane]; }
    CGraphic* Graph(int pane) const { return graphs_[pane]; }
    StatisticsLabel* Statistics(int pane) const { return stats_[pane]; }
    QToolBar* ToolBar() const { return toolbar_; }
    // The control or toolbar/menu action with this id (null when there is none).
    QWidget* Control(int id) const;
    QAction* Command(int id) const;

    // Set by the host list dialog when it deleted or moved hosts.
    bool layoutUnchanged = true;
    bool toolbarShown = true;

  public slots:
    // One slot per command. Those whose dialogs are still to come do nothing yet.
    void OnOpenLog();        // 32775, 32774, 32785
    void OnHide();           // 32777
    void OnExit();           // 32773
    void OnEditHosts();      // 32782, 32783
    void OnShowHistory();    // 32781, 32784
    void OnTraceLogs();      // 32789, 32787
    void OnOptions();        // 32780, 32786
    void OnToggleToolbar();  // 32788
    void OnTabNames();       // 32790
    void OnAbout();          // 32779 and the window's context menu

  signals:
    // File > Exit: the program ends.
    void Ended();
    // The service program run by "Options..." has ended and its outcome was applied.
    void ServiceRunFinished();

  protected:
    // The panes' keyboard: focus selects a pane, the arrow keys move between panes.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    // DesktopTickView
    void ShowStatistics(int pane, const std::string& line) override;
    void ShowBalloon(const std::string& text) override;
    void SetTrayStatus(bool allUp) override;

    void BuildMenu();
    void BuildToolBar(QWidget* client);
    void BuildPanes(QWidget* client);
    void BuildTimeScroll(QWidget* client);
    void ShowFromTray();
    std::tm LocalNow();
    // The captions of the tab in front; ShowTab also empties the statistics lines.
    void ShowCaptions();
    void StartServiceRun(const Settings& settings);
    // The service program's thread is done (a queued call from it).
    Q_INVOKABLE void ServiceRunEnded();
    // Takes the outcome of the service program over; with `showBoxes` false (the program
    // is ending) nothing is shown.
    void FinishServiceRun(bool showBoxes);
    void TakeOverSettings(const Settings& settings);
    // Reads quorvane.conf's [mail] section into the mail sender; a box says what of it
    // could not be used.
    void LoadMailSecurity();
    // The tick's notice: a desktop notification, else the tray balloon, else the window
    // asks for attention in the taskbar.
    void DeliverNotice(const QString& balloonText);

    MonitorContext& ctx_;
    MailSecurityOptions mailSecurity_;  // as last read from quorvane.conf
    MessageBoxes& boxes_;
    WindowMessageSink* sink_;
    const std::string programPath_;
    WindowSideState state_;
    Tray tray_;
    GraphImages images_;
    QTimer timer_;
    bool ticking_ = false;
    NoticeSender* notices_;
    // The balloon text of the tick under way, delivered once the tick has set the status.
    QString tickNotice_;
    // Set by Exit: commands whose dialog was ended by it do nothing more.
    bool ending_ = false;

    std::unique_ptr<ProcessRunner> ownRunner_;
    ProcessRunner* serviceRunner_;
    const std::string serviceProgram_;
    std::unique_ptr<Autostart> ownAutostart_;
    Autostart* autostart_;
    DesktopParts::FileChooser chooseLogFile_;
    DesktopParts::FileChooser chooseSoundFile_;
    struct ServiceRun;
    std::unique_ptr<ServiceRun> serviceRun_;

    QWidget* client_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QTabBar* tabs_ = nullptr;
    QWidget* tabFrame_ = nullptr;
    std::array<QGroupBox*, kPanes> frames_{};
    std::array<CGraphic*, kPanes> graphs_{};
    std::array<StatisticsLabel*, kPanes> stats_{};
    std::map<int, QWidget*> controls_;
    std::map<int, QAction*> commands_;
};

}  // namespace qv::gui
