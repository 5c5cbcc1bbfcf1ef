#include "qt_select_target_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/control_ids.h"

QtSelectTargetDialog::QtSelectTargetDialog(const SelectTargetRequest& request, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle("Select Target");
    setObjectName(QString::number(IDD_SELECT_TARGET));
    combo_ = new QComboBox(this);
    combo_->setObjectName(QString::number(IDC_TARGET_COMBO));
    combo_->setEditable(true);
    // Typed text is answered as it is, never added to the list.
    combo_->setInsertPolicy(QComboBox::NoInsert);
    for (const std::string& name : request.names)
        combo_->addItem(QString::fromStdString(name));
    if (request.selected >= 0 && request.selected < combo_->count())
        combo_->setCurrentIndex(request.selected);
    combo_->setMinimumContentsLength(20);

    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("Target", this));
    row->addWidget(combo_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(box);
}

SelectTargetResult QtSelectTargetDialog::Result() const {
    SelectTargetResult r;
    r.button = result() == QDialog::Accepted ? IDOK : IDCANCEL;
    r.name = combo_->currentText().toStdString();
    return r;
}
