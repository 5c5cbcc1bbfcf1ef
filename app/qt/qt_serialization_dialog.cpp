#include "qt_serialization_dialog.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/control_ids.h"

namespace {

QString Name(int id) {
    return QStringLiteral("serial_%1").arg(id);
}

constexpr int kMinLength = 1;
constexpr int kMaxLength = 256;

}  // namespace

CSerializationDialog::CSerializationDialog(const SerializationState& initial,
                                           SerializationValidator& validator, QWidget* parent)
    : QDialog(parent), validator_(validator), result_(initial) {
    setWindowTitle("Serialization");
    setObjectName(Name(IDD_SERIALIZATION));

    serialOn_ = new QCheckBox("Write with Serial Numbers (in MSB first format)", this);
    serialOn_->setObjectName(Name(IDC_SERIAL_ON));
    serialOn_->setChecked(initial.serialOn);
    connect(serialOn_, &QCheckBox::toggled, this, [this] { UpdateEnabling(); });

    auto makeEdit = [this](int id, const std::string& text) {
        auto* edit = new QLineEdit(QString::fromStdString(text), this);
        edit->setObjectName(Name(id));
        // A serial number of many bytes stays readable.
        edit->setMinimumWidth(QFontMetrics(edit->font()).averageCharWidth() * 28);
        return edit;
    };
    address_ = makeEdit(IDC_SERIAL_ADDRESS, initial.address);
    start_ = makeEdit(IDC_SERIAL_START, initial.startSerial);
    increment_ = makeEdit(IDC_SERIAL_INCREMENT, initial.increment);

    // The byte count is only stepped, never typed: the edit is the up-down control's buddy.
    length_ = new QSpinBox(this);
    length_->setObjectName(Name(IDC_SERIAL_LENGTH_SPIN));
    length_->setRange(kMinLength, kMaxLength);
    length_->setValue(initial.length);
    if (auto* lengthEdit = length_->findChild<QLineEdit*>()) {
        lengthEdit->setObjectName(Name(IDC_SERIAL_LENGTH));
        lengthEdit->setReadOnly(true);
    }

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(10);
    struct Row {
        int id;
        const char* label;
        QWidget* field;
        const char* hint;
    };
    const Row rows[] = {
        {IDC_SERIAL_ADDRESS, "Start Address", address_, "(hexadecimal format\nfrom 0 to FFFFFF)"},
        {IDC_SERIAL_LENGTH, "Number of Bytes", length_, "(from 1 to 256)"},
        {IDC_SERIAL_START, "Start Serial Number", start_,
         "(Hexadecimal format\nequal or more than 0)"},
        {IDC_SERIAL_INCREMENT, "Incremental Value", increment_,
         "(hexadecimal format\nequal or more than 0)"},
    };
    int r = 0;
    for (const Row& row : rows) {
        auto* label = new QLabel(row.label, this);
        label->setObjectName(Name(row.id) + "_label");
        label->setBuddy(row.field);
        auto* hint = new QLabel(row.hint, this);
        hint->setObjectName(Name(row.id) + "_hint");
        grid->addWidget(label, r, 0, Qt::AlignLeft | Qt::AlignVCenter);
        grid->addWidget(row.field, r, 1, Qt::AlignLeft | Qt::AlignVCenter);
        grid->addWidget(hint, r, 2, Qt::AlignLeft | Qt::AlignVCenter);
        ++r;
    }

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName(Name(IDOK));
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName(Name(IDCANCEL));
    connect(ok, &QPushButton::clicked, this, [this] { OnOk(); });
    connect(cancel, &QPushButton::clicked, this, &CSerializationDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(serialOn_);
    layout->addSpacing(6);
    layout->addLayout(grid);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    QWidget* order[] = {serialOn_, address_, length_, start_, increment_, ok, cancel};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    UpdateEnabling();
}

void CSerializationDialog::UpdateEnabling() {
    const bool on = serialOn_->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(address_), static_cast<QWidget*>(length_),
                       static_cast<QWidget*>(start_), static_cast<QWidget*>(increment_)})
        w->setEnabled(on);
}

SerializationState CSerializationDialog::Fields() const {
    SerializationState s;
    s.serialOn = serialOn_->isChecked();
    s.startSerial = start_->text().toStdString();
    s.address = address_->text().toStdString();
    s.increment = increment_->text().toStdString();
    s.length = length_->value();
    return s;
}

void CSerializationDialog::OnOk() {
    SerializationState fields = Fields();
    // A refused entry was reported by the validator; the operator corrects it here.
    if (!validator_.Accept(fields))
        return;
    result_ = std::move(fields);
    done(IDOK);
}

void CSerializationDialog::reject() {
    done(IDCANCEL);
}

SerializationResult CSerializationDialog::Result() const {
    return {result() == IDOK ? IDOK : IDCANCEL, result_};
}
