// CGraphic's pixels: each sample kind in its colour and height, the scale carried from one
// drawing to the next, the axis, and a pane without a host.
#include <QTest>

#include "desktop_fixture.h"
#include "support/lib/fake_clock.h"

using qv::test::Desktop;

namespace {

// A pane of 200 x 73 pixels: graph height 56, baseline row 57, axis row 58. At the
// fixture's 10:00:30 the axis ticks lie at x = 169, 109 and 49.
const QSize kPane(200, 73);
constexpr int kBaseline = 57;

// Rows [from, to] of column x all have the colour.
bool ColumnIs(const QImage& image, int x, int from, int to, const QColor& colour) {
    for (int y = from; y <= to; ++y) {
        if (image.pixelColor(x, y) != colour) {
            qWarning("pixel (%d, %d) is %s", x, y, qPrintable(image.pixelColor(x, y).name()));
            return false;
        }
    }
    return true;
}

}  // namespace

class GraphTest : public QObject {
    Q_OBJECT
  private slots:
    void icmpSamplesAndTheScaleRule();
    void tcpBarsAroundTheThreshold();
    void scrolledAxisAndEmptyPane();
};

void GraphTest::icmpSamplesAndTheScaleRule() {
    Desktop d;
    const int slot = *d.ctx.table.AddHost("a", 1000, 0);
    qv::HostEntry& e = d.ctx.table.Entry(slot);
    e.samples = {20, 1000, -1};  // oldest first: the lost one is drawn at the right edge
    e.maxMs = 40;
    qv::gui::GraphImages images(d.ctx.table, d.clock, d.window.State());

    const QImage* image = images.Draw(slot, kPane);
    QVERIFY(image != nullptr);
    QCOMPARE(image->size(), kPane);
    QVERIFY(ColumnIs(*image, 199, kBaseline - 55, kBaseline, qv::gui::kGraphLost));
    QVERIFY(ColumnIs(*image, 198, kBaseline - 55, kBaseline, qv::gui::kGraphThreshold));
    // First drawing: scaled by maxMs, 20 of 40 is half the height.
    QVERIFY(ColumnIs(*image, 197, kBaseline - 27, kBaseline, qv::gui::kGraphNormal));
    QVERIFY(ColumnIs(*image, 197, 20, kBaseline - 28, qv::gui::kGraphBackground));
    QVERIFY(ColumnIs(*image, 100, 20, kBaseline, qv::gui::kGraphBackground));
    QVERIFY(ColumnIs(*image, 100, kBaseline + 1, kBaseline + 1, Qt::black));
    QCOMPARE(int(e.graphScale), 20);

    // Second drawing: scaled by the largest normal sample drawn before, 20.
    image = images.Draw(slot, kPane);
    QVERIFY(ColumnIs(*image, 197, kBaseline - 55, kBaseline, qv::gui::kGraphNormal));

    // The image belongs to the slot and follows it when two entries trade places.
    const qint64 key = image->cacheKey();
    images.Exchange(slot, 7);
    QCOMPARE(images.Image(7).cacheKey(), key);
    QVERIFY(images.Image(slot).isNull());
}

void GraphTest::tcpBarsAroundTheThreshold() {
    Desktop d;
    qv::gui::GraphImages images(d.ctx.table, d.clock, d.window.State());
    const int below = *d.ctx.table.AddHost("web", 5, 80);
    const int at = *d.ctx.table.AddHost("db", 5, 5432);
    d.ctx.table.Entry(below).samples = {499};
    d.ctx.table.Entry(below).maxMs = 499;
    d.ctx.table.Entry(at).samples = {500};

    // Six pixels left of x = R + 2, ending one row above the baseline.
    const QImage normal = *images.Draw(below, kPane);
    QVERIFY(ColumnIs(normal, 196, 1, kBaseline - 1, qv::gui::kGraphNormal));
    QVERIFY(ColumnIs(normal, 199, 1, kBaseline - 1, qv::gui::kGraphNormal));
    QVERIFY(ColumnIs(normal, 195, 20, kBaseline, qv::gui::kGraphBackground));
    QVERIFY(ColumnIs(normal, 197, kBaseline, kBaseline, qv::gui::kGraphBackground));
    const QImage full = *images.Draw(at, kPane);
    QVERIFY(ColumnIs(full, 196, 1, kBaseline - 1, qv::gui::kGraphThreshold));
}

void GraphTest::scrolledAxisAndEmptyPane() {
    Desktop d;
    d.clock.SetNow(qv::FakeClock::ToCalendar(2026, 3, 4, 10, 5, 30));
    const int slot = *d.ctx.table.AddHost("a", 1000, 0);
    d.window.State().scrollMinutes = 10;
    qv::gui::GraphImages images(d.ctx.table, d.clock, d.window.State());
    const QImage image = *images.Draw(slot, kPane);
    // The minute 09:55 begins 31 pixels left of the right edge: its tick and its label.
    QVERIFY(ColumnIs(image, 200 - 31, kBaseline + 1 - 4, kBaseline + 1, Qt::black));
    int dark = 0;
    for (int x = 200 - 41; x < 200 - 41 + 30; ++x) {
        for (int y = kBaseline + 2; y < 73; ++y) {
            dark += image.pixelColor(x, y).lightness() < 100 ? 1 : 0;
        }
    }
    QVERIFY2(dark > 20, "the label is drawn");

    // A slot without a host draws nothing at all, and a free slot's image is never made.
    d.ctx.table.StopHost(slot);
    QVERIFY(images.Draw(slot, kPane) == nullptr);
    QVERIFY(images.Draw(3, kPane) == nullptr);
    QVERIFY(images.Image(3).isNull());
}

QTEST_MAIN(GraphTest)
#include "graph_test.moc"
