// The program file dialogs and Select Target as Qt draws them, on the offscreen platform: what
// the scripted view cannot show (the dialog's own list, its font and columns, the fields).
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "app/control_ids.h"
#include "programdata/limits.h"
#include "qt_program_file_dialogs.h"
#include "qt_select_target_dialog.h"
#include "qt_test_support.h"

namespace {

using Row = std::array<std::string, 5>;

// The main window's side of the Add/Delete dialog, as a plain list.
class ListHost : public ProgramFileDialogHost {
  public:
    std::vector<Row> rows;
    std::vector<Row> toAdd;  // what each "&Add..." registers; nothing once empty
    std::vector<std::vector<int>> deleted;

    FontSpec font{"Courier New", -12, true};

    FontSpec FileListFont() override { return font; }
    std::vector<Row> FileListRows() override { return rows; }
    bool AddFromDialog() override {
        if (toAdd.empty())
            return false;
        rows.push_back(toAdd.front());
        toAdd.erase(toAdd.begin());
        return true;
    }
    void DeleteRows(const std::vector<int>& which) override {
        deleted.push_back(which);
        for (auto it = which.rbegin(); it != which.rend(); ++it)
            rows.erase(rows.begin() + *it);
    }
};

Row MakeRow(const std::string& name) {
    return {name, "00000H", "000FFH", " 00000H", "00000H"};
}

std::vector<std::string> Column0(QTableWidget* t) {
    std::vector<std::string> names;
    for (int r = 0; r < t->rowCount(); ++r)
        names.push_back(t->item(r, 0)->text().toStdString());
    return names;
}

class QtFileDialogs : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { qttest::UseOffscreenApplication("qt_file_dialogs_test"); }
};

