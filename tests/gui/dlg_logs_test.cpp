// The History dialog: views chosen by the buttons and the warning, the range edits, a
// missing file, header sorting and the reply pictures.
#include <QHeaderView>
#include <QLineEdit>
#include <QRadioButton>
#include <QTableView>
#include <QtTest>

#include "gui/dialogs/dlg_logs.h"
#include "shot.h"
#include "support/lib/fake_message_boxes.h"
#include "support/lib/temp_dir.h"

using qv::HistoryView;
using qv::gui::BoxAnswer;
using qv::gui::BoxButtons;
using qv::gui::BoxIcon;
using qv::gui::DlgLogs;

namespace {

std::string Repeat(const std::string& value, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        s += value + ' ';
    }
    return s;
}

QString Checked(DlgLogs& dlg) {
    QString bits;
    for (const char* name : {"groupByMinutes", "allSeconds", "timedOut", "range"}) {
        bits += dlg.findChild<QRadioButton*>(name)->isChecked() ? '1' : '0';
    }
    return bits;
}

// Near the left edge, where a radio button laid out wide still takes the click.
void Click(DlgLogs& dlg, const char* name) {
    auto* button = dlg.findChild<QAbstractButton*>(name);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
}

QString Cell(const DlgLogs& dlg, int row, int column) {
    return dlg.Model().data(dlg.Model().index(row, column)).toString();
}

}  // namespace

class DlgLogsTest : public QObject {
    Q_OBJECT
  private slots:
    void viewsFollowTheButtonsTheWarningAndTheHeader() {
        qv::test::TempDir dir;
        // Two minutes of 20 ms, a time-out, 1500 ms written grouped, a second without data.
        qv::test::WriteFileBytes(dir.File("h.log"), Repeat("20", 120) +
                                                        "-1 1\xA0"
                                                        "500 -2 ");
        qv::test::FakeMessageBoxes boxes;
        const QString path = QString::fromStdString(dir.File("h.log"));
        DlgLogs dlg(path, boxes);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QCOMPARE(dlg.windowTitle(), path);
        QCOMPARE(Checked(dlg), QStringLiteral("1000"));
        QCOMPARE(dlg.Model().rowCount(), 2);

        boxes.answers = {BoxAnswer::No};
        Click(dlg, "allSeconds");
        QCOMPARE(boxes.shown.size(), size_t{1});
        QCOMPARE(boxes.shown[0].text,
                 QStringLiteral("This operation could take much time, continue?"));
        QCOMPARE(boxes.shown[0].caption, QStringLiteral("Warning"));
        QCOMPARE(boxes.shown[0].icon, BoxIcon::Warning);
        QCOMPARE(boxes.shown[0].buttons, BoxButtons::YesNo);
        QCOMPARE(dlg.View(), HistoryView::PerMinute);
        QCOMPARE(Checked(dlg), QStringLiteral("1000"));

        Click(dlg, "allSeconds");
        QCOMPARE(Checked(dlg), QStringLiteral("0100"));
        QCOMPARE(dlg.Model().rowCount(), 123);
        QCOMPARE(Cell(dlg, 121, 0) + Cell(dlg, 121, 1), QStringLiteral("00:02:021500"));
        // Header clicks sort by value, descending, the same way every time.
        QHeaderView* header = dlg.findChild<QTableView*>("list")->horizontalHeader();
        for (int section : {1, 1, 0}) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(section) + 20, 8));
            QCOMPARE(Cell(dlg, 0, 1), section == 1 ? QStringLiteral("1500") : "20");
        }
        QCOMPARE(Cell(dlg, 122, 1), QStringLiteral("No data"));

        Click(dlg, "timedOut");
        QCOMPARE(Checked(dlg), QStringLiteral("0010"));
        QCOMPARE(Cell(dlg, 0, 0), QStringLiteral("00:02:01"));

        auto* low = dlg.findChild<QLineEdit*>("rangeLow");
        QCOMPARE(low->text() + "-" + dlg.findChild<QLineEdit*>("rangeHigh")->text(),
                 QStringLiteral("0-1000"));
        low->clear();
        QTest::keyClicks(low, "2x1");  // digits only
        dlg.findChild<QLineEdit*>("rangeHigh")->setText("1500");
        Click(dlg, "refresh");
        QCOMPARE(Checked(dlg), QStringLiteral("0001"));
        QCOMPARE(dlg.Model().rowCount(), 1);
        QCOMPARE(Cell(dlg, 0, 1), QStringLiteral("1500"));
        QCOMPARE(boxes.shown.size(), size_t{2});
    }

    void missingFileIsReportedOnEveryFill() {
        qv::test::TempDir dir;
        qv::test::FakeMessageBoxes boxes;
        DlgLogs dlg(QString::fromStdString(dir.File("none.log")), boxes);
        QCOMPARE(boxes.shown.size(), size_t{1});
        // The reason follows on a line of its own.
        QVERIFY(boxes.shown[0].text.startsWith(QStringLiteral("Can't open log file!\n")));
        QVERIFY(boxes.shown[0].text.contains(QStringLiteral("none.log: No such file")));
        QCOMPARE(boxes.shown[0].caption, QStringLiteral("Error"));
        QCOMPARE(boxes.shown[0].icon, BoxIcon::Error);
        QCOMPARE(dlg.Model().rowCount(), 0);
        qv::test::WriteFileBytes(dir.File("none.log"), "-1 -1 ");
        Click(dlg, "timedOut");
        QCOMPARE(boxes.shown.size(), size_t{1});
        QCOMPARE(dlg.Model().rowCount(), 2);
    }

    // The check mark is green and the cross red, in the rows they belong to.
    void picturesMarkRepliesAndTimeOuts() {
        qv::test::TempDir dir;
        std::string day = Repeat("20", 60) +
                          Repeat(
                              "1\xA0"
                              "250",
                              60) +
                          Repeat("-1", 60);
        for (int minute = 0; minute < 30; ++minute) {
            day += Repeat(std::to_string(15 + minute * 7 % 40), 60);
        }
        qv::test::WriteFileBytes(dir.File("router.log"), day);
        qv::test::FakeMessageBoxes boxes;
        DlgLogs dlg(QString::fromStdString(dir.File("router.log")), boxes);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        auto* list = dlg.findChild<QTableView*>("list");
        QCOMPARE(list->columnWidth(0) + list->columnWidth(1), 300);
        const QImage image = list->viewport()->grab().toImage();
        auto coloured = [&](int row, bool green) {
            const QRect cell = list->visualRect(dlg.Model().index(row, 0));
            int n = 0;
            for (int y = cell.top(); y <= cell.bottom(); ++y) {
                for (int x = cell.left(); x < cell.left() + 24; ++x) {
                    const QColor c = image.pixelColor(x, y);
                    const int main = green ? c.green() : c.red();
                    n += main > 120 && main - (green ? c.red() : c.green()) > 70 ? 1 : 0;
                }
            }
            return n;
        };
        QVERIFY(coloured(0, true) > 8 && coloured(0, false) == 0);
        QVERIFY(coloured(2, false) > 8 && coloured(2, true) == 0);
        qv::test::SaveShot(dlg, "dlg_logs");
    }
};

QTEST_MAIN(DlgLogsTest)
#include "dlg_logs_test.moc"
