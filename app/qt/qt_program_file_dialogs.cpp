#include "qt_program_file_dialogs.h"

#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "app/control_ids.h"
#include "programdata/limits.h"
#include "programdata/string_table.h"

namespace {

QString Q(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}
QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

}  // namespace

QFont QtFont(const FontSpec& spec) {
    QFont font(Q(spec.face));
    font.setFixedPitch(spec.fixedPitch);
    font.setStyleHint(spec.fixedPitch ? QFont::Monospace : QFont::AnyStyle);
    if (spec.height != 0)
        font.setPixelSize(spec.height < 0 ? -spec.height : spec.height);
    return font;
}

QtProgramFileDialog::QtProgramFileDialog(ProgramFileDialogHost& host, QWidget* parent)
    : QDialog(parent), host_(host) {
    setWindowTitle("Add/Delete Hex/S File");
    list_ = new QTableWidget(this);
    const QFont font = QtFont(host.FileListFont());
    list_->setFont(font);
    list_->setShowGrid(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->verticalHeader()->hide();
    list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list_->setColumnCount(static_cast<int>(std::size(kProgramFileColumns)));
    const QFontMetrics metrics(font);
    int width = 0;
    for (int c = 0; c < list_->columnCount(); ++c) {
        const ListColumnSpec& column = kProgramFileColumns[c];
        const QString header = Q(GetStringText(column.header));
        list_->setHorizontalHeaderItem(c, new QTableWidgetItem(header));
        list_->setColumnWidth(c, metrics.horizontalAdvance(header) + column.extraWidth);
        width += list_->columnWidth(c);
    }
    list_->setMinimumWidth(width + 4);

    add_ = new QPushButton("&Add...", this);
    delete_ = new QPushButton("&Delete", this);
    close_ = new QPushButton("Close", this);
    for (QPushButton* b : {add_, delete_, close_})
        b->setAutoDefault(false);
    connect(add_, &QPushButton::clicked, this, [this] { OnAdd(); });
    connect(delete_, &QPushButton::clicked, this, [this] { OnDelete(); });
    connect(close_, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add_);
    buttons->addWidget(delete_);
    buttons->addStretch();
    buttons->addWidget(close_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addLayout(buttons);
    Refill();
}

void QtProgramFileDialog::Refill() {
    list_->setRowCount(0);
    const auto rows = host_.FileListRows();
    list_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < list_->rowCount(); ++r)
        for (int c = 0; c < list_->columnCount(); ++c)
            list_->setItem(r, c, new QTableWidgetItem(Q(rows[size_t(r)][size_t(c)])));
}

void QtProgramFileDialog::OnAdd() {
    if (host_.AddFromDialog())
        Refill();
}

void QtProgramFileDialog::OnDelete() {
    std::vector<int> rows;
    for (const QModelIndex& index : list_->selectionModel()->selectedRows())
        rows.push_back(index.row());
    if (rows.empty())
        return;
    std::sort(rows.begin(), rows.end());
    host_.DeleteRows(rows);
    Refill();
}

QtAddHexFileDialog::QtAddHexFileDialog(Browse browse, QWidget* parent)
    : QDialog(parent), browseFile_(std::move(browse)) {
    setWindowTitle("Add Hex/S File");
    fileName_ = new QLineEdit(this);
    // Typing stops at the longest name the settings file keeps whole.
    fileName_->setMaxLength(static_cast<int>(programdata::kMaxStoredPath));
    fileName_->setMinimumWidth(QFontMetrics(fileName_->font()).averageCharWidth() * 60);
    browse_ = new QPushButton("...", this);
    browse_->setAutoDefault(false);
    browse_->setMaximumWidth(QFontMetrics(browse_->font()).horizontalAdvance("...") * 4);
    offset_ = new QLineEdit(this);
    connect(browse_, &QPushButton::clicked, this, [this] {
        if (!browseFile_)
            return;
        if (std::optional<std::string> path = browseFile_()) {
            // A longer chosen name stays whole, so that it is refused rather than cut.
            const QString name = Q(*path);
            fileName_->setMaxLength(std::max(static_cast<int>(programdata::kMaxStoredPath),
                                             static_cast<int>(name.size())));
            fileName_->setText(name);
        }
    });
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("File Name", this), 0, 0);
    grid->addWidget(fileName_, 0, 1);
    grid->addWidget(browse_, 0, 2);
    grid->addWidget(new QLabel("Flash Memory Offset", this), 1, 0);
    grid->addWidget(offset_, 1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(box);
}

AddHexFileResult QtAddHexFileDialog::Result() const {
    AddHexFileResult r;
    r.button = result() == QDialog::Accepted ? IDOK : IDCANCEL;
    r.fileName = fileName_->text().toStdString();
    r.offsetText = offset_->text().toStdString();
    return r;
}
