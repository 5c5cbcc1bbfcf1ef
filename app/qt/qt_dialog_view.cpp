#include "qt_dialog_view.h"

#include <algorithm>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app_icon.h"

#include "app/control_ids.h"
#include "app/main_window_layout.h"
#include "programdata/limits.h"
#include "programdata/string_table.h"
#include "qt_program_file_dialogs.h"
#include "qt_security_dialog.h"
#include "qt_select_target_dialog.h"
#include "qt_serialization_dialog.h"

namespace {

QString Q(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}
std::string S(const QString& s) {
    return s.toUtf8().toStdString();
}

// Edits whose typing is limited carry their limit in this property.
constexpr char kTypingLimit[] = "typingLimit";

// Detail-mode window size in pixels until the view modes size it.
constexpr int kDetailWidthPx = 704;
constexpr int kDetailHeightPx = 759;

// The layout was drawn for dialog base units of 7 x 14 pixels: 399 units fill the window's
// 704 pixels. The dialog font is the largest size of the system's face that stays within them.
constexpr int kLayoutBaseX = 7;
constexpr int kLayoutBaseY = 14;
constexpr int kLargestDialogFontPx = 13;
constexpr int kSmallestDialogFontPx = 9;

QColor ToQColor(Rgb c) {
    return QColor(c.r, c.g, c.b);
}

PixelRect ToPixelRect(const QRect& r) {
    return {r.left(), r.top(), r.width(), r.height()};
}

QRect ToQRect(const PixelRect& r) {
    return QRect(r.left, r.top, r.width, r.height);
}

// "desc|pattern|desc|pattern|" to Qt's "desc (pattern);;...". Each description already names
// its pattern in parentheses, which is what Qt reads.
QString QtFilter(const std::string& filter) {
    QStringList parts = Q(filter).split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty())
            continue;
        QString pattern = parts[i + 1];
        pattern.replace(';', ' ');
        out << (parts[i].contains('(') ? parts[i] : parts[i] + " (" + pattern + ")");
    }
    return out.join(";;");
}

}  // namespace

// The top-level window: the client area holds the controls, the menu bar sits above it.
class QtMainWindow : public QWidget {
  public:
    explicit QtMainWindow(DialogEvents& events) : events_(events) {
        setWindowTitle(Q(std::string(GetStringText(IDS_MAIN_TITLE))));
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        menuBar_ = new QMenuBar(this);
        layout->setMenuBar(menuBar_);
        client_ = new QWidget(this);
        layout->addWidget(client_);
        // The system menu's extra items live in the window's context menu.
        client_->setContextMenuPolicy(Qt::ActionsContextMenu);
    }

    DialogEvents& events_;
    QMenuBar* menuBar_ = nullptr;
    QWidget* client_ = nullptr;
    std::map<int, QWidget*> controls_;
    std::map<int, QAction*> menuActions_;
    QLabel* yield_ = nullptr;
    QLabel* fails_ = nullptr;
    QProgressBar* progress_ = nullptr;
    bool closingByDialog_ = false;

  protected:
    void closeEvent(QCloseEvent* event) override {
        if (closingByDialog_) {
            event->accept();
            return;
        }
        // The controller decides; a confirmed close ends the dialog, which closes the window.
        event->ignore();
        events_.OnCloseRequest();
    }

    void keyPressEvent(QKeyEvent* event) override {
        // Escape never closes the window; Enter only presses the buttons the controller names.
        if (event->key() == Qt::Key_Escape)
            return;
        QWidget::keyPressEvent(event);
    }
};

namespace {

// Average character width and height of a font, as dialog units are measured.
QSize BaseUnits(const QFont& font) {
    QFontMetrics fm(font);
    const QString sample = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    return QSize((fm.horizontalAdvance(sample) / 26 + 1) / 2, fm.height());
}

QFont DialogFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    for (int px = kLargestDialogFontPx; px >= kSmallestDialogFontPx; --px) {
        font.setPixelSize(px);
        const QSize base = BaseUnits(font);
        if (base.width() <= kLayoutBaseX && base.height() <= kLayoutBaseY)
            break;
    }
    return font;
}

// Read-only fields look like the window behind them, as read-only edits do on the desktop.
void PaintAsReadOnly(QLineEdit* edit) {
    QPalette p = edit->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        p.setColor(g, QPalette::Base, p.color(g, QPalette::Window));
    edit->setPalette(p);
}

