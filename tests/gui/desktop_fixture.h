// The desktop program's window on fakes, for GUI tests: fake clock, seams, message boxes
// and notification area, a fresh data folder, and probers that never probe.
#pragma once

#include <QImage>
#include <string>

#include "core/monitor_context.h"
#include "gui/quorvane_dlg.h"
#include "gui/tray.h"
#include "settings/autostart.h"
#include "support/lib/fake_clock.h"
#include "support/lib/fake_message_boxes.h"
#include "support/lib/fake_seams.h"
#include "support/lib/recording_sink.h"
#include "support/lib/temp_dir.h"

namespace qv::test {

// A notification area that tests can take away and give back, and click.
class FakeTrayBackend final : public gui::TrayBackend {
  public:
    bool Available() const override { return available; }
    void SetIcon(const QIcon& i) override { icon = i.pixmap(16, 16).toImage(); }
    void SetToolTip(const QString& tip) override { toolTip = tip; }
    void SetVisible(bool v) override { visible = v; }
    void ShowMessage(const QString& title, const QString& text, int timeoutMs) override {
        balloons.push_back({title, text, timeoutMs});
    }
    struct Balloon {
        QString title;
        QString text;
        int timeoutMs;
    };
    bool available = true;
    bool visible = false;
    QImage icon;
    QString toolTip;
    std::vector<Balloon> balloons;
};

inline QImage IconImage(const QString& path) {
    return QIcon(path).pixmap(16, 16).toImage();
}

struct Desktop {
    // `serviceProgram`: what "Options..." runs to switch the service mode; by default a
    // program that is not there.
    // `notices`: the desktop notifications; none by default (the tray balloon shows them).
    explicit Desktop(HostTable::Hooks hooks = NoProbers(), std::string serviceProgram = {},
                     gui::NoticeSender* notices = nullptr)
        : ctx(Program::Desktop, DataDir(), MonitorSeams{clock, sink, sound, trace, mail},
              std::move(hooks)),
          window(gui::DesktopParts{ctx,
                                   boxes,
                                   tray,
                                   nullptr,
                                   "/opt/qv/Quorvane",
                                   nullptr,
                                   std::move(serviceProgram),
                                   &autostart,
                                   [this](QWidget*, const QString& start) {
                                       logChooserStart = start;
                                       return chosenLog;
                                   },
                                   {},
                                   notices}) {}
    std::string DataDir() const { return dir.path() + "/Tarnwick"; }

    TempDir dir;
    FakeClock clock{FakeClock::ToCalendar(2026, 3, 4, 10, 0, 30)};
    RecordingMessageSink sink;
    FakeSoundPlayer sound;
    FakeTraceroute trace;
    FakeMailSender mail;
    MonitorContext ctx;
    FakeMessageBoxes boxes;
    FakeTrayBackend tray;
    // Never the machine's or the user's own autostart folder.
    Autostart autostart{dir.path() + "/xdg-system", dir.path() + "/xdg-user", false};
    // "Open log...": what the file chooser yields, and the folder it started in.
    std::optional<QString> chosenLog;
    QString logChooserStart;
    gui::CQuorvaneDlg window;
};

}  // namespace qv::test
