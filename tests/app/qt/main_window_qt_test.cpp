// The real main window on the offscreen platform: keyboard filter and mnemonics, the Connection
// List's menu, the About box, the layout of both view modes (nothing overlaps, no caption is
// cut), and a screenshot of each mode under <build>/screenshots for review.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "app/control_ids.h"
#include "app/main_window_layout.h"
#include "app/quorvel_dlg.h"
#include "brindlex/brindlex.h"
#include "platform/files.h"
#include "programdata/string_table.h"
#include "qt_dialog_view.h"
#include "qt_test_support.h"
#include "support/app_fixtures.h"
#include "vexilsim/inproc_adapter.h"

namespace fs = std::filesystem;

namespace {

// Passes the window's notifications on to the controller and records them. Commands reach
// the controller only where the test allows it, so no operation starts behind its back.
class RecordingEvents : public DialogEvents {
  public:
    explicit RecordingEvents(CQuorvelDlg& dialog) : dialog_(dialog) {}
    bool OnInitDialog() override { return dialog_.OnInitDialog(); }
    void OnDestroy() override { dialog_.OnDestroy(); }
    void OnCloseRequest() override { ++closeRequests; }
    void OnCommand(int id) override {
        commands.push_back(id);
        if (forwarded.count(id))
            dialog_.OnCommand(id);
    }
    void OnComboSelChange(int id) override { dialog_.OnComboSelChange(id); }
    void OnEditChange(int id) override { dialog_.OnEditChange(id); }
    void OnListCheckChanged(int listId, int row, bool checked) override {
        dialog_.OnListCheckChanged(listId, row, checked);
    }
    void OnListRightClick(int listId, int row) override {
        rightClicks.emplace_back(listId, row);
        dialog_.OnListRightClick(listId, row);
    }
    void OnListDoubleClick(int listId, int row) override {}
    bool IsEnterPassedOn(int focusId) override { return dialog_.IsEnterPassedOn(focusId); }
    std::optional<Rgb> OnListRowColour(int listId, int row) override {
        return dialog_.OnListRowColour(listId, row);
    }
    std::optional<Rgb> OnControlColour(int id) override { return dialog_.OnControlColour(id); }

    std::set<int> forwarded = {ID_VIEW_DETAIL_MODE, ID_VIEW_SIMPLE_MODE, IDC_ABOUT};
    std::vector<int> commands;
    std::vector<std::pair<int, int>> rightClicks;
    int closeRequests = 0;

  private:
    CQuorvelDlg& dialog_;
};

class MainWindowQtTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { qttest::UseOffscreenApplication("main_window_qt_test"); }
    void SetUp() override {
        std::ofstream(root_ / "bin" / "QX16A064.TRG")
            << "[VEXIL]\nVEXILDEBUG=ENABLE\nTARGETID00=1C083032H\nTARGETID32=60010000H\n"
            << "TARGETID_BIT_NUM=64\n[MMAP]\nNUMBER=1\nDEFAULT1=SC\nSTARTADRS1=0H\n"
            << "ENDADRS1=7FFFH\n";
    }