TEST_F(QtFileDialogs, AddDeleteDialogShowsTheMainListAndWorksOnIt) {
    ListHost host;
    host.rows = {MakeRow("/p/a.hex"), MakeRow("/p/b.hex"), MakeRow("/p/c.hex")};
    host.toAdd = {MakeRow("/p/d.s")};
    QtProgramFileDialog dialog(host, nullptr);
    QTableWidget* list = dialog.list();
    EXPECT_EQ(dialog.windowTitle().toStdString(), "Add/Delete Hex/S File");
    EXPECT_EQ(dialog.addButton()->text().toStdString(), "&Add...");
    EXPECT_EQ(dialog.deleteButton()->text().toStdString(), "&Delete");
    EXPECT_EQ(dialog.closeButton()->text().toStdString(), "Close");

    EXPECT_EQ(list->font().family().toStdString(), "Courier New");
    EXPECT_EQ(list->font().pixelSize(), 12);
    EXPECT_TRUE(list->font().fixedPitch());
    EXPECT_TRUE(list->showGrid());
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    const char* headers[] = {"File Name", "Start Address", "End Address", "Offset", "Flash Start"};
    const int extra[] = {220, 37, 37, 40, 40};
    ASSERT_EQ(list->columnCount(), 5);
    const QFontMetrics metrics(list->font());
    for (int c = 0; c < 5; ++c) {
        const QString header = list->horizontalHeaderItem(c)->text();
        EXPECT_EQ(header.toStdString(), headers[c]);
        EXPECT_EQ(list->columnWidth(c), metrics.horizontalAdvance(header) + extra[c]) << c;
    }
    ASSERT_EQ(list->rowCount(), 3);
    EXPECT_EQ(list->item(1, 2)->text().toStdString(), "000FFH");

    // Delete removes every selected row from the main list, and the dialog follows it.
    list->selectionModel()->select(list->model()->index(2, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    list->selectionModel()->select(list->model()->index(0, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    dialog.deleteButton()->click();
    ASSERT_EQ(host.deleted.size(), 1u);
    EXPECT_EQ(host.deleted[0], (std::vector<int>{0, 2}));
    EXPECT_EQ(Column0(list), (std::vector<std::string>{"/p/b.hex"}));
    dialog.deleteButton()->click();  // nothing selected any more
    EXPECT_EQ(host.deleted.size(), 1u);

    dialog.addButton()->click();
    EXPECT_EQ(Column0(list), (std::vector<std::string>{"/p/b.hex", "/p/d.s"}));
    dialog.addButton()->click();  // refused: the list stays
    EXPECT_EQ(list->rowCount(), 2);

    dialog.grab().save(QString::fromStdString(std::string(QUORVEL_BINARY_DIR) +
                                              "/tests/quorvel_program_files.png"));

    ListHost none;
    none.font.face = "ＭＳ ゴシック";
    QtProgramFileDialog japanese(none, nullptr);
    EXPECT_EQ(japanese.list()->font().family().toStdString(), "ＭＳ ゴシック");
}

TEST_F(QtFileDialogs, AddHexFileDialogHandsBackBothTexts) {
    std::vector<std::optional<std::string>> answers = {std::nullopt, "/p/chosen.hex"};
    int browsed = 0;
    QtAddHexFileDialog dialog([&] { return answers.at(size_t(browsed++)); }, nullptr);
    EXPECT_EQ(dialog.windowTitle().toStdString(), "Add Hex/S File");
    // Typing stops at the longest name the settings file keeps.
    EXPECT_EQ(dialog.fileNameEdit()->maxLength(), static_cast<int>(programdata::kMaxStoredPath));
    EXPECT_TRUE(dialog.fileNameEdit()->text().isEmpty());
    EXPECT_TRUE(dialog.offsetEdit()->text().isEmpty());
    EXPECT_EQ(dialog.browseButton()->text().toStdString(), "...");

    dialog.fileNameEdit()->setText("typed");
    dialog.browseButton()->click();  // cancelled: the typed name stays
    EXPECT_EQ(dialog.fileNameEdit()->text().toStdString(), "typed");
    dialog.browseButton()->click();
    EXPECT_EQ(dialog.fileNameEdit()->text().toStdString(), "/p/chosen.hex");
    dialog.offsetEdit()->setText("-1000");
    dialog.grab().save(QString::fromStdString(std::string(QUORVEL_BINARY_DIR) +
                                              "/tests/quorvel_add_hex_file.png"));
    dialog.accept();
    AddHexFileResult r = dialog.Result();
    EXPECT_EQ(r.button, IDOK);
    EXPECT_EQ(r.fileName, "/p/chosen.hex");
    EXPECT_EQ(r.offsetText, "-1000");
    dialog.reject();
    EXPECT_EQ(dialog.Result().button, IDCANCEL);
}

TEST_F(QtFileDialogs, AddHexFileDialogKeepsALongerChosenNameWhole) {
    // Cut to the typing limit, a chosen name would name another file, or one nobody chose.
    const std::string longName = "/p/" + std::string(programdata::kMaxStoredPath, 'x') + ".hex";
    QtAddHexFileDialog dialog([&] { return std::optional<std::string>(longName); }, nullptr);
    dialog.browseButton()->click();
    dialog.accept();
    EXPECT_EQ(dialog.Result().fileName, longName);
}

TEST_F(QtFileDialogs, SelectTargetListsTheNamesAndAnswersTypedText) {
    QtSelectTargetDialog dialog({{"QX08C032", "QX16A064", "QX32F128"}, 1}, nullptr);
    EXPECT_EQ(dialog.windowTitle().toStdString(), "Select Target");
    QComboBox* combo = dialog.combo();
    EXPECT_TRUE(combo->isEditable());
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(2).toStdString(), "QX32F128");
    EXPECT_EQ(combo->currentIndex(), 1);
    bool labelled = false;
    for (QLabel* label : dialog.findChildren<QLabel*>())
        labelled = labelled || label->text() == "Target";
    EXPECT_TRUE(labelled);

    dialog.grab().save(QString::fromStdString(std::string(QUORVEL_BINARY_DIR) +
                                              "/tests/quorvel_select_target.png"));
    dialog.accept();
    EXPECT_EQ(dialog.Result().button, IDOK);
    EXPECT_EQ(dialog.Result().name, "QX16A064");
    combo->setEditText("QX99");
    EXPECT_EQ(dialog.Result().name, "QX99");
    EXPECT_EQ(combo->count(), 3) << "typed text is not added to the list";
    dialog.reject();
    EXPECT_EQ(dialog.Result().button, IDCANCEL);
}

}  // namespace
