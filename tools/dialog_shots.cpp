// Pictures of the desktop program's dialogs for the README: the real main window, built
// the way the program builds it, on the data folder of the environment (scripts/
// screenshot.sh gives it a temporary one). It watches its hosts for a few seconds, then
// opens each dialog through its menu command, saves the dialog as a PNG and closes it.
//
// Usage: dialog_shots OUT_DIR [SECONDS]
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <deque>
#include <functional>

#include "core/monitor_context.h"
#include "core/traceroute.h"
#include "gui/message_boxes.h"
#include "gui/quorvane_dlg.h"
#include "gui/tray.h"
#include "gui/window_message_sink.h"
#include "mail/status_mail.h"
#include "platform/clock.h"
#include "platform/gst_sound_player.h"
#include "settings/autostart.h"
#include "settings/data_directory.h"

namespace {

using qv::gui::CQuorvaneDlg;

// Time for a dialog to be laid out and shown before it is taken.
constexpr int kSettleMs = 400;

class Shooter {
  public:
    Shooter(CQuorvaneDlg& window, QString outDir) : window_(window), outDir_(std::move(outDir)) {}

    // Saves the modal dialog that is open now (after `prepare`) as NAME.png and ends it.
    void Take(const QString& name, const std::function<void(QDialog&)>& prepare = {}) {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            std::fprintf(stderr, "no dialog open for %s\n", qPrintable(name));
            ++failures;
            return;
        }
        if (prepare) {
            prepare(*dialog);
        }
        Save(*dialog, name);
        dialog->done(QDialog::Rejected);
    }

    void Save(QWidget& widget, const QString& name) {
        QApplication::processEvents();
        const QString path = outDir_ + QLatin1Char('/') + name + QStringLiteral(".png");
        if (!widget.grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ++failures;
            return;
        }
        std::printf("Wrote %s\n", qPrintable(path));
    }

    // Runs `command`; `onOpen` runs once its dialog is up.
    void WhenOpen(const std::function<void()>& onOpen, const std::function<void()>& command) {
        QTimer::singleShot(kSettleMs, onOpen);
        command();
    }

    void Trigger(int id) { window_.Command(id)->trigger(); }

    int failures = 0;

  private:
    CQuorvaneDlg& window_;
    QString outDir_;
};

template <typename T>
T* Child(QWidget& parent, const char* name) {
    return parent.findChild<T*>(QString::fromLatin1(name));
}

// Every dialog the menu commands open, nested ones from their parent dialog.
void TakeAll(Shooter& s, CQuorvaneDlg& window) {
    using namespace qv::gui;
    // The host list, and from it the add-host dialog and its list of TCP services.
    s.WhenOpen(
        [&] {
            s.Take(QStringLiteral("dlg-hosts"), [&](QDialog& hosts) {
                auto* list = Child<QTreeWidget>(hosts, "hosts");
                list->setCurrentItem(list->topLevelItem(0));
                s.WhenOpen(
                    [&] {
                        s.Take(QStringLiteral("dlg-add-host"), [&](QDialog& add) {
                            s.WhenOpen([&] { s.Take(QStringLiteral("dlg-ports")); },
                                       [&] { Child<QPushButton>(add, "services")->click(); });
                        });
                    },
                    [&] { Child<QPushButton>(hosts, "add")->click(); });
            });
        },
        [&] { s.Trigger(kCmdEditHosts); });

    s.WhenOpen(
        [&] {
            s.Take(QStringLiteral("dlg-options-icmp"), [&](QDialog& options) {
                // Its "Mail security..." dialog, filled in as for a provider's submission port.
                s.WhenOpen(
                    [&] {
                        s.Take(QStringLiteral("dlg-mail-security"), [](QDialog& security) {
                            Child<QComboBox>(security, "security")->setCurrentIndex(1);
                            Child<QLineEdit>(security, "user")->setText("alerts@example.org");
                            Child<QLineEdit>(security, "password")->setText("app password");
                        });
                    },
                    [&] { Child<QPushButton>(options, "icmp.mailSecurity")->click(); });
                Child<QTabWidget>(options, "tabs")->setCurrentIndex(1);
                s.Save(options, QStringLiteral("dlg-options-tcp"));
                Child<QTabWidget>(options, "tabs")->setCurrentIndex(0);
            });
        },
        [&] { s.Trigger(kCmdOptions); });

    window.SetSelectedPane(0);
    s.WhenOpen(
        [&] {
            s.Take(QStringLiteral("dlg-history"), [](QDialog& history) {
                // The seconds that have an answer, rather than the zeros before the start.
                Child<QLineEdit>(history, "rangeLow")->setText(QStringLiteral("1"));
                Child<QRadioButton>(history, "range")->click();
            });
        },
        [&] { s.Trigger(kCmdShowHistory); });

    s.WhenOpen(
        [&] {
            s.Take(QStringLiteral("dlg-trace-logs"), [](QDialog& logs) {
                auto* list = logs.findChild<QTableView*>();
                if (list->model()->rowCount() > 0) {
                    list->selectRow(0);
                    emit list->clicked(list->model()->index(0, 0));
                }
            });
        },
        [&] { s.Trigger(kCmdTraceLogs); });
    s.WhenOpen([&] { s.Take(QStringLiteral("dlg-tab-names")); }, [&] { s.Trigger(kCmdTabNames); });
    s.WhenOpen([&] { s.Take(QStringLiteral("dlg-about")); }, [&] { s.Trigger(kCmdAbout); });
    s.WhenOpen([&] { s.Take(QStringLiteral("dlg-open-log")); }, [&] { s.Trigger(kCmdOpenLog); });
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT_DIR [SECONDS]\n", argv[0]);
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    const int watchMs = (argc > 2 ? std::atoi(argv[2]) : 10) * 1000;
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(QIcon(qv::gui::kProgramIcon));

    // As the program builds itself; the autostart entry and the service stay untouched
    // because no dialog here ends with "OK".
    qv::SystemClock clock;
    qv::gui::QtMessageBoxes boxes;
    qv::gui::WindowMessageSink sink(boxes);
    const std::string dataDir = qv::DataDirectoryPath();
    qv::GstSoundPlayer sound(sink);
    qv::TracerouteCapture traceroute(dataDir, sink);
    qv::SmtpMailSender mail(qv::Program::Desktop, clock, nullptr);
    qv::MonitorContext ctx(qv::Program::Desktop, dataDir,
                           qv::MonitorSeams{clock, sink, sound, traceroute, mail});
    qv::gui::QtTrayBackend tray;
    // Defaults as an installed program shows them (the sound file in /usr/share), not this
    // tool's build folder.
    CQuorvaneDlg window(qv::gui::DesktopParts{ctx, boxes, tray, &sink, "/usr/bin/Quorvane"});
    sink.SetOwner(&window);
    window.Initialize();
    window.show();

    Shooter shooter(window, outDir);
    QTimer::singleShot(watchMs, [&] {
        TakeAll(shooter, window);
        window.OnExit();
        QApplication::quit();
    });
    QApplication::exec();
    sink.Shutdown();
    return shooter.failures == 0 ? 0 : 1;
}