    // Runs the window, plays body once it is shown, then ends the dialog.
    void Run(const std::function<void(QtDialogView&, CQuorvelDlg&, RecordingEvents&)>& body) {
        QtDialogView view;
        CQuorvelDlg dialog(view, "Quorvel", lock_);
        RecordingEvents events(dialog);
        std::function<void()> play = [&] {
            // A message box at start-up would hold the window: report it and go on.
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                ADD_FAILURE() << "unexpected message: " << box->text().toStdString();
                box->done(QMessageBox::Ok);
                QTimer::singleShot(0, play);
                return;
            }
            body(view, dialog, events);
            view.EndDialog(IDOK);
        };
        QTimer::singleShot(0, play);
        QObject guard;  // a hanging test ends instead of blocking the run
        QTimer::singleShot(20000, &guard, [&] { view.EndDialog(IDCANCEL); });
        EXPECT_EQ(view.RunModal(events), IDOK);
    }

    static void Key(QWidget* target, int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QApplication::sendEvent(target, &release);
        QApplication::processEvents();
    }

    // Every visible control of the client area: none overlaps another, none leaves the window,
    // and every caption fits its control.
    static void ExpectTidyLayout(QtDialogView& view, const char* mode) {
        SCOPED_TRACE(mode);
        QWidget* window = view.Window();
        std::vector<std::pair<int, QRect>> shown;
        for (const ControlSpec& c : MainWindowControls()) {
            QWidget* w = view.ControlWidget(c.id);
            ASSERT_NE(w, nullptr) << c.id;
            if (!w->isVisible())
                continue;
            const QRect r(w->mapTo(window, QPoint(0, 0)), w->size());
            EXPECT_TRUE(window->rect().contains(r)) << c.id << " leaves the window";
            shown.emplace_back(c.id, r);
            if (auto* button = qobject_cast<QAbstractButton*>(w)) {
                QFontMetrics fm(button->font());
                for (const QString& line : button->text().remove('&').split('\n'))
                    EXPECT_LE(fm.horizontalAdvance(line), button->width() - 4)
                        << c.id << " cuts " << line.toStdString();
            }
            if (auto* label = qobject_cast<QLabel*>(w)) {
                EXPECT_GE(label->width(), label->sizeHint().width())
                    << c.id << " " << label->geometry().x() << "," << label->geometry().width();
            }
        }
        for (size_t i = 0; i < shown.size(); ++i) {
            for (size_t j = i + 1; j < shown.size(); ++j) {
                EXPECT_FALSE(shown[i].second.intersects(shown[j].second))
                    << shown[i].first << " overlaps " << shown[j].first;
            }
        }
    }

    // The yield and progress band lies in the window below every shown control.
    static void ExpectBandBelowControls(QtDialogView& view, const char* mode) {
        SCOPED_TRACE(mode);
        QWidget* window = view.Window();
        int lowest = 0;
        for (const ControlSpec& c : MainWindowControls()) {
            QWidget* w = view.ControlWidget(c.id);
            if (w->isVisible())
                lowest = std::max(lowest, w->mapTo(window, QPoint(0, w->height())).y());
        }
        for (QWidget* band :
             {static_cast<QWidget*>(view.YieldLabel()), static_cast<QWidget*>(view.FailsLabel()),
              static_cast<QWidget*>(view.ProgressBar())}) {
            ASSERT_TRUE(band->isVisible());
            const QRect r(band->mapTo(window, QPoint(0, 0)), band->size());
            EXPECT_TRUE(window->rect().contains(r)) << band->objectName().toStdString();
            EXPECT_GE(r.top(), lowest) << band->objectName().toStdString();
            EXPECT_GE(r.height(), 12);
        }
    }

    static void Save(QWidget* window, const char* name) {
        const fs::path dir = fs::path(QUORVEL_BINARY_DIR) / "screenshots";
        fs::create_directories(dir);
        window->repaint();
        EXPECT_TRUE(window->grab().save(QString::fromStdString((dir / name).string())));
    }

    qttest::WriterDir dir_{"quorvel_mwqt_"};
    const fs::path& root_ = dir_.root;
    FreeLock lock_;
};

TEST_F(MainWindowQtTest, EscapeNeverClosesAndEnterPressesOnlyTheListedButtons) {
    Run([&](QtDialogView& view, CQuorvelDlg&, RecordingEvents& events) {
        QWidget* window = view.Window();
        QWidget* fileName = view.ControlWidget(IDC_FILE_NAME_EDIT);
        ASSERT_TRUE(fileName->isEnabled());
        Key(window, Qt::Key_Escape);
        Key(fileName, Qt::Key_Escape);
        EXPECT_EQ(events.closeRequests, 0);
        EXPECT_TRUE(window->isVisible());

        Key(fileName, Qt::Key_Return);
        Key(view.ControlWidget(IDC_OFFSET_EDIT), Qt::Key_Enter);
        Key(view.ControlWidget(IDC_TARGET_COMBO), Qt::Key_Return);
        EXPECT_TRUE(events.commands.empty()) << "Enter outside the buttons does nothing";

        view.EnableControl(IDC_WRITE, true);
        Key(view.ControlWidget(IDC_WRITE), Qt::Key_Return);
        Key(view.ControlWidget(IDC_EXIT), Qt::Key_Escape);
        EXPECT_EQ(events.commands, (std::vector<int>{IDC_WRITE}));
        EXPECT_EQ(events.closeRequests, 0);
    });
}