// Captions keep to their rectangles: a caption wider than its control is narrowed (and if
// need be made smaller) rather than cut or run into the next control.
void FitText(QWidget* widget, const QString& caption, int width) {
    QFont font = widget->parentWidget() ? widget->parentWidget()->font() : widget->font();
    if (width <= 0)
        return;
    auto widest = [&](const QFont& f) {
        QFontMetrics fm(f);
        int w = 0;
        for (const QString& line : QString(caption).remove('&').split('\n'))
            w = std::max(w, fm.horizontalAdvance(line));
        return w;
    };
    // The face's condensed cut first, where the system has one; then narrower, then smaller.
    const QString condensed = font.family() + " Condensed";
    if (widest(font) > width && QFontDatabase::hasFamily(condensed))
        font.setFamily(condensed);
    for (int stretch = 95; stretch >= 80 && widest(font) > width; stretch -= 5)
        font.setStretch(stretch);
    while (widest(font) > width && font.pixelSize() > kSmallestDialogFontPx)
        font.setPixelSize(font.pixelSize() - 1);
    widget->setFont(font);
}

// Buttons keep the desktop's small margins around their captions.
void FitCaption(QAbstractButton* button) {
    FitText(button, button->text(), button->width() - 6);
}

void SetRowHeight(QTableWidget* table) {
    table->verticalHeader()->setDefaultSectionSize(QFontMetrics(table->font()).height() + 4);
}

// The edits: a control the controller colours asks for its colour whenever it is drawn.
class ControlEdit : public QLineEdit {
  public:
    ControlEdit(DialogEvents& events, int id, QWidget* parent)
        : QLineEdit(parent), events_(events), id_(id) {}

  protected:
    void paintEvent(QPaintEvent* event) override {
        if (std::optional<Rgb> colour = events_.OnControlColour(id_)) {
            QPalette p = palette();
            const QColor background = ToQColor(*colour);
            const QColor text = ToQColor(TextColourOn(*colour));
            if (p.color(QPalette::Disabled, QPalette::Base) != background ||
                p.color(QPalette::Disabled, QPalette::Text) != text) {
                // Disabled or not, the result stays legible.
                for (QPalette::ColorGroup g :
                     {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
                    p.setColor(g, QPalette::Base, background);
                    p.setColor(g, QPalette::Text, text);
                }
                setPalette(p);
            }
        }
        QLineEdit::paintEvent(event);
    }

  private:
    DialogEvents& events_;
    int id_;
};

// Custom draw of the list views: each row asks the controller for its background.
class RowColourDelegate : public QStyledItemDelegate {
  public:
    RowColourDelegate(DialogEvents& events, int id, QObject* parent)
        : QStyledItemDelegate(parent), events_(events), id_(id) {}

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (std::optional<Rgb> colour = events_.OnListRowColour(id_, index.row())) {
            option->backgroundBrush = ToQColor(*colour);
            option->palette.setColor(QPalette::Text, ToQColor(TextColourOn(*colour)));
        }
    }

  private:
    DialogEvents& events_;
    int id_;
};

// Filters Enter on every control: passed on only where the controller allows it.
class EnterFilter : public QObject {
  public:
    EnterFilter(DialogEvents& events, int id, QObject* parent)
        : QObject(parent), events_(events), id_(id) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(e);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                if (!events_.IsEnterPassedOn(id_))
                    return true;
                if (auto* button = qobject_cast<QAbstractButton*>(watched)) {
                    button->click();
                    return true;
                }
            }
            if (key->key() == Qt::Key_Escape)
                return true;
        }
        return QObject::eventFilter(watched, e);
    }

  private:
    DialogEvents& events_;
    int id_;
};

