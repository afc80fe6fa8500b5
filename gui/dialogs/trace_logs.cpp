// The Trace route logs dialog.
#include "gui/dialogs/trace_logs.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStringDecoder>
#include <QTableView>
#include <QVBoxLayout>

#include "gui/dialogs/log_lists.h"

namespace qv::gui {
namespace {

constexpr int kFileColumnWidth = 200;
constexpr int kTimeColumnWidth = 150;

}  // namespace

QString TraceText(const std::string& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (utf8.hasError()) {
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    return text;
}

CTraceLogs::CTraceLogs(const std::string& dataDir, Clock& clock, MessageBoxes& boxes,
                       QWidget* parent)
    : QDialog(parent),
      dir_(dataDir),
      clock_(clock),
      boxes_(boxes),
      model_(new QStandardItemModel(0, 2, this)) {
    setWindowTitle(QStringLiteral("Trace route logs"));
    model_->setHorizontalHeaderLabels(
        {QStringLiteral("Tracert file"), QStringLiteral("Timestamp")});

    list_ = new QTableView(this);
    list_->setObjectName(QStringLiteral("list"));
    list_->setAccessibleName(QStringLiteral("Trace route files"));
    list_->setModel(model_);
    SetUpReportList(list_, {kFileColumnWidth, kTimeColumnWidth}, 6);
    QHeaderView* header = list_->horizontalHeader();
    header->setSectionsClickable(true);
    connect(header, &QHeaderView::sectionClicked, this, [this](int section) {
        SortTraceFiles(rows_, section == 0 ? TraceColumn::File : TraceColumn::Timestamp);
        ShowRows();
    });
    connect(list_, &QTableView::clicked, this, &CTraceLogs::ShowSelectedFile);

    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("text"));
    text_->setAccessibleName(QStringLiteral("Trace route"));
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Traceroute prints columns; they line up only in a fixed-pitch font.
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    text_->setMinimumSize(560, 260);

    auto* remove = new QPushButton(QStringLiteral("Delete"), this);
    remove->setObjectName(QStringLiteral("delete"));
    remove->setAutoDefault(false);
    connect(remove, &QPushButton::clicked, this, &CTraceLogs::DeleteSelectedFile);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* top = new QHBoxLayout;
    top->addWidget(list_, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(remove);
    buttons->addStretch();
    buttons->addWidget(ok);
    top->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(text_, 1);

    Fill();
}

void CTraceLogs::Fill() {
    rows_ = ListTraceFiles(dir_, clock_);
    ShowRows();
}

void CTraceLogs::ShowRows() {
    model_->setRowCount(0);
    model_->setRowCount(static_cast<int>(rows_.size()));
    for (size_t i = 0; i < rows_.size(); ++i) {
        const int row = static_cast<int>(i);
        model_->setItem(row, 0, new QStandardItem(QString::fromStdString(rows_[i].name)));
        model_->setItem(row, 1, new QStandardItem(QString::fromStdString(rows_[i].timestamp)));
    }
}

void CTraceLogs::ShowSelectedFile() {
    const int row = FirstSelectedRow(list_);
    if (row < 0) {
        return;
    }
    std::string why;
    if (std::optional<std::string> head =
            ReadTraceHead(dir_ + "/" + rows_[static_cast<size_t>(row)].name, &why)) {
        text_->setPlainText(TraceText(*head));
    } else {
        text_->clear();
        boxes_.Show(this, QString::fromStdString(why), QStringLiteral("Error"), BoxIcon::Error);
    }
}

void CTraceLogs::DeleteSelectedFile() {
    const int row = FirstSelectedRow(list_);
    if (row < 0) {
        boxes_.Show(this, QStringLiteral("Select a file to delete."), QStringLiteral("Error"),
                    BoxIcon::Error);
        return;
    }
    DeleteTraceFile(dir_, rows_[static_cast<size_t>(row)].name);
    Fill();
}

}  // namespace qv::gui
