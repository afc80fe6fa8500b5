// CGraphic, the graph of one pane: the host's response times, one pixel column per
// second, drawn into the host's own image and copied to the screen in one transfer.
#pragma once

#include <QFont>
#include <QImage>
#include <QWidget>
#include <array>

#include "core/host_table.h"
#include "desktop/desktop_view.h"
#include "desktop/graph_plan.h"
#include "platform/clock.h"

namespace qv::gui {

// Colours of the graph.
inline const QColor kGraphBackground(223, 238, 255);
inline const QColor kGraphNormal(141, 172, 205);
inline const QColor kGraphLost(255, 0, 0);
inline const QColor kGraphThreshold(255, 210, 50);

// "Arial", 13 pixels, normal weight; a metric-compatible face where Arial is absent.
QFont GraphLabelFont();

// Paints a planned graph: background, samples, axis, labels and the scale text.
void RenderGraph(QImage& image, const GraphPlan& plan, const QFont& labelFont);

// The window side's graph images, one per slot: made at a host's first drawing with the
// size of its pane, kept for the slot, exchanged when two hosts trade places.
class GraphImages {
  public:
    GraphImages(HostTable& table, Clock& clock, const WindowSideState& state);

    // Draws the host of `slot` into its image; null when the slot draws nothing.
    const QImage* Draw(int slot, QSize paneSize);
    // The host list dialog swapped the entries of two slots: their images follow them.
    void Exchange(int slotA, int slotB);
    const QImage& Image(int slot) const { return images_[slot]; }

  private:
    HostTable& table_;
    Clock& clock_;
    const WindowSideState& state_;
    QFont labelFont_;
    GraphPlan plan_;
    std::array<QImage, kMaxHosts> images_;
};

class CGraphic final : public QWidget {
    Q_OBJECT
  public:
    CGraphic(GraphImages& images, QWidget* parent);

    int hostSlot = 0;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    GraphImages& images_;
};

}  // namespace qv::gui