// Alt and a letter press the main window's shown and enabled control with that mnemonic before
// the menu bar's title with the same letter ("&Serialization" and "&Setting", "&Verify" and
// "&View"), as in a dialog on the desktop: the menu opens only while no usable control has it.
class ControlMnemonics : public QObject {
  public:
    explicit ControlMnemonics(QtMainWindow* window) : QObject(window), window_(window) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() != QEvent::ShortcutOverride && e->type() != QEvent::KeyPress)
            return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        const auto* key = static_cast<QKeyEvent*>(e);
        if (widget == nullptr || widget->window() != window_ || key->modifiers() != Qt::AltModifier)
            return false;
        QAbstractButton* button = ButtonFor(key->key());
        if (button == nullptr)
            return false;
        // The override keeps the menu bar's shortcut from taking the key; the press clicks.
        e->accept();
        if (e->type() == QEvent::KeyPress) {
            button->setFocus(Qt::ShortcutFocusReason);
            button->click();
        }
        return true;
    }

  private:
    QAbstractButton* ButtonFor(int key) const {
        const QKeySequence wanted(QKeyCombination(Qt::AltModifier, Qt::Key(key)));
        for (const auto& [id, widget] : window_->controls_) {
            auto* button = qobject_cast<QAbstractButton*>(widget);
            if (button != nullptr && button->isVisible() && button->isEnabled() &&
                QKeySequence::mnemonic(button->text()) == wanted)
                return button;
        }
        return nullptr;
    }

    QtMainWindow* window_;
};

}  // namespace

QtDialogView::QtDialogView() = default;
QtDialogView::~QtDialogView() = default;

QWidget* QtDialogView::Window() const {
    return window_.get();
}

QWidget* QtDialogView::ControlWidget(int id) const {
    return Control(id);
}

QRect QtDialogView::ToPixels(const DlgRect& r) const {
    // Dialog units: a quarter of the font's average character width, an eighth of its height.
    const QSize base = BaseUnits(window_ ? window_->font() : QApplication::font());
    const int baseX = base.width();
    const int baseY = base.height();
    auto x = [baseX](int du) { return (du * baseX + 2) / 4; };
    auto y = [baseY](int du) { return (du * baseY + 4) / 8; };
    return QRect(QPoint(x(r.left), y(r.top)), QPoint(x(r.right) - 1, y(r.bottom) - 1));
}

