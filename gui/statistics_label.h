// A pane's statistics line as a screen reader reads it: the name says whose line it is,
// the value holds the numbers and the description whether the host is up. A change of
// the numbers raises a value change, a host going down or up a description change.
#pragma once

#include <QAccessibleEvent>
#include <QLabel>
#include <optional>

namespace qv::gui {

class StatisticsLabel final : public QLabel {
    Q_OBJECT
  public:
    explicit StatisticsLabel(QWidget* parent = nullptr);

    // `up`: the host's state; none for a pane without a host.
    void SetLine(const QString& line, std::optional<bool> up);
    std::optional<bool> HostUp() const { return up_; }
    // What the description says of a host's state.
    static QString StateText(std::optional<bool> up);

    // Sees every accessibility event the lines raise, whether or not a screen reader has
    // switched Qt's accessibility on (tests; null: none).
    using EventObserver = void (*)(QAccessibleEvent*);
    static void SetEventObserver(EventObserver observer);

  private:
    void Raise(QAccessibleEvent& event);

    std::optional<bool> up_;
};

// Makes the accessibility framework read StatisticsLabel as above; call it once before
// the first one is shown.
void InstallStatisticsAccessibility();

}  // namespace qv::gui
