#include "gui/graphic.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <utility>

namespace qv::gui {
namespace {

// Text on an opaque cell of the background colour, its top-left corner at (x, y).
void DrawOpaqueText(QPainter& painter, const QFontMetrics& metrics, int x, int y,
                    const QString& text) {
    painter.fillRect(QRect(x, y, metrics.horizontalAdvance(text), metrics.height()),
                     kGraphBackground);
    painter.drawText(QPoint(x, y + metrics.ascent()), text);
}

}  // namespace

QFont GraphLabelFont() {
    QFont font;
    font.setFamilies(
        {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
    font.setPixelSize(13);
    font.setWeight(QFont::Normal);
    return font;
}

void RenderGraph(QImage& image, const GraphPlan& plan, const QFont& labelFont) {
    // Hundreds of one-pixel columns a second: written straight into the scan lines, which
    // costs a fraction of a painter call per column.
    image.fill(kGraphBackground);
    const QRect bounds = image.rect();
    const QRgb inks[] = {kGraphNormal.rgb(), kGraphLost.rgb(), kGraphThreshold.rgb(),
                         QColor(Qt::black).rgb()};
    uchar* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    for (const GraphRect& r : plan.rects) {
        const QRect area = QRect(r.x, r.y, r.width, r.height).intersected(bounds);
        const QRgb ink = inks[static_cast<int>(r.ink)];
        for (int y = area.top(); y <= area.bottom(); ++y) {
            QRgb* line = reinterpret_cast<QRgb*>(bits + y * stride);
            std::fill(line + area.left(), line + area.right() + 1, ink);
        }
    }
    QPainter painter(&image);
    painter.setFont(labelFont);
    painter.setPen(Qt::black);
    const QFontMetrics metrics(labelFont);
    for (const GraphLabel& label : plan.labels) {
        DrawOpaqueText(painter, metrics, label.x, label.y, QString::fromLatin1(label.text));
    }
    DrawOpaqueText(painter, metrics, 4, 4, QStringLiteral("Current scale: %1 ms").arg(plan.scale));
}

GraphImages::GraphImages(HostTable& table, Clock& clock, const WindowSideState& state)
    : table_(table), clock_(clock), state_(state), labelFont_(GraphLabelFont()) {}

const QImage* GraphImages::Draw(int slot, QSize paneSize) {
    if (slot < 0 || slot >= kMaxHosts) {
        return nullptr;
    }
    // An image is made once, with the size of the pane that first shows the host.
    QImage& image = images_[slot];
    const QSize size = image.isNull() ? paneSize : image.size();
    std::tm now{};
    clock_.LocalTime(clock_.Now(), now);
    PlanGraph(table_, slot, state_.scrollMinutes, now, size.width(), size.height(), plan_);
    if (!plan_.draw) {
        return nullptr;
    }
    if (image.isNull()) {
        image = QImage(size, QImage::Format_RGB32);
    }
    RenderGraph(image, plan_, labelFont_);
    return &image;
}

void GraphImages::Exchange(int slotA, int slotB) {
    if (slotA >= 0 && slotB >= 0 && slotA < kMaxHosts && slotB < kMaxHosts) {
        std::swap(images_[slotA], images_[slotB]);
    }
}

CGraphic::CGraphic(GraphImages& images, QWidget* parent) : QWidget(parent), images_(images) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CGraphic::paintEvent(QPaintEvent*) {
    const QImage* image = images_.Draw(hostSlot, size());
    if (image != nullptr) {
        QPainter(this).drawImage(0, 0, *image);
    }
}

}  // namespace qv::gui