void QtDialogView::CreateWindow(DialogEvents& events) {
    window_ = std::make_unique<QtMainWindow>(events);
    QtMainWindow* w = window_.get();
    QWidget* client = w->client_;
    w->setFont(DialogFont());
    w->setWindowIcon(QuorvelIcon());

    for (const ControlSpec& control : MainWindowControls()) {
        const int id = control.id;
        const QString caption = QString::fromUtf8(control.caption);
        QWidget* widget = nullptr;
        switch (control.kind) {
            case ControlKind::Label:
                widget = new QLabel(caption, client);
                break;
            case ControlKind::ComboBox: {
                auto* combo = new QComboBox(client);
                // Only a changed selection counts; the controller's own changes block signals.
                QObject::connect(combo, &QComboBox::currentIndexChanged, w,
                                 [&events, id](int) { events.OnComboSelChange(id); });
                widget = combo;
                break;
            }
            case ControlKind::Edit:
            case ControlKind::ReadOnlyEdit: {
                auto* edit = new ControlEdit(events, id, client);
                edit->setReadOnly(control.kind == ControlKind::ReadOnlyEdit);
                if (edit->isReadOnly())
                    PaintAsReadOnly(edit);
                if (control.centred)
                    edit->setAlignment(Qt::AlignCenter);
                // File names the settings file keeps whole: typing stops there.
                if (id == IDC_FILE_NAME_EDIT || id == IDC_LOG_FILE_EDIT) {
                    edit->setProperty(kTypingLimit, static_cast<int>(programdata::kMaxStoredPath));
                    edit->setMaxLength(static_cast<int>(programdata::kMaxStoredPath));
                }
                QObject::connect(edit, &QLineEdit::textEdited, w,
                                 [&events, id](const QString&) { events.OnEditChange(id); });
                widget = edit;
                break;
            }
            case ControlKind::Button:
            case ControlKind::DefaultButton: {
                auto* button = new QPushButton(caption, client);
                button->setAutoDefault(false);
                button->setDefault(control.kind == ControlKind::DefaultButton);
                QObject::connect(button, &QPushButton::clicked, w,
                                 [&events, id] { events.OnCommand(id); });
                widget = button;
                break;
            }
            case ControlKind::CheckBox: {
                auto* box = new QCheckBox(caption, client);
                QObject::connect(box, &QCheckBox::clicked, w,
                                 [&events, id] { events.OnCommand(id); });
                widget = box;
                break;
            }
            case ControlKind::RadioButton: {
                auto* radio = new QRadioButton(caption, client);
                QObject::connect(radio, &QRadioButton::clicked, w,
                                 [&events, id] { events.OnCommand(id); });
                widget = radio;
                break;
            }
            case ControlKind::GroupBox:
                widget = new QGroupBox(caption, client);
                break;
            case ControlKind::ListView: {
                auto* table = new QTableWidget(client);
                table->setSelectionMode(QAbstractItemView::SingleSelection);
                table->setSelectionBehavior(QAbstractItemView::SelectRows);
                table->setEditTriggers(QAbstractItemView::NoEditTriggers);
                table->verticalHeader()->hide();
                // Report-style rows: one line each, long texts cut with an ellipsis.
                table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
                table->setWordWrap(false);
                SetRowHeight(table);
                table->horizontalHeader()->setHighlightSections(false);
                table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
                table->setShowGrid(false);
                table->setItemDelegate(new RowColourDelegate(events, id, table));
                table->setContextMenuPolicy(Qt::CustomContextMenu);
                QObject::connect(table, &QTableWidget::customContextMenuRequested, w,
                                 [&events, id, table](const QPoint& p) {
                                     events.OnListRightClick(id, table->rowAt(p.y()));
                                 });
                QObject::connect(
                    table, &QTableWidget::cellDoubleClicked, w,
                    [&events, id](int row, int) { events.OnListDoubleClick(id, row); });
                QObject::connect(
                    table, &QTableWidget::itemChanged, w, [&events, id](QTableWidgetItem* item) {
                        // Only a change of the check box counts.
                        if (item->column() != 0 || !(item->flags() & Qt::ItemIsUserCheckable))
                            return;
                        const bool checked = item->checkState() == Qt::Checked;
                        if (item->data(Qt::UserRole).toBool() == checked)
                            return;
                        item->setData(Qt::UserRole, checked);
                        events.OnListCheckChanged(id, item->row(), checked);
                    });
                widget = table;
                break;
            }
        }
        widget->installEventFilter(new EnterFilter(events, id, widget));
        w->controls_[id] = widget;

        const std::optional<DlgRect>& place = control.detail ? control.detail : control.simple;
        if (place)
            PlaceWidget(widget, *place);
        widget->setEnabled(control.initial != InitialState::Disabled);
        widget->setVisible(control.initial == InitialState::Shown ||
                           control.initial == InitialState::Disabled);
    }

    // Removed with the window, which owns it.
    qApp->installEventFilter(new ControlMnemonics(w));

    QMenu* current = nullptr;
    for (const MenuEntry& entry : MainMenuBar()) {
        if (entry.topLevel) {
            current = w->menuBar_->addMenu(QString::fromUtf8(entry.text));
        } else if (current != nullptr && entry.text == nullptr) {
            current->addSeparator();
        } else if (current != nullptr) {
            QAction* action = current->addAction(QString::fromUtf8(entry.text));
            const int command = entry.command;
            QObject::connect(action, &QAction::triggered, w,
                             [&events, command] { events.OnCommand(command); });
            w->menuActions_[command] = action;
        }
    }

    // The band below the other controls; the view modes place it with the window's size.
    w->yield_ = new QLabel(client);
    w->yield_->setObjectName("band_yield");
    w->fails_ = new QLabel(client);
    w->fails_->setObjectName("band_fails");
    w->progress_ = new QProgressBar(client);
    w->progress_->setObjectName("band_progress");
    w->progress_->setRange(0, 1);
    w->progress_->setValue(0);
    w->progress_->setTextVisible(true);
    w->progress_->setFormat(QString());
    w->progress_->setAlignment(Qt::AlignCenter);

    w->setFixedSize(kDetailWidthPx, kDetailHeightPx);
    FitLabels();
    PlaceBand();
}

QLabel* QtDialogView::YieldLabel() const {
    return window_ ? window_->yield_ : nullptr;
}

QLabel* QtDialogView::FailsLabel() const {
    return window_ ? window_->fails_ : nullptr;
}

QProgressBar* QtDialogView::ProgressBar() const {
    return window_ ? window_->progress_ : nullptr;
}

