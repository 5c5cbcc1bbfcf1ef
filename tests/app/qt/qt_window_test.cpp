// The real main window on the offscreen platform: built from the control table, filled by the
// controller, and closed only after the exit question was answered with OK.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>

#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "platform/files.h"
#include "qt_dialog_view.h"
#include "qt_test_support.h"

namespace fs = std::filesystem;

namespace {

class QtWindowTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { qttest::UseOffscreenApplication("qt_window_test"); }
    void SetUp() override {
        for (const char* name : {"QX08C032", "QX16A064"}) {
            std::ofstream(root_ / "bin" / (std::string(name) + ".TRG"))
                << "[VEXIL]\nVEXILDEBUG=ENABLE\nTARGETID00=1C083032H\nTARGETID32=60010200H\n";
        }
        std::ofstream(root_ / "bin" / "Quorvel.ini") << "[Settings]\nTRGNAME=QX16A064\n";
    }

    // Answers the next message box with the given button, remembering its text.
    void AnswerNextMessageBox(QMessageBox::StandardButton button, std::function<void()> then) {
        QTimer::singleShot(0, [this, button, then] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                AnswerNextMessageBox(button, then);  // not open yet
                return;
            }
            questions_.push_back(box->text().toStdString());
            captions_.push_back(box->windowTitle().toStdString());
            box->button(button)->click();
            if (then)
                QTimer::singleShot(0, then);
        });
    }

    qttest::WriterDir dir_{"quorvel_qt_"};
    const fs::path& root_ = dir_.root;
    std::vector<std::string> questions_, captions_;
};

TEST_F(QtWindowTest, MainWindowShowsTargetsAndAsksBeforeClosing) {
    QtDialogView view;
    CQuorvelDlg dialog(view, "Quorvel");
    bool stillOpenAfterCancel = false;

    QTimer::singleShot(0, [&] {
        QWidget* w = view.Window();
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->windowTitle().toStdString(), "Quorvel   Multiple Flash Writer");
        auto* combo = w->findChild<QComboBox*>();
        ASSERT_NE(combo, nullptr);
        EXPECT_EQ(combo->count(), 2);
        EXPECT_EQ(combo->currentText().toStdString(), "QX16A064");
        // Choosing the entry already selected changes nothing; another one is a target change.
        combo->setCurrentIndex(1);
        EXPECT_EQ(dialog.SelectedTarget(), 1u);
        combo->setCurrentIndex(0);
        EXPECT_EQ(dialog.SelectedTarget(), 0u);
        EXPECT_EQ(dialog.Settings().targetName, "QX08C032");
        EXPECT_EQ(view.GetControlText(IDC_EXIT), "E&xit");
        auto* menuBar = w->findChild<QMenuBar*>();
        ASSERT_NE(menuBar, nullptr);
        ASSERT_FALSE(menuBar->actions().isEmpty());
        EXPECT_EQ(menuBar->actions().front()->text().toStdString(), "&File");
        bool hasExit = false;
        for (QAction* a : menuBar->actions().front()->menu()->actions())
            hasExit = hasExit || a->text() == "E&xit";
        EXPECT_TRUE(hasExit);
        w->grab().save(QString::fromStdString(std::string(QUORVEL_BINARY_DIR) +
                                              "/tests/quorvel_main_window.png"));

        // Close box, Cancel: the window stays. Then close box, OK: the dialog ends.
        AnswerNextMessageBox(QMessageBox::Cancel, [&] {
            stillOpenAfterCancel = view.Window() != nullptr && view.Window()->isVisible();
            AnswerNextMessageBox(QMessageBox::Ok, nullptr);
            view.Window()->close();
        });
        w->close();
    });
    // A safety net: a hanging test ends instead of blocking the run.
    QObject guard;
    QTimer::singleShot(20000, &guard, [&] { view.EndDialog(IDCANCEL); });

    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_TRUE(stillOpenAfterCancel);
    ASSERT_EQ(questions_.size(), 2u);
    EXPECT_EQ(questions_[0], "Do you want to exit Quorvel?");
    EXPECT_EQ(captions_[0], "Quorvel");
    EXPECT_EQ(view.Window(), nullptr) << "the window is gone once the dialog ended";
}

// Stands in for the controller: the tests drive the view directly.
class QuietEvents : public DialogEvents {
  public:
    std::function<void()> init;     // runs inside OnInitDialog
    std::function<void()> destroy;  // runs inside OnDestroy
    bool OnInitDialog() override {
        if (init)
            init();
        return true;
    }
    void OnDestroy() override {
        if (destroy)
            destroy();
    }
    void OnCloseRequest() override {}
    void OnCommand(int) override {}
    void OnComboSelChange(int) override {}
    void OnEditChange(int) override {}
    void OnListCheckChanged(int, int, bool) override {}
    void OnListRightClick(int, int) override {}
    void OnListDoubleClick(int, int) override {}
    bool IsEnterPassedOn(int) override { return false; }
};

TEST_F(QtWindowTest, NameFieldsKeepAChosenPathWholeAndLimitOnlyTyping) {
    QtDialogView view;
    QuietEvents events;
    const std::string longPath = "/srv/line3/" + std::string(280, 'd') + "/Quorvel.log";
    const std::string shortPath = "/srv/line3/Quorvel.log";
    QTimer::singleShot(0, [&] {
        for (int id : {IDC_LOG_FILE_EDIT, IDC_FILE_NAME_EDIT}) {
            SCOPED_TRACE(id);
            // A path chosen in a file dialog reaches the controller as chosen: a cut name
            // would be opened (the log even created) under a name nobody chose.
            view.SetControlText(id, longPath);
            EXPECT_EQ(view.GetControlText(id), longPath);
            // Typing stays limited to what the settings file keeps.
            view.SetControlText(id, shortPath);
            auto* edit = qobject_cast<QLineEdit*>(view.ControlWidget(id));
            ASSERT_NE(edit, nullptr);
            edit->end(false);
            edit->insert(QString(400, 'x'));
            EXPECT_EQ(view.GetControlText(id).size(), 259u);
        }
        view.EndDialog(IDOK);
    });
    QObject guard;
    QTimer::singleShot(20000, &guard, [&] { view.EndDialog(IDCANCEL); });
    EXPECT_EQ(view.RunModal(events), IDOK);
}

TEST_F(QtWindowTest, ARaiseRequestNeverShowsAWindowThatIsNotReady) {
    QtDialogView view;
    QuietEvents events;
    bool shownDuringStart = true, shownAtEnd = true;
    // A later copy asks for the window while the start is still under way, then the start is
    // abandoned (no target description): nothing half-built ever appears.
    events.init = [&] {
        view.BringToFront();
        shownDuringStart = view.Window()->isVisible();
        view.EndDialog(IDCANCEL);
    };
    events.destroy = [&] { shownAtEnd = view.Window()->isVisible(); };
    EXPECT_EQ(view.RunModal(events), IDCANCEL);
    EXPECT_FALSE(shownDuringStart);
    EXPECT_FALSE(shownAtEnd);
}

}  // namespace
