// The Security ID and Serialization dialogs as an operator meets them: keys go to whatever
// has the focus, as on a real keyboard. Screenshots go to <build>/screenshots for review.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "qt_dialog_view.h"
#include "qt_security_dialog.h"
#include "qt_security_edit.h"
#include "qt_serialization_dialog.h"
#include "qt_test_support.h"

namespace {

void Type(const char* keys) {
    for (const char* k = keys; *k != '\0'; ++k)
        QTest::keyClick(QApplication::focusWidget(), *k);
}

void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
}

template <typename W = QWidget>
W* Find(QWidget* dialog, const char* prefix, int id) {
    W* w = dialog->findChild<W*>(QStringLiteral("%1_%2").arg(prefix).arg(id));
    EXPECT_NE(w, nullptr) << prefix << id;
    return w;
}

void Show(QDialog* dialog) {
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
}

// Every caption gets the room it asks for, no two controls share pixels; then a picture.
void CheckLayoutAndSave(QWidget* dialog, const char* picture) {
    const QList<QWidget*> shown = dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* w : shown) {
        if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w)) {
            EXPECT_GE(w->width(), w->sizeHint().width()) << w->objectName().toStdString();
        }
        for (QWidget* other : shown)
            EXPECT_TRUE(w == other || !w->geometry().intersects(other->geometry()))
                << w->objectName().toStdString() << " " << other->objectName().toStdString();
    }
    const std::filesystem::path dir = std::filesystem::path(QUORVEL_BINARY_DIR) / "screenshots";
    std::filesystem::create_directories(dir);
    EXPECT_TRUE(dialog->grab().save(QString::fromStdString((dir / picture).string())));
}

class SecurityDialogTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { qttest::UseOffscreenApplication("qt_target_dialogs_test"); }

    void Open(SecurityIdRequest request = {1, true}) {
        dialog_ = std::make_unique<CSecurityDialog>(request, nullptr);
        Show(dialog_.get());
    }
    CSecurityEdit* Field(int i) {
        return Find<CSecurityEdit>(dialog_.get(), "security", SecurityFieldId(i));
    }
    QAbstractButton* Button(int id) { return Find<QAbstractButton>(dialog_.get(), "security", id); }
    // The fields up to the last one in use, then "@field:caret" where the focus is.
    std::string Screen() {
        std::string id, at;
        int used = 0;
        for (int i = 0; i < kSecurityFieldCount; ++i) {
            if (Field(i)->text() != "    ")
                used = i + 1;
            if (Field(i)->hasFocus())
                at = "@" + std::to_string(i) + ":" + std::to_string(Field(i)->cursorPosition());
        }
        for (int i = 0; i < used; ++i)
            id += (i > 0 ? "|" : "") + Field(i)->text().toStdString();
        return id + at;
    }

    std::unique_ptr<CSecurityDialog> dialog_;
};

TEST_F(SecurityDialogTest, TypingArrowsAndBackspaceRunAcrossTheFields) {
    Open({2, true});
    EXPECT_EQ(dialog_->windowTitle().toStdString(), "Security ID checking (Target No.2)");
    EXPECT_EQ(Screen(), "@0:0") << "the ID can be typed straight away";

    Type("12g3x4abCD ef");  // g, x and the blank are refused
    EXPECT_EQ(Screen(), "1234|ABCD|EF  @2:2");
    Press(Qt::Key_Backspace);
    Press(Qt::Key_Backspace);
    EXPECT_EQ(Screen(), "1234|ABCD@2:0");
    Press(Qt::Key_Backspace);  // at the start: to the end of the field before, nothing erased
    EXPECT_EQ(Screen(), "1234|ABCD@1:4");
    Press(Qt::Key_Backspace);
    EXPECT_EQ(Screen(), "1234|ABC @1:3") << "Backspace never moves on to the next field";
    Type("e");
    EXPECT_EQ(Screen(), "1234|ABCE@2:0");

    Press(Qt::Key_Left);  // at the start: to the end of the field before
    Press(Qt::Key_Left);
    Press(Qt::Key_Delete);
    EXPECT_EQ(Screen(), "1234|ABC @1:3") << "Delete clears at the caret and stays";
    Press(Qt::Key_Right);
    Press(Qt::Key_Right);  // at the end: to the start of the next field
    EXPECT_EQ(Screen(), "1234|ABC @2:0");

    // The first field has nothing before it, the last nothing after it.
    Field(0)->EnterAt(0);
    Press(Qt::Key_Left);
    Press(Qt::Key_Backspace);
    EXPECT_EQ(Screen(), "1234|ABC @0:0");
    Field(11)->EnterAt(0);
    Type("5678");
    Press(Qt::Key_Right);
    Type("9");
    EXPECT_EQ(Screen(), "1234|ABC |    |    |    |    |    |    |    |    |    |5678@11:4");

    // What is typed over a selection clears it.
    Field(0)->EnterAt(0);
    Field(0)->selectAll();
    Type("7");
    EXPECT_EQ(Field(0)->text(), "7   ");
}