void QtDialogView::PlaceBand() {
    if (!window_)
        return;
    QtMainWindow* w = window_.get();
    int top = 0;
    for (auto& [id, widget] : w->controls_)
        if (!widget->isHidden())
            top = std::max(top, widget->geometry().bottom() + 1);
    const int clientHeight = w->height() - w->menuBar_->sizeHint().height();
    const BandPlacement band =
        PlaceProductionBand(top, clientHeight, ToPixelRect(ToPixels(kBandSpanDu)));
    w->yield_->setGeometry(ToQRect(band.yield));
    w->fails_->setGeometry(ToQRect(band.fails));
    w->progress_->setGeometry(ToQRect(band.progress));
}

void QtDialogView::ShowProductionBand(const ProductionBandState& band) {
    if (!window_)
        return;
    QtMainWindow* w = window_.get();
    w->yield_->setText(" " + Q(band.yieldText));
    QPalette p = w->client_->palette();
    const std::optional<FieldColours> colours = YieldBandColours(band.lastCycleFailed);
    if (colours) {
        p.setColor(QPalette::Window, ToQColor(colours->background));
        p.setColor(QPalette::WindowText, ToQColor(colours->text));
    }
    w->yield_->setPalette(p);
    w->yield_->setAutoFillBackground(colours.has_value());
    w->fails_->setText(Q(band.failsText));
    w->fails_->setToolTip(Q(band.failsText));
    w->yield_->setToolTip(Q(band.failsText));
    const int total = static_cast<int>(std::min<uint32_t>(band.progressTotal, INT32_MAX));
    const int done = static_cast<int>(std::min<uint32_t>(band.progressDone, INT32_MAX));
    if (band.progressShown && total > 0) {
        w->progress_->setRange(0, total);
        w->progress_->setValue(std::min(done, total));
    } else {
        w->progress_->setRange(0, 1);
        w->progress_->setValue(0);
    }
    w->progress_->setFormat(band.progressShown ? Q(band.progressText) : QString());
}

QWidget* QtDialogView::Control(int id) const {
    if (!window_)
        return nullptr;
    auto it = window_->controls_.find(id);
    return it == window_->controls_.end() ? nullptr : it->second;
}

QTableWidget* QtDialogView::List(int id) const {
    return qobject_cast<QTableWidget*>(Control(id));
}

DialogResult QtDialogView::RunModal(DialogEvents& events) {
    ended_ = false;
    result_ = 0;
    CreateWindow(events);
    events.OnInitDialog();
    if (!ended_) {
        window_->show();
        loop_.exec();
    }
    events.OnDestroy();
    window_->closingByDialog_ = true;
    window_->close();
    window_.reset();
    return result_;
}

void QtDialogView::EndDialog(DialogResult result) {
    ended_ = true;
    result_ = result;
    loop_.exit(0);
}

void QtDialogView::AppendSystemMenuItem(int command, const std::string& text) {
    if (!window_)
        return;
    QAction* action = new QAction(Q(text), window_->client_);
    DialogEvents* events = &window_->events_;
    QObject::connect(action, &QAction::triggered, window_.get(),
                     [events, command] { events->OnCommand(command); });
    window_->client_->addAction(action);
}

void QtDialogView::SetWindowSize(int widthPx, int heightPx) {
    // A fixed layout: the operator does not resize it. The top-left corner stays.
    if (!window_)
        return;
    window_->setFixedSize(widthPx, heightPx);
    // The view modes size the window once every control is in place.
    FitLabels();
    PlaceBand();
}

void QtDialogView::FitLabels() {
    if (!window_)
        return;
    // A label's rectangle reaches under the field it names, and its text may run wider in this
    // font than in the one the layout was drawn in: each label takes the room up to the next
    // control on its right.
    std::vector<PixelRect> fields;
    for (auto& [id, widget] : window_->controls_)
        if (!widget->isHidden() && qobject_cast<QLabel*>(widget) == nullptr)
            fields.push_back(ToPixelRect(widget->geometry()));
    for (auto& [id, widget] : window_->controls_) {
        auto* label = qobject_cast<QLabel*>(widget);
        if (label == nullptr || label->isHidden())
            continue;
        const QRect own = label->geometry();
        const int right = LabelRoomRight(ToPixelRect(own), fields, window_->width(), 4);
        label->setFont(window_->client_->font());
        FitText(label, label->text(), right - own.left());
        label->resize(std::min(label->sizeHint().width(), right - own.left()), own.height());
    }
}

