// The History dialog and its list model.
#include "gui/dialogs/dlg_logs.h"

#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSvgRenderer>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "core/host_log.h"
#include "gui/dialogs/log_lists.h"

namespace qv::gui {
namespace {

constexpr int kColumnWidth = 150;
constexpr int kBoundDigits = 10;
constexpr int kIconSize = 16;

QIcon SvgIcon(const QString& resource) {
    QPixmap pixmap(kIconSize, kIconSize);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(resource);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return QIcon(pixmap);
}

}  // namespace

HistoryModel::HistoryModel(QObject* parent)
    : QAbstractTableModel(parent),
      reply_(SvgIcon(QStringLiteral(":/gui/resources/history_reply.svg"))),
      noReply_(SvgIcon(QStringLiteral(":/gui/resources/history_noreply.svg"))) {}

void HistoryModel::SetRows(HistoryView view, std::vector<HistoryRow> rows) {
    beginResetModel();
    view_ = view;
    rows_ = std::move(rows);
    endResetModel();
}

void HistoryModel::Sort(HistoryColumn column) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    SortHistoryRows(rows_, column);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int HistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int HistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const HistoryRow& row = rows_[static_cast<size_t>(index.row())];
    if (role == Qt::DisplayRole) {
        return QString::fromStdString(index.column() == 0 ? HistoryTimeLabel(row, view_)
                                                          : HistoryValueText(row));
    }
    if (role == Qt::DecorationRole && index.column() == 0) {
        return row.kind == HistoryKind::Reply ? reply_ : noReply_;
    }
    return {};
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    return section == 0 ? QStringLiteral("Time of day") : QStringLiteral("Ping timeout, ms");
}

DlgLogs::DlgLogs(const QString& logPath, MessageBoxes& boxes, QWidget* parent)
    : QDialog(parent), path_(logPath), boxes_(boxes), model_(new HistoryModel(this)) {
    // The path is used whole, however long: a cut path would name another file.
    setWindowTitle(logPath);

    list_ = new QTableView(this);
    list_->setObjectName(QStringLiteral("list"));
    list_->setAccessibleName(QStringLiteral("History"));
    list_->setModel(model_);
    SetUpReportList(list_, {kColumnWidth, kColumnWidth}, 16);
    QHeaderView* header = list_->horizontalHeader();
    header->setSectionsClickable(true);
    connect(header, &QHeaderView::sectionClicked, this, [this](int section) {
        model_->Sort(section == 0 ? HistoryColumn::TimeOfDay : HistoryColumn::Value);
    });

    auto* filter = new QGroupBox(QStringLiteral("Filter "), this);
    const char* names[] = {"groupByMinutes", "allSeconds", "timedOut", "range"};
    const QString texts[] = {QStringLiteral("Group by minutes"), QStringLiteral("All seconds"),
                             QStringLiteral("Timed out"), QStringLiteral("Range, ms:")};
    for (int i = 0; i < 4; ++i) {
        auto* button = new QRadioButton(texts[i], filter);
        button->setObjectName(QString::fromLatin1(names[i]));
        button->setAutoExclusive(false);
        connect(button, &QRadioButton::clicked, this,
                [this, i] { RequestView(static_cast<HistoryView>(i)); });
        viewButtons_[i] = button;
    }
    auto digitsOnly = new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(kBoundDigits)), this);
    auto makeBound = [&](const char* name, const QString& accessible, const QString& text) {
        auto* edit = new QLineEdit(text, filter);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setAccessibleName(accessible);
        edit->setValidator(digitsOnly);
        edit->setMaxLength(kBoundDigits);
        edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("0")) * 8 + 12);
        return edit;
    };
    low_ = makeBound("rangeLow", QStringLiteral("Range low, ms"), QStringLiteral("0"));
    high_ = makeBound("rangeHigh", QStringLiteral("Range high, ms"), QStringLiteral("1000"));

    auto* filterLayout = new QVBoxLayout(filter);
    for (QRadioButton* button : viewButtons_) {
        filterLayout->addWidget(button);
    }
    auto* bounds = new QHBoxLayout;
    bounds->addSpacing(18);
    bounds->addWidget(low_);
    bounds->addWidget(new QLabel(QStringLiteral(" - "), filter));
    bounds->addWidget(high_);
    bounds->addStretch();
    filterLayout->addLayout(bounds);

    auto* refresh = new QPushButton(QStringLiteral("Refresh list"), this);
    refresh->setObjectName(QStringLiteral("refresh"));
    refresh->setAutoDefault(false);
    connect(refresh, &QPushButton::clicked, this, [this] { RequestView(HistoryView::Range); });
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* side = new QVBoxLayout;
    side->addWidget(filter);
    side->addWidget(refresh);
    side->addStretch();
    side->addWidget(ok);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(side);

    CheckViewButton();
    Fill();
}

void DlgLogs::RequestView(HistoryView view) {
    if (view == HistoryView::AllSeconds &&
        boxes_.Show(this, QStringLiteral("This operation could take much time, continue?"),
                    QStringLiteral("Warning"), BoxIcon::Warning,
                    BoxButtons::YesNo) != BoxAnswer::Yes) {
        // The click has toggled the button by itself; put the old choice back.
        CheckViewButton();
        return;
    }
    view_ = view;
    CheckViewButton();
    Fill();
}

void DlgLogs::CheckViewButton() {
    for (int i = 0; i < 4; ++i) {
        viewButtons_[i]->setChecked(i == static_cast<int>(view_));
    }
}

void DlgLogs::Fill() {
    model_->SetRows(view_, {});
    const int32_t low = ParseRangeBound(low_->text().toStdString());
    const int32_t high = ParseRangeBound(high_->text().toStdString());
    std::string why;
    std::optional<std::vector<int32_t>> values =
        ReadHostLogFile(QFile::encodeName(path_).toStdString(), &why);
    if (!values) {
        boxes_.Show(this, QStringLiteral("Can't open log file!\n") + QString::fromStdString(why),
                    QStringLiteral("Error"), BoxIcon::Error);
        return;
    }
    model_->SetRows(view_, BuildHistoryRows(*values, view_, low, high));
}

}  // namespace qv::gui
