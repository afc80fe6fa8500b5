// The Trace route logs dialog: listing, showing the first 4095 bytes, deleting, and how
// the bytes become text.
#include <sys/stat.h>
#include <QAbstractItemModel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

#include "gui/dialogs/trace_logs.h"
#include "shot.h"
#include "support/lib/fake_clock.h"
#include "support/lib/fake_message_boxes.h"
#include "support/lib/temp_dir.h"

using qv::gui::BoxIcon;
using qv::gui::CTraceLogs;

namespace {

void ClickRow(QTableView* list, int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(row, 0)).center());
}

}  // namespace

class TraceLogsTest : public QObject {
    Q_OBJECT
  private slots:
    void showsTheHeadAndDeletesWithoutAsking() {
        qv::test::TempDir dir;
        std::string big;
        for (int hop = 1; big.size() < 5000; ++hop) {
            big += " " + std::to_string(hop) + "  10.0.0." + std::to_string(hop) + "  0.512 ms\n";
        }
        qv::test::WriteFileBytes(dir.File("router_2.trace"), big);
        qv::test::WriteFileBytes(dir.File("router_1.trace"), "traceroute to router\n");
        qv::FakeClock clock;
        qv::test::FakeMessageBoxes boxes;
        CTraceLogs dlg(dir.path(), clock, boxes);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        auto* list = dlg.findChild<QTableView*>("list");
        auto* text = dlg.findChild<QPlainTextEdit*>("text");
        QCOMPARE(list->model()->rowCount(), 2);
        QCOMPARE(list->model()->index(0, 0).data().toString(), QStringLiteral("router_2.trace"));
        QVERIFY(text->isReadOnly());
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Trace route logs"));

        dlg.findChild<QPushButton*>("delete")->click();
        QCOMPARE(boxes.shown.size(), size_t{1});
        QCOMPARE(boxes.shown[0].text, QStringLiteral("Select a file to delete."));
        QCOMPARE(boxes.shown[0].caption, QStringLiteral("Error"));
        QCOMPARE(boxes.shown[0].icon, BoxIcon::Error);
        QCOMPARE(list->model()->rowCount(), 2);

        ClickRow(list, 0);
        QCOMPARE(text->toPlainText(), QString::fromStdString(big.substr(0, 4095)));
        qv::test::SaveShot(dlg, "trace_logs");

        dlg.findChild<QPushButton*>("delete")->click();
        QCOMPARE(boxes.shown.size(), size_t{1});
        QVERIFY(!QFile::exists(QString::fromStdString(dir.File("router_2.trace"))));
        QCOMPARE(list->model()->rowCount(), 1);
        QCOMPARE(list->model()->index(0, 0).data().toString(), QStringLiteral("router_1.trace"));
        QCOMPARE(text->toPlainText().size(), 4095);
    }

    void aFileSwappedForAFifoIsRefusedWithABox() {
        qv::test::TempDir dir;
        qv::test::WriteFileBytes(dir.File("router_1.trace"), "traceroute to router\n");
        qv::FakeClock clock;
        qv::test::FakeMessageBoxes boxes;
        CTraceLogs dlg(dir.path(), clock, boxes);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        auto* list = dlg.findChild<QTableView*>("list");
        QCOMPARE(list->model()->rowCount(), 1);
        QVERIFY(QFile::remove(QString::fromStdString(dir.File("router_1.trace"))));
        QCOMPARE(::mkfifo(dir.File("router_1.trace").c_str(), 0600), 0);
        ClickRow(list, 0);  // would block the window for good if the FIFO were opened
        QCOMPARE(boxes.shown.size(), size_t{1});
        QVERIFY(
            boxes.shown[0].text.endsWith(QStringLiteral("router_1.trace is not a regular file")));
        QCOMPARE(boxes.shown[0].icon, BoxIcon::Error);
        QVERIFY(dlg.findChild<QPlainTextEdit*>("text")->toPlainText().isEmpty());
    }

    void bytesBecomeText() {
        QCOMPARE(qv::gui::TraceText("hop 1\n"), QStringLiteral("hop 1\n"));
        QCOMPARE(qv::gui::TraceText("\xD0\x96"), QString(QChar(0x416)));
        // A character cut by the 4095-byte limit is left out.
        QCOMPARE(qv::gui::TraceText("a\xD0"), QStringLiteral("a"));
        // Not UTF-8: every byte as the character of its code.
        QCOMPARE(qv::gui::TraceText("\xE9t\xE9"), QStringLiteral("\u00E9t\u00E9"));
    }
};

QTEST_MAIN(TraceLogsTest)
#include "trace_logs_test.moc"
