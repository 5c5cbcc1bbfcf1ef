#include "qt_security_dialog.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/control_ids.h"
#include "qt_security_edit.h"

namespace {

QString Name(int id) {
    return QStringLiteral("security_%1").arg(id);
}

}  // namespace

CSecurityDialog::CSecurityDialog(const SecurityIdRequest& request, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Security ID checking (Target No.%1)").arg(request.target));
    setObjectName(Name(IDD_SECURITY_ID));

    enterId_ = new QRadioButton("Enter &security ID", this);
    enterId_->setObjectName(Name(IDC_SECURITY_ENTER_ID));
    enterId_->setChecked(true);
    initialize_ = new QRadioButton("&Initialize Flash memory and security setting.", this);
    initialize_->setObjectName(Name(IDC_SECURITY_INITIALIZE));
    initialize_->setEnabled(request.initializeAllowed);
    connect(enterId_, &QRadioButton::toggled, this, [this] { OnChoice(); });

    ok_ = new QPushButton("OK", this);
    ok_->setObjectName(Name(IDOK));
    ok_->setDefault(true);
    auto* skip = new QPushButton("Skip", this);
    skip->setObjectName(Name(IDSKIP));
    auto* unplug = new QPushButton("Unplug", this);
    unplug->setObjectName(Name(IDUNPLUG));
    connect(ok_, &QPushButton::clicked, this, [this] { done(IDOK); });
    connect(skip, &QPushButton::clicked, this, [this] { done(IDSKIP); });
    connect(unplug, &QPushButton::clicked, this, [this] { done(IDUNPLUG); });

    auto* row = new QHBoxLayout;
    // The fields sit under their choice.
    row->addSpacing(20);
    for (int i = 0; i < kSecurityFieldCount; ++i) {
        fields_[size_t(i)] = new CSecurityEdit(this);
        fields_[size_t(i)]->setObjectName(Name(SecurityFieldId(i)));
        row->addWidget(fields_[size_t(i)]);
    }
    row->addStretch();
    for (int i = 0; i < kSecurityFieldCount; ++i) {
        CSecurityEdit::Links links;
        links.previous = i > 0 ? fields_[size_t(i - 1)] : nullptr;
        links.next = i + 1 < kSecurityFieldCount ? fields_[size_t(i + 1)] : nullptr;
        links.before = enterId_;
        links.after = ok_;
        links.enter = ok_;
        fields_[size_t(i)]->SetLinks(links);
    }

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* b : {ok_, skip, unplug})
        buttons->addWidget(b);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(enterId_);
    layout->addLayout(row);
    layout->addSpacing(8);
    layout->addWidget(initialize_);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(enterId_, initialize_);
    QWidget* last = initialize_;
    for (CSecurityEdit* field : fields_) {
        setTabOrder(last, field);
        last = field;
    }
    for (QPushButton* b : {ok_, skip, unplug}) {
        setTabOrder(last, b);
        last = b;
    }
    // The operator types the ID straight away.
    fields_[0]->setFocus();
}

void CSecurityDialog::OnChoice() {
    for (CSecurityEdit* field : fields_)
        field->setEnabled(enterId_->isChecked());
}

void CSecurityDialog::reject() {
    done(IDUNPLUG);
}

SecurityIdResult CSecurityDialog::Result() const {
    SecurityIdResult r;
    r.button = result() == IDOK || result() == IDSKIP ? result() : IDUNPLUG;
    r.choice = initialize_->isChecked() ? 1 : 0;
    for (int i = 0; i < kSecurityFieldCount; ++i)
        r.fields[size_t(i)] = fields_[size_t(i)]->text().toStdString();
    return r;
}