TEST_F(SecurityDialogTest, TabRunsAlongTheFieldsAndLeavesThemAtTheEnds) {
    Open();
    Type("12");
    Press(Qt::Key_Tab);
    EXPECT_EQ(Screen(), "12  @1:0");
    Field(5)->EnterAt(2);
    Press(Qt::Key_Tab, Qt::ShiftModifier);
    Press(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(Screen(), "12  @3:4");
    Field(0)->EnterAt(0);
    Press(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_TRUE(Button(IDC_SECURITY_ENTER_ID)->hasFocus());
    // The radio group is one stop; from it typing goes on at the first field's first blank.
    Press(Qt::Key_Tab);
    EXPECT_EQ(Screen(), "12  @0:2");
    EXPECT_FALSE(Field(0)->hasSelectedText());
    Field(11)->EnterAt(1);
    Press(Qt::Key_Tab);
    EXPECT_TRUE(Button(IDOK)->hasFocus());
    EXPECT_TRUE(dialog_->isVisible());
}

TEST_F(SecurityDialogTest, EnterPressesOkWhichHandsOverTheFieldsAsTyped) {
    Open();
    Type("12");
    Press(Qt::Key_Tab);
    Press(Qt::Key_Tab);
    Press(Qt::Key_Right);
    Type("3");
    Press(Qt::Key_Right);
    Type("4abcd");
    Press(Qt::Key_Enter);
    EXPECT_FALSE(dialog_->isVisible());
    const SecurityIdResult r = dialog_->Result();
    EXPECT_EQ(r.button, IDOK);
    EXPECT_EQ(r.choice, 0);
    const std::array<std::string, 12> expected = {"12  ", "    ", " 3 4", "ABCD", "    ", "    ",
                                                  "    ", "    ", "    ", "    ", "    ", "    "};
    EXPECT_EQ(r.fields, expected);
    // The part-typed word counts with zeros; the untouched second word ends the ID.
    EXPECT_EQ(TypedSecurityIdWords(r.fields), std::vector<uint16_t>{0x1200});
}

TEST_F(SecurityDialogTest, PastedIdSpreadsOverTheFieldsOrIsRefusedWhole) {
    Open();
    QApplication::clipboard()->setText("1234 5678-9abc:DEF0");
    Press(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Screen(), "1234|5678|9ABC|DEF0@4:0");
    QApplication::clipboard()->setText("12G4");
    Press(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Screen(), "1234|5678|9ABC|DEF0@4:0");

    // 48 digits fill the whole ID from its first position, and from no later one.
    const QString full = QString("0123456789AB").repeated(4);
    Field(0)->EnterAt(1);
    EXPECT_FALSE(Field(0)->PasteDigits(full));
    Field(0)->EnterAt(0);
    EXPECT_TRUE(Field(0)->PasteDigits(full));
    EXPECT_EQ(Field(11)->text(), "89AB");
    EXPECT_TRUE(Field(11)->hasFocus());

    // Text set from outside the keyboard still keeps to the mask.
    Field(5)->setText("ab");
    EXPECT_EQ(Field(5)->text(), "AB  ");
    Field(5)->setText("x1234567");
    EXPECT_EQ(Field(5)->text(), " 123");
}

TEST_F(SecurityDialogTest, InitializeChoiceDisablesTheFieldsAndLeavesThemAsTyped) {
    Open({1, false});
    EXPECT_FALSE(Button(IDC_SECURITY_INITIALIZE)->isEnabled()) << "security type 1";
    Open({1, true});
    EXPECT_TRUE(Button(IDC_SECURITY_ENTER_ID)->isChecked());
    Type("12");
    Button(IDC_SECURITY_INITIALIZE)->click();
    for (int i = 0; i < kSecurityFieldCount; ++i)
        EXPECT_FALSE(Field(i)->isEnabled()) << i;
    Button(IDC_SECURITY_ENTER_ID)->click();
    EXPECT_TRUE(Field(11)->isEnabled());
    Button(IDC_SECURITY_INITIALIZE)->click();
    Button(IDOK)->click();
    const SecurityIdResult r = dialog_->Result();
    EXPECT_EQ(r.button, IDOK);
    EXPECT_EQ(r.choice, 1);
    EXPECT_EQ(r.fields[0], "12  ");
}

TEST_F(SecurityDialogTest, SkipAndUnplugAnswerTheirIdsEscapeAndCloseUnplug) {
    Open({12, true});
    Type("0123456789ABCDEF01234");
    CheckLayoutAndSave(dialog_.get(), "security_dialog.png");
    Button(IDSKIP)->click();
    EXPECT_EQ(dialog_->Result().button, IDSKIP);
    Open();
    Button(IDUNPLUG)->click();
    EXPECT_EQ(dialog_->Result().button, IDUNPLUG);
    Open();
    Press(Qt::Key_Escape);
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(dialog_->Result().button, IDUNPLUG);
    Open();
    dialog_->close();
    EXPECT_EQ(dialog_->Result().button, IDUNPLUG);
}

// The controller's side: answers from a list, remembering what it was asked.
class ScriptedValidator : public SerializationValidator {
  public:
    std::vector<bool> answers;
    std::vector<SerializationState> asked;
    std::function<void()> report;  // what a refusal shows
    bool Accept(const SerializationState& fields) override {
        asked.push_back(fields);
        const bool accepted = asked.size() <= answers.size() && answers[asked.size() - 1];
        if (!accepted && report)
            report();
        return accepted;
    }
};

class SerializationDialogTest : public SecurityDialogTest {
  protected:
    void Open() {
        serial_ = std::make_unique<CSerializationDialog>(initial_, validator_, nullptr);
        Show(serial_.get());
    }
    template <typename W = QWidget>
    W* Control(int id) {
        return Find<W>(serial_.get(), "serial", id);
    }

    const SerializationState initial_{false, "00000001", "1F000", "00000002", 4};
    ScriptedValidator validator_;
    std::unique_ptr<CSerializationDialog> serial_;
};

TEST_F(SerializationDialogTest, FieldsAreEditableOnlyWhileSerializationIsOn) {
    Open();
    EXPECT_EQ(serial_->windowTitle().toStdString(), "Serialization");
    QString shown;
    for (int id : {IDC_SERIAL_START, IDC_SERIAL_ADDRESS, IDC_SERIAL_INCREMENT, IDC_SERIAL_LENGTH})
        shown += Control<QLineEdit>(id)->text() + "/";
    EXPECT_EQ(shown, "00000001/1F000/00000002/4/");
    const int dependent[] = {IDC_SERIAL_START, IDC_SERIAL_ADDRESS, IDC_SERIAL_INCREMENT,
                             IDC_SERIAL_LENGTH, IDC_SERIAL_LENGTH_SPIN};
    for (int id : dependent)
        EXPECT_FALSE(Control(id)->isEnabled()) << id;
    Control<QCheckBox>(IDC_SERIAL_ON)->click();
    for (int id : dependent)
        EXPECT_TRUE(Control(id)->isEnabled()) << id;

    // The byte count is stepped within 1 to 256, never typed.
    auto* spin = Control<QSpinBox>(IDC_SERIAL_LENGTH_SPIN);
    EXPECT_EQ(std::make_pair(spin->minimum(), spin->maximum()), std::make_pair(1, 256));
    EXPECT_TRUE(Control<QLineEdit>(IDC_SERIAL_LENGTH)->isReadOnly());
    spin->setFocus();
    Press(Qt::Key_Up);
    EXPECT_EQ(Control<QLineEdit>(IDC_SERIAL_LENGTH)->text(), "5");
    CheckLayoutAndSave(serial_.get(), "serialization_dialog.png");
}

TEST_F(SerializationDialogTest, RefusedEntryStaysAsTypedCancelAndEscapeChangeNothing) {
    Open();
    Control<QCheckBox>(IDC_SERIAL_ON)->click();
    Control<QLineEdit>(IDC_SERIAL_START)->setText("12345");
    Control<QSpinBox>(IDC_SERIAL_LENGTH_SPIN)->setValue(2);
    validator_.answers = {false, true};
    Control<QPushButton>(IDOK)->click();
    EXPECT_TRUE(serial_->isVisible());
    EXPECT_EQ(Control<QLineEdit>(IDC_SERIAL_START)->text(), "12345");
    ASSERT_EQ(validator_.asked.size(), 1u);
    const SerializationState asked = validator_.asked[0];
    EXPECT_TRUE(asked.serialOn);
    EXPECT_EQ(asked.startSerial + "/" + asked.address + "/" + asked.increment,
              "12345/1F000/00000002");
    EXPECT_EQ(asked.length, 2);
    Control<QLineEdit>(IDC_SERIAL_START)->setText("1234");
    Control<QLineEdit>(IDC_SERIAL_START)->setFocus();
    Press(Qt::Key_Return);
    EXPECT_FALSE(serial_->isVisible());
    EXPECT_EQ(serial_->Result().button, IDOK);
    EXPECT_EQ(serial_->Result().fields.startSerial, "1234");

    for (bool escape : {false, true}) {
        Open();
        Control<QCheckBox>(IDC_SERIAL_ON)->click();
        Control<QLineEdit>(IDC_SERIAL_ADDRESS)->setText("FFFF");
        escape ? Press(Qt::Key_Escape) : Control<QPushButton>(IDCANCEL)->click();
        const SerializationResult r = serial_->Result();
        EXPECT_EQ(r.button, IDCANCEL);
        EXPECT_FALSE(r.fields.serialOn);
        EXPECT_EQ(r.fields.address, "1F000");
    }
    EXPECT_EQ(validator_.asked.size(), 2u);
}

// The view opens a new dialog for every call; a refusal's message stands over the dialog.
TEST_F(SerializationDialogTest, ViewRunsBothDialogsModally) {
    QtDialogView view;
    std::string title;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        title = modal->windowTitle().toStdString();
        Find<QPushButton>(modal, "security", IDSKIP)->click();
    });
    EXPECT_EQ(view.RunSecurityIdDialog({7, false}).button, IDSKIP);
    EXPECT_EQ(title, "Security ID checking (Target No.7)");

    QString boxParent;
    validator_.answers = {false, true};
    validator_.report = [&] {
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            boxParent = box->parentWidget() ? box->parentWidget()->objectName() : QString();
            box->button(QMessageBox::Ok)->click();
        });
        view.MessageBox({0, "refused", "Quorvel", MsgIcon::Error, MsgButtons::Ok});
    };
    bool openAfterRefusal = false;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        Find<QLineEdit>(modal, "serial", IDC_SERIAL_INCREMENT)->setText("10");
        Find<QPushButton>(modal, "serial", IDOK)->click();
        openAfterRefusal = modal->isVisible();
        Find<QPushButton>(modal, "serial", IDOK)->click();
    });
    const SerializationResult r = view.RunSerializationDialog(initial_, validator_);
    EXPECT_TRUE(openAfterRefusal);
    EXPECT_EQ(boxParent, "serial_206");
    EXPECT_EQ(r.button, IDOK);
    EXPECT_EQ(r.fields.increment, "10");
}

}  // namespace
