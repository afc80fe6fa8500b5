#include "gui/quorvane_app.h"

#include <QApplication>

#include "core/monitor_context.h"
#include "core/traceroute.h"
#include "gui/desktop_notifier.h"
#include "gui/message_boxes.h"
#include "gui/quorvane_dlg.h"
#include "gui/termination_signals.h"
#include "gui/tray.h"
#include "gui/window_message_sink.h"
#include "mail/status_mail.h"
#include "platform/clock.h"
#include "platform/gst_sound_player.h"
#include "platform/process.h"
#include "settings/data_directory.h"

namespace qv::gui {

int CQuorvaneApp::InitInstance() {
    // Closing the window only hides it; File > Exit ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("Quorvane"));
    QApplication::setWindowIcon(QIcon(kProgramIcon));

    // Built in this order and torn down in reverse: the host table's probers end before
    // the seams they report through.
    const ProgramRules rules = ProgramRules::Desktop();
    SystemClock clock;
    QtMessageBoxes boxes;
    WindowMessageSink sink(boxes);
    const std::string dataDir = DataDirectoryPath();
    GstSoundPlayer sound(sink);
    TracerouteCapture traceroute(dataDir, sink);
    // A mail that was not sent is tried again at the next tick; nothing is shown.
    SmtpMailSender mail(rules, clock, nullptr);
    MonitorContext ctx(rules, dataDir, MonitorSeams{clock, sink, sound, traceroute, mail});
    QtTrayBackend tray;
    DesktopNotifier notifier(QDBusConnection::sessionBus());
    DesktopParts parts{ctx, boxes, tray, &sink, RunningProgramPath()};
    parts.notices = &notifier;
    CQuorvaneDlg window(std::move(parts));
    QObject::connect(&window, &CQuorvaneDlg::Ended, qApp, &QCoreApplication::quit);
    // Logging out or `kill` ends the program the way File > Exit does, with status 0.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::Requested, &window, &CQuorvaneDlg::OnExit);

    window.Initialize();
    window.show();
    const int status = QApplication::exec();
    // From here on no thread may wait for a box: the window thread only joins them.
    sink.Shutdown();
    return status;
}

}  // namespace qv::gui
