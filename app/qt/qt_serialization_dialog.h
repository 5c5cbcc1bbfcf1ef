#pragma once
// Serialization: whether Write gives every target its own serial number, where in the flash
// it goes, how many bytes it has, the first number and the step. OK asks the controller's
// validator; a refused entry keeps the dialog open with the fields as typed.
#include <QDialog>

#include "app/dialog_view.h"

class QCheckBox;
class QLineEdit;
class QSpinBox;

class CSerializationDialog : public QDialog {
  public:
    CSerializationDialog(const SerializationState& initial, SerializationValidator& validator,
                         QWidget* parent);

    // OK with the accepted fields, or Cancel with the fields the dialog was opened with.
    SerializationResult Result() const;

    void reject() override;

  private:
    SerializationState Fields() const;
    void OnOk();
    void UpdateEnabling();

    SerializationValidator& validator_;
    SerializationState result_;
    QCheckBox* serialOn_ = nullptr;
    QLineEdit* address_ = nullptr;
    QSpinBox* length_ = nullptr;
    QLineEdit* start_ = nullptr;
    QLineEdit* increment_ = nullptr;
};
