#pragma once
// The two program file dialogs: "Add/Delete Hex/S File" works on the main window's file list
// through its host; "Add Hex/S File" asks for a file name and an offset.
#include <QDialog>
#include <functional>
#include <optional>
#include <string>

#include "app/dialog_view.h"

class QFont;
class QLineEdit;
class QPushButton;
class QTableWidget;

// The font a FontSpec names; a fixed-pitch face that is missing gives way to another one.
QFont QtFont(const FontSpec& spec);

class QtProgramFileDialog : public QDialog {
  public:
    QtProgramFileDialog(ProgramFileDialogHost& host, QWidget* parent);

    QTableWidget* list() const { return list_; }
    QPushButton* addButton() const { return add_; }
    QPushButton* deleteButton() const { return delete_; }
    QPushButton* closeButton() const { return close_; }

  private:
    void Refill();
    void OnAdd();
    void OnDelete();

    ProgramFileDialogHost& host_;
    QTableWidget* list_ = nullptr;
    QPushButton* add_ = nullptr;
    QPushButton* delete_ = nullptr;
    QPushButton* close_ = nullptr;
};

class QtAddHexFileDialog : public QDialog {
  public:
    // browse runs the file-open dialog of "..."; nothing when it was cancelled.
    using Browse = std::function<std::optional<std::string>()>;
    QtAddHexFileDialog(Browse browse, QWidget* parent);

    // The two texts as typed (meaningful after OK).
    AddHexFileResult Result() const;

    QLineEdit* fileNameEdit() const { return fileName_; }
    QLineEdit* offsetEdit() const { return offset_; }
    QPushButton* browseButton() const { return browse_; }

  private:
    Browse browseFile_;
    QLineEdit* fileName_ = nullptr;
    QLineEdit* offset_ = nullptr;
    QPushButton* browse_ = nullptr;
};