TEST_F(MainWindowQtTest, AltAndALetterPressTheUsableControlBeforeTheMenu) {
    Run([&](QtDialogView& view, CQuorvelDlg&, RecordingEvents& events) {
        QWidget* window = view.Window();
        QApplication::setActiveWindow(window);
        QWidget* fileName = view.ControlWidget(IDC_FILE_NAME_EDIT);
        fileName->setFocus();
        // "&Serialization" and the "&Setting" menu share the letter: the button is pressed.
        QTest::keyClick(fileName, Qt::Key_S, Qt::AltModifier);
        EXPECT_EQ(events.commands, (std::vector<int>{IDC_SERIALIZATION}));
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

        // "&Verify" is disabled while nothing is plugged: the letter opens the "&View" menu.
        QTest::keyClick(view.ControlWidget(IDC_SERIALIZATION), Qt::Key_V, Qt::AltModifier);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->title().toStdString(), "&View");
        menu->close();
        view.EnableControl(IDC_VERIFY, true);
        QTest::keyClick(fileName, Qt::Key_V, Qt::AltModifier);
        EXPECT_EQ(events.commands, (std::vector<int>{IDC_SERIALIZATION, IDC_VERIFY}));
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    });
}

TEST_F(MainWindowQtTest, RightClickBelowTheRowsShowsNoMenu) {
    Run([&](QtDialogView& view, CQuorvelDlg&, RecordingEvents& events) {
        auto* list = qobject_cast<QTableWidget*>(view.ControlWidget(IDC_CONNECTION_LIST));
        ASSERT_NE(list, nullptr);
        view.EnableControl(IDC_CONNECTION_LIST, true);
        view.ListInsertRow(IDC_CONNECTION_LIST, 0, "");
        view.ListInsertRow(IDC_CONNECTION_LIST, 1, "");
        QApplication::processEvents();

        auto rightClick = [&](QPoint at) {
            QContextMenuEvent event(QContextMenuEvent::Mouse, at,
                                    list->viewport()->mapToGlobal(at));
            QApplication::sendEvent(list->viewport(), &event);
        };
        // A menu that opens would block here until the timer finds and closes it.
        std::vector<QStringList> menus;
        auto closeMenus = [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                QStringList items;
                for (QAction* a : menu->actions())
                    items << a->text() + (a->isEnabled() ? "" : " (grayed)");
                menus.push_back(items);
                menu->close();
            }
        };
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, closeMenus);
        poll.start(10);

        const int below = list->rowViewportPosition(1) + list->rowHeight(1) + 10;
        rightClick(QPoint(40, below));
        EXPECT_TRUE(menus.empty());
        rightClick(QPoint(40, list->rowViewportPosition(1) + 2));
        poll.stop();
        ASSERT_EQ(menus.size(), 1u);
        EXPECT_EQ(menus[0], (QStringList{"Save Memory (grayed)", "Properties"}));
        EXPECT_EQ(events.rightClicks, (std::vector<std::pair<int, int>>{{IDC_CONNECTION_LIST, -1},
                                                                        {IDC_CONNECTION_LIST, 1}}));
    });
}

TEST_F(MainWindowQtTest, AboutBoxShowsTheVersion) {
    std::string title, version, second;
    Run([&](QtDialogView& view, CQuorvelDlg&, RecordingEvents& events) {
        QTimer::singleShot(10, [&] {
            auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            title = box->windowTitle().toStdString();
            version = box->findChild<QLabel*>("about_1034")->text().toStdString();
            second = box->findChild<QLabel*>("about_1035")->text().toStdString();
            box->accept();
        });
        qobject_cast<QAbstractButton*>(view.ControlWidget(IDC_ABOUT))->click();
    });
    EXPECT_EQ(title, "Quorvel version");
    EXPECT_EQ(version.rfind("Quorvel Version : ", 0), 0u) << version;
    EXPECT_FALSE(second.empty());
}

