#pragma once
// Select Target: combo 1000 with the target names in set order; the operator may also type a
// name. The dialog answers the combo's text.
#include <QDialog>

#include "app/dialog_view.h"

class QComboBox;

class QtSelectTargetDialog : public QDialog {
  public:
    QtSelectTargetDialog(const SelectTargetRequest& request, QWidget* parent);

    SelectTargetResult Result() const;
    QComboBox* combo() const { return combo_; }

  private:
    QComboBox* combo_ = nullptr;
};
