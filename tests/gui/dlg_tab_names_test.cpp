// The Tab names dialog: 20 rows, names change only at "Update", the edit's limit, and a
// click (not the keys) copying a name into the edit.
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

#include "gui/dialogs/dlg_tab_names.h"
#include "settings/config_files.h"
#include "shot.h"
#include "support/lib/fake_message_boxes.h"

using qv::gui::BoxIcon;
using qv::gui::DlgTabNames;

class DlgTabNamesTest : public QObject {
    Q_OBJECT
  private slots:
    void namesChangeOnlyAtUpdate() {
        qv::TabNames names;
        qv::LoadTabNames("/nonexistent", names);  // the default names
        names[1] = "Branch";
        const qv::TabNames before = names;
        qv::test::FakeMessageBoxes boxes;
        DlgTabNames dlg(names, boxes);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Tab names"));
        auto* list = dlg.findChild<QTableView*>("list");
        auto* edit = dlg.findChild<QLineEdit*>("name");
        auto* update = dlg.findChild<QPushButton*>("update");
        QAbstractItemModel* model = list->model();
        QCOMPARE(model->rowCount(), 20);
        QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("1"));
        QCOMPARE(model->index(19, 0).data().toString(), QStringLiteral("20"));
        QCOMPARE(model->index(1, 1).data().toString(), QStringLiteral("Branch"));
        qv::test::SaveShot(dlg, "dlg_tab_names");

        edit->setText("Lost");
        QTest::mouseClick(update, Qt::LeftButton);
        QCOMPARE(boxes.shown.size(), size_t{1});
        QCOMPARE(boxes.shown[0].text, QStringLiteral("Select an item to update!"));
        QCOMPARE(boxes.shown[0].caption, QStringLiteral("Error"));
        QCOMPARE(boxes.shown[0].icon, BoxIcon::Error);
        QCOMPARE(names, before);

        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualRect(model->index(1, 1)).center());
        QCOMPARE(edit->text(), QStringLiteral("Branch"));
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(list->currentIndex().row(), 2);
        QCOMPARE(edit->text(), QStringLiteral("Branch"));

        edit->clear();
        QTest::keyClicks(edit, "Core routers of the west wing");
        QCOMPARE(edit->text(), QStringLiteral("Core routers of the"));
        QCOMPARE(names, before);
        QTest::mouseClick(update, Qt::LeftButton);
        QCOMPARE(names[2], std::string("Core routers of the"));
        QCOMPARE(model->index(2, 1).data().toString(), QStringLiteral("Core routers of the"));

        edit->clear();
        QTest::mouseClick(update, Qt::LeftButton);
        QCOMPARE(names[2], std::string());
        QCOMPARE(names[1], std::string("Branch"));
        QCOMPARE(boxes.shown.size(), size_t{1});
    }
};

QTEST_MAIN(DlgTabNamesTest)
#include "dlg_tab_names_test.moc"