TEST_F(MainWindowQtTest, BothModesAreTidyAndGrabbedToPng) {
    vexilsim::SimBench bench(SimulatedTarget(), 20, &VEXIL_INTERFACE_GUID);
    ASSERT_EQ(ApiCreateConnect(), 1);
    Run([&](QtDialogView& view, CQuorvelDlg& dialog, RecordingEvents& events) {
        QWidget* window = view.Window();
        EXPECT_EQ(window->size(), QSize(704, 759));
        ExpectTidyLayout(view, "detail, unplugged");
        ExpectBandBelowControls(view, "detail");

        // A plugged window after a write with mixed outcomes.
        dialog.BuildTargetRows();
        dialog.SetBusyState(CQuorvelDlg::BusyKind(3));
        ApiSetTargetStatus(3, 0x6000);
        ApiSetTargetStatus(7, 0x5005);
        for (int n = 1; n <= 20; ++n) {
            ApiSetTargetPlugStatus(n, n == 7 ? PLUG_STARTED : PLUG_READY);
            int status = 0;
            ApiGetTargetStatus(n, &status);
            const std::string text(GetStringText(status == 0        ? IDS_STATUS_OK
                                                 : status == 0x6000 ? IDS_STATUS_6000
                                                                    : IDS_ADAPTER_NOT_CONNECTED));
            view.ListSetRowCheck(IDC_CONNECTION_LIST, n - 1, true);
            view.ListSetCell(IDC_CONNECTION_LIST, n - 1, 2, "000000" + std::to_string(10 + n));
            view.ListSetCell(IDC_CONNECTION_LIST, n - 1, 3, text);
            const int list = n <= 16 ? IDC_CHECK_LIST_LOW : IDC_CHECK_LIST_HIGH;
            const int row = n <= 16 ? n - 1 : n - 17;
            view.ListSetCell(list, row, 1, "000000" + std::to_string(10 + n));
            view.ListSetCell(list, row, 2, text);
        }
        view.ListInsertRow(IDC_FILE_LIST, 0, "/work/firmware/app_main.hex");
        view.ListSetCell(IDC_FILE_LIST, 0, 1, "00000H");
        view.ListSetCell(IDC_FILE_LIST, 0, 2, "03DFFH");
        view.ListSetCell(IDC_FILE_LIST, 0, 3, " 00000H");
        view.ListSetCell(IDC_FILE_LIST, 0, 4, "00000H");
        view.SetControlText(IDC_RESULT_EDIT, "PARTIAL SUCCESS");
        dialog.SetResultDisplayState(programdata::ResultCode(1));
        dialog.SetIdleState(CQuorvelDlg::IdleState(3));
        view.SetControlText(IDC_CHECKSUM_EDIT, "5A3C");
        view.SetControlText(IDC_PLUG, "Un&plug");
        view.SetControlText(IDC_WRITE, "&Write with \nSerial No.");
        EXPECT_TRUE(view.ControlWidget(IDC_WRITE)->isEnabled());
        ProductionBandState band{
            "Passed 41   Failed 2   Yield 95.3 %", "Fails by target   3: 2", true, true, 5, 8,
            "Write  block 5 / 8   0:01.4"};
        view.ShowProductionBand(band);
        EXPECT_EQ(view.ProgressBar()->value() * 8, view.ProgressBar()->maximum() * 5);
        ExpectTidyLayout(view, "detail, plugged");
        Save(window, "main_detail.png");

        // Simple mode after a Program cycle.
        dialog.SetIdleState(CQuorvelDlg::IdleState(2));
        events.OnCommand(ID_VIEW_SIMPLE_MODE);
        view.SetControlText(IDC_RESULT_EDIT, "SUCCESS");
        dialog.SetResultDisplayState(programdata::ResultCode(0));
        view.SetControlText(IDC_TARGET_NAME_EDIT, "QX16A064");
        view.SetControlText(IDC_SERIAL_TEXT_EDIT, "00000031");
        EXPECT_EQ(window->size(), QSize(704, 746));
        ExpectTidyLayout(view, "simple");
        ExpectBandBelowControls(view, "simple");
        band.progressShown = false;
        view.ShowProductionBand(band);
        EXPECT_EQ(view.ProgressBar()->value(), 0) << "an idle window shows an empty bar";
        Save(window, "main_simple.png");
    });
    ApiDelConnect();
}

}  // namespace