void QtDialogView::BringToFront() {
    // A window not shown yet is still being set up, or its start was abandoned: RunModal
    // shows it when it is ready.
    if (!window_ || !window_->isVisible())
        return;
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void QtDialogView::UpdateWindow() {
    if (window_)
        window_->repaint();
}

std::string QtDialogView::LocaleLanguageName() {
    return S(QLocale::system().nativeLanguageName());
}

void QtDialogView::EnableControl(int id, bool enable) {
    if (QWidget* c = Control(id))
        c->setEnabled(enable);
}

void QtDialogView::ShowControl(int id, bool show) {
    if (QWidget* c = Control(id))
        c->setVisible(show);
}

void QtDialogView::PlaceControl(int id, const DlgRect& rect) {
    if (QWidget* c = Control(id))
        PlaceWidget(c, rect);
}

void QtDialogView::PlaceWidget(QWidget* widget, const DlgRect& rect) const {
    QRect r = ToPixels(rect);
    // A drop-down's rectangle includes its open list; the closed box keeps its own height.
    if (qobject_cast<QComboBox*>(widget))
        r.setHeight(widget->sizeHint().height());
    // A label is as wide as its text: the layout's label rectangles reach under the fields
    // they name, and texts may run wider in this font than in the one the layout was drawn in.

    widget->setGeometry(r);
    if (auto* button = qobject_cast<QPushButton*>(widget))
        FitCaption(button);
}

void QtDialogView::SetControlText(int id, const std::string& text) {
    QWidget* c = Control(id);
    if (auto* label = qobject_cast<QLabel*>(c)) {
        label->setText(Q(text));
        FitLabels();
    } else if (auto* edit = qobject_cast<QLineEdit*>(c)) {
        // The limit is for typing only. A longer name set here (a chosen file) stays whole, so
        // that the controller refuses it rather than opening a cut name nobody chose.
        const QString value = Q(text);
        if (const int limit = edit->property(kTypingLimit).toInt(); limit > 0)
            edit->setMaxLength(std::max(limit, static_cast<int>(value.size())));
        edit->setText(value);
    } else if (auto* button = qobject_cast<QAbstractButton*>(c)) {
        button->setText(Q(text));
        if (qobject_cast<QPushButton*>(button))
            FitCaption(button);
    } else if (auto* group = qobject_cast<QGroupBox*>(c))
        group->setTitle(Q(text));
    else if (auto* combo = qobject_cast<QComboBox*>(c)) {
        // Like the other combo calls: only the operator's choice starts a target change.
        const QSignalBlocker quiet(combo);
        combo->setCurrentText(Q(text));
    }
}

std::string QtDialogView::GetControlText(int id) {
    QWidget* c = Control(id);
    if (auto* label = qobject_cast<QLabel*>(c))
        return S(label->text());
    if (auto* edit = qobject_cast<QLineEdit*>(c))
        return S(edit->text());
    if (auto* button = qobject_cast<QAbstractButton*>(c))
        return S(button->text());
    if (auto* group = qobject_cast<QGroupBox*>(c))
        return S(group->title());
    if (auto* combo = qobject_cast<QComboBox*>(c))
        return S(combo->currentText());
    return {};
}

void QtDialogView::SetCheck(int id, bool checked) {
    if (auto* button = qobject_cast<QAbstractButton*>(Control(id)))
        button->setChecked(checked);
}

bool QtDialogView::GetCheck(int id) {
    auto* button = qobject_cast<QAbstractButton*>(Control(id));
    return button != nullptr && button->isChecked();
}

void QtDialogView::SetControlFont(int id, const FontSpec& fontSpec) {
    QWidget* c = Control(id);
    if (c == nullptr)
        return;
    c->setFont(QtFont(fontSpec));
    if (auto* table = qobject_cast<QTableWidget*>(c))
        SetRowHeight(table);
}

void QtDialogView::SetFocus(int id) {
    if (QWidget* c = Control(id))
        c->setFocus();
}

void QtDialogView::ComboReset(int id) {
    if (auto* combo = qobject_cast<QComboBox*>(Control(id))) {
        const QSignalBlocker quiet(combo);
        combo->clear();
    }
}

void QtDialogView::ComboAddString(int id, const std::string& text) {
    if (auto* combo = qobject_cast<QComboBox*>(Control(id))) {
        const QSignalBlocker quiet(combo);
        combo->addItem(Q(text));
    }
}

void QtDialogView::ComboSetCurSel(int id, int index) {
    if (auto* combo = qobject_cast<QComboBox*>(Control(id))) {
        const QSignalBlocker quiet(combo);
        combo->setCurrentIndex(index);
    }
}

int QtDialogView::ComboGetCurSel(int id) {
    auto* combo = qobject_cast<QComboBox*>(Control(id));
    return combo == nullptr ? -1 : combo->currentIndex();
}

void QtDialogView::ListSetStyle(int id, bool gridLines, bool checkBoxes, bool fullRowSelect) {
    QTableWidget* t = List(id);
    if (t == nullptr)
        return;
    t->setShowGrid(gridLines);
    t->setProperty("checkBoxes", checkBoxes);
    t->setSelectionBehavior(fullRowSelect ? QAbstractItemView::SelectRows
                                          : QAbstractItemView::SelectItems);
}

void QtDialogView::ListAddColumn(int id, const std::string& header, int extraWidth) {
    QTableWidget* t = List(id);
    if (t == nullptr)
        return;
    const int column = t->columnCount();
    t->setColumnCount(column + 1);
    t->setHorizontalHeaderItem(column, new QTableWidgetItem(Q(header)));
    t->setColumnWidth(column, QFontMetrics(t->font()).horizontalAdvance(Q(header)) + extraWidth);
}

void QtDialogView::ListDeleteAllRows(int id) {
    if (QTableWidget* t = List(id))
        t->setRowCount(0);
}

void QtDialogView::ListInsertRow(int id, int row, const std::string& firstCell) {
    QTableWidget* t = List(id);
    if (t == nullptr || row < 0 || row > t->rowCount())
        return;
    const QSignalBlocker block(t);
    t->insertRow(row);
    auto* item = new QTableWidgetItem(Q(firstCell));
    if (t->property("checkBoxes").toBool()) {
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        item->setData(Qt::UserRole, false);
    }
    t->setItem(row, 0, item);
}

void QtDialogView::ListDeleteRow(int id, int row) {
    QTableWidget* t = List(id);
    if (t != nullptr && row >= 0 && row < t->rowCount())
        t->removeRow(row);
}

int QtDialogView::ListRowCount(int id) {
    QTableWidget* t = List(id);
    return t == nullptr ? 0 : t->rowCount();
}

void QtDialogView::ListSetCell(int id, int row, int column, const std::string& text) {
    QTableWidget* t = List(id);
    if (t == nullptr || row < 0 || row >= t->rowCount() || column < 0 || column >= t->columnCount())
        return;
    if (QTableWidgetItem* item = t->item(row, column)) {
        const QSignalBlocker block(t);
        item->setText(Q(text));
    } else {
        t->setItem(row, column, new QTableWidgetItem(Q(text)));
    }
    // A new status usually comes with a new row colour: the whole list is drawn again.
    t->viewport()->update();
}

std::string QtDialogView::ListGetCell(int id, int row, int column) {
    QTableWidget* t = List(id);
    if (t == nullptr)
        return {};
    QTableWidgetItem* item = t->item(row, column);
    return item == nullptr ? std::string() : S(item->text());
}

void QtDialogView::ListSetRowCheck(int id, int row, bool checked) {
    QTableWidget* t = List(id);
    if (t == nullptr)
        return;
    // Not blocked: the controller hears programmatic check changes as it hears clicks.
    if (QTableWidgetItem* item = t->item(row, 0))
        item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

bool QtDialogView::ListGetRowCheck(int id, int row) {
    QTableWidget* t = List(id);
    QTableWidgetItem* item = t == nullptr ? nullptr : t->item(row, 0);
    return item != nullptr && item->checkState() == Qt::Checked;
}

std::vector<int> QtDialogView::ListSelectedRows(int id) {
    std::vector<int> rows;
    QTableWidget* t = List(id);
    if (t == nullptr)
        return rows;
    for (const QModelIndex& index : t->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void QtDialogView::ListSelectRow(int id, int row) {
    if (QTableWidget* t = List(id))
        t->selectRow(row);
}

void QtDialogView::CheckMenuItem(int command, bool checked) {
    if (!window_)
        return;
    auto it = window_->menuActions_.find(command);
    if (it == window_->menuActions_.end())
        return;
    it->second->setCheckable(true);
    it->second->setChecked(checked);
}

void QtDialogView::EnableMenuItem(int command, bool enabled) {
    if (!window_)
        return;
    auto it = window_->menuActions_.find(command);
    if (it != window_->menuActions_.end())
        it->second->setEnabled(enabled);
}

void QtDialogView::RedrawMenuBar() {
    if (window_)
        window_->menuBar_->update();
}

int QtDialogView::TrackPopupMenu(const std::vector<MenuItemSpec>& items) {
    QMenu menu(window_.get());
    std::map<QAction*, int> commands;
    for (const MenuItemSpec& item : items) {
        if (item.command == 0) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(Q(item.text));
        action->setEnabled(!item.grayed);
        commands[action] = item.command;
    }
    QAction* chosen = menu.exec(QCursor::pos());
    auto it = commands.find(chosen);
    return it == commands.end() ? 0 : it->second;
}

DialogResult QtDialogView::MessageBox(const MessageBoxSpec& message) {
    // Over the dialog that asked (a refused Serialization entry), not hidden behind it.
    QMessageBox box(DialogParent());
    box.setWindowTitle(Q(message.caption));
    // Messages carry file names: "<" in a name is text, never markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(Q(message.text));
    switch (message.icon) {
        case MsgIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case MsgIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MsgIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MsgIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
    }
    if (message.buttons == MsgButtons::OkCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok ? IDOK : IDCANCEL;
}

std::optional<std::string> QtDialogView::OpenFileDialog(const FileDialogSpec& request) {
    QFileDialog dialog(DialogParent(), Q(request.title), Q(request.initialPath),
                       QtFilter(request.filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(Q(request.defaultExtension));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return S(dialog.selectedFiles().front());
}

std::optional<std::string> QtDialogView::SaveFileDialog(const FileDialogSpec& request) {
    QFileDialog dialog(window_.get(), Q(request.title), Q(request.initialPath),
                       QtFilter(request.filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(Q(request.defaultExtension));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return S(dialog.selectedFiles().front());
}

QWidget* QtDialogView::DialogParent() const {
    // A dialog opened from another one belongs to it.
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return window_.get();
}

SelectTargetResult QtDialogView::RunSelectTargetDialog(const SelectTargetRequest& request) {
    QtSelectTargetDialog dialog(request, DialogParent());
    dialog.exec();
    return dialog.Result();
}

SerializationResult QtDialogView::RunSerializationDialog(const SerializationState& initial,
                                                         SerializationValidator& validator) {
    CSerializationDialog dialog(initial, validator, DialogParent());
    dialog.exec();
    return dialog.Result();
}

SecurityIdResult QtDialogView::RunSecurityIdDialog(const SecurityIdRequest& request) {
    CSecurityDialog dialog(request, DialogParent());
    dialog.exec();
    return dialog.Result();
}

void QtDialogView::RunProgramFileDialog(ProgramFileDialogHost& host) {
    QtProgramFileDialog dialog(host, DialogParent());
    dialog.exec();
}

AddHexFileResult QtDialogView::RunAddHexFileDialog(const FileDialogSpec& browse) {
    QtAddHexFileDialog dialog([this, browse] { return OpenFileDialog(browse); }, DialogParent());
    dialog.exec();
    return dialog.Result();
}

void QtDialogView::RunAboutDialog(const AboutInfo& info) {
    QDialog box(window_.get());
    box.setWindowTitle("Quorvel version");
    auto* icon = new QLabel(&box);
    icon->setPixmap(QuorvelIcon().pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);
    auto* version = new QLabel(Q(info.versionLine), &box);
    version->setObjectName("about_1034");
    auto* second = new QLabel(Q(info.secondLine), &box);
    second->setObjectName("about_1035");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    auto* texts = new QVBoxLayout;
    texts->addWidget(version);
    texts->addWidget(second);
    texts->addStretch();
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addLayout(texts);
    auto* layout = new QVBoxLayout(&box);
    layout->addLayout(row);
    layout->addWidget(buttons);
    box.setFixedSize(box.sizeHint());
    box.exec();
}

void QtDialogView::SetWaitCursor(bool wait) {
    if (wait == waitCursor_)
        return;
    waitCursor_ = wait;
    if (wait)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void QtDialogView::PumpMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}
