// SIGTERM and SIGINT (logout, kill, Ctrl+C) reach the window thread as a Qt signal, so the
// program ends the way File > Exit ends it. The handler only writes a byte to a pipe.
#pragma once

#include <signal.h>
#include <QObject>

#include "platform/net.h"

class QSocketNotifier;

namespace qv::gui {

class TerminationSignals final : public QObject {
    Q_OBJECT
  public:
    // Installs the handlers; one instance at a time. They stay installed when it is
    // destroyed, doing nothing from then on: a signal that comes while the program tears
    // itself down (a second SIGTERM of a logout) is already being answered, and must not
    // end the program with the default handler's status.
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    bool Installed() const { return installed_; }

  signals:
    // On the thread that made the object, once per arrival.
    void Requested(int signalNumber);

  private:
    void Drain();

    UniqueFd readEnd_;
    UniqueFd writeEnd_;
    QSocketNotifier* notifier_ = nullptr;
    bool installed_ = false;
};

}  // namespace qv::gui
