#include "gui/statistics_label.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <atomic>

namespace qv::gui {
namespace {

class StatisticsAccessible final : public QAccessibleWidget {
  public:
    explicit StatisticsAccessible(StatisticsLabel* label)
        : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override {
        const auto* label = static_cast<const StatisticsLabel*>(widget());
        switch (t) {
            case QAccessible::Value:
                return label->text();
            case QAccessible::Description:
                return StatisticsLabel::StateText(label->HostUp());
            default:
                return QAccessibleWidget::text(t);
        }
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }
};

std::atomic<StatisticsLabel::EventObserver> gObserver{nullptr};

QAccessibleInterface* StatisticsFactory(const QString& className, QObject* object) {
    if (className == QLatin1String(StatisticsLabel::staticMetaObject.className()) &&
        object != nullptr && object->isWidgetType()) {
        return new StatisticsAccessible(static_cast<StatisticsLabel*>(object));
    }
    return nullptr;
}

}  // namespace

StatisticsLabel::StatisticsLabel(QWidget* parent) : QLabel(parent) {
    // Numbers only today; a line never turns into markup.
    setTextFormat(Qt::PlainText);
}

QString StatisticsLabel::StateText(std::optional<bool> up) {
    if (!up) {
        return QString();
    }
    return *up ? QStringLiteral("Host is up") : QStringLiteral("Host is down");
}

void StatisticsLabel::SetLine(const QString& line, std::optional<bool> up) {
    const bool lineChanged = line != text();
    const bool stateChanged = up != up_;
    setText(line);
    up_ = up;
    if (lineChanged) {
        QAccessibleValueChangeEvent event(this, line);
        Raise(event);
    }
    if (stateChanged) {
        QAccessibleEvent event(this, QAccessible::DescriptionChanged);
        Raise(event);
    }
}

void StatisticsLabel::Raise(QAccessibleEvent& event) {
    if (EventObserver observer = gObserver.load()) {
        observer(&event);
    }
    QAccessible::updateAccessibility(&event);
}

void StatisticsLabel::SetEventObserver(EventObserver observer) {
    gObserver.store(observer);
}

void InstallStatisticsAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(StatisticsFactory);
        return true;
    }();
    (void)installed;
}

}  // namespace qv::gui
