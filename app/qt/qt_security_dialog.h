#pragma once
// Security ID checking: the operator types the target's security ID into twelve word fields,
// or asks for the flash and its security setting to be initialised, or skips the target, or
// unplugs everything. Unplug is the dialog's Cancel: Escape and the close box answer it too.
#include <QDialog>
#include <array>

#include "app/dialog_view.h"

class CSecurityEdit;
class QPushButton;
class QRadioButton;

class CSecurityDialog : public QDialog {
  public:
    CSecurityDialog(const SecurityIdRequest& request, QWidget* parent);

    // The button that closed the dialog, the choice and the field texts (four characters
    // each, blanks where empty).
    SecurityIdResult Result() const;

    void reject() override;

  private:
    void OnChoice();

    QRadioButton* enterId_ = nullptr;
    QRadioButton* initialize_ = nullptr;
    std::array<CSecurityEdit*, 12> fields_{};
    QPushButton* ok_ = nullptr;
};
