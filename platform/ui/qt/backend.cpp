// The Qt Widgets backend: each framework window gets a widget that shows it.
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QFontDatabase>
#include <QMessageBox>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyleFactory>

#include "../../gdi/gdi_internal.h"
#include "wce/dialogapp.h"
#include "wce/text.h"
#include "widgets.h"

namespace wce::ui::qt {

namespace {

constexpr int kCaptionFontPixels = 11;
// Windows CE's combo boxes have a narrow drop button; Fusion's would take the room of
// the last character of a port name.
constexpr int kComboArrowWidth = 13;

// Fusion everywhere, with the handheld's combo box button.
class HandheldStyle : public QProxyStyle {
  public:
    HandheldStyle() : QProxyStyle(QStyleFactory::create("Fusion")) {}
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                         const QWidget* widget) const override {
        QRect r = QProxyStyle::subControlRect(control, option, part, widget);
        if (control != CC_ComboBox || !option) return r;
        const QRect& all = option->rect;
        if (part == SC_ComboBoxArrow)
            return visualRect(option->direction, all,
                              QRect(all.right() - kComboArrowWidth, all.top(), kComboArrowWidth + 1,
                                    all.height()));
        if (part == SC_ComboBoxEditField) {
            QRect field = visualRect(option->direction, all, r);
            field.setRight(all.right() - kComboArrowWidth - 1);
            return visualRect(option->direction, all, field);
        }
        return r;
    }
};

QColor Colour(int index) {
    COLORREF c = GetSysColor(index);
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

QPalette HandheldPalette() {
    QPalette p;
    p.setColor(QPalette::Window, Colour(COLOR_BTNFACE));
    p.setColor(QPalette::Button, Colour(COLOR_BTNFACE));
    p.setColor(QPalette::WindowText, Colour(COLOR_WINDOWTEXT));
    p.setColor(QPalette::ButtonText, Colour(COLOR_BTNTEXT));
    p.setColor(QPalette::Base, Colour(COLOR_WINDOW));
    p.setColor(QPalette::Text, Colour(COLOR_WINDOWTEXT));
    p.setColor(QPalette::Highlight, Colour(COLOR_HIGHLIGHT));
    p.setColor(QPalette::HighlightedText, Colour(COLOR_HIGHLIGHTTEXT));
    p.setColor(QPalette::Light, Colour(COLOR_3DHILIGHT));
    p.setColor(QPalette::Dark, Colour(COLOR_3DSHADOW));
    p.setColor(QPalette::Disabled, QPalette::WindowText, Colour(COLOR_GRAYTEXT));
    p.setColor(QPalette::Disabled, QPalette::Text, Colour(COLOR_GRAYTEXT));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, Colour(COLOR_GRAYTEXT));
    return p;
}

QWidget* Peer(HWND window) {
    return IsLive(window) ? static_cast<QWidget*>(window->peer) : nullptr;
}

QRect Geometry(const RECT& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

QString Text(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

// Windows captions mark their access keys with "&"; Qt labels show them as typed.
QString Caption(const std::u16string& text) {
    QString out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size()) ++i;
        out += QChar(text[i]);
    }
    return out;
}

Qt::Alignment StaticAlignment(DWORD style) {
    switch (style & SS_TYPEMASK) {
        case SS_CENTER:
            return Qt::AlignHCenter | Qt::AlignTop;
        case SS_RIGHT:
            return Qt::AlignRight | Qt::AlignTop;
        default:
            return Qt::AlignLeft | Qt::AlignTop;
    }
}

bool IsCheckType(DWORD type) {
    return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE ||
           type == BS_AUTO3STATE || type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

// A control's focus, taken by a click or Qt's own focus handling, goes to the framework.
class FocusFilter : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn) {
            HWND window = WindowOf(watched);
            if (!window) window = WindowOf(watched->parent());  // a combo box's edit field
            if (window && !window->isDialog && IsLive(window->parent) &&
                window->parent->focus != window)
                SetFocus(window);
        }
        return false;
    }
};

class QtBackend : public Backend {
  public:
    const char* Name() const override { return "qt"; }
    RECT Desktop() const override {
        QScreen* screen = QGuiApplication::primaryScreen();
        if (!screen) return Backend::Desktop();
        QRect r = screen->availableGeometry();
        return RECT{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
    }

    void Created(HWND window) override {
        QWidget* widget = window->isDialog ? MakeDialog(window) : MakeControl(window);
        if (!widget) return;
        window->peer = widget;
        widget->setFont(
            gdi::RealizeFont(window->font ? window->font : GetStockObject(SYSTEM_FONT)));
        if (!window->isDialog) {
            widget->setGeometry(Geometry(window->rect));
            widget->installEventFilter(&focusFilter_);
            widget->setVisible(window->style & WS_VISIBLE);
            widget->setEnabled(!(window->style & WS_DISABLED));
            // Group boxes are decoration behind the controls they frame.
            if (window->kind == ControlClass::Button &&
                (window->style & BS_TYPEMASK) == BS_GROUPBOX)
                widget->lower();
        }
    }

    void Destroyed(HWND window) override {
        QWidget* widget = Peer(window);
        if (!widget) return;
        window->peer = nullptr;
        Forget(widget);
        for (QObject* child : widget->findChildren<QObject*>()) Forget(child);
        widget->hide();
        if (window->isDialog || !IsLive(window->parent) || !window->parent->peer)
            widget->deleteLater();
    }

    void Changed(HWND window, Change what) override {
        QWidget* widget = Peer(window);
        if (!widget) return;
        QSignalBlocker block(widget);
        switch (what) {
            case Change::Text:
                ShowText(window, widget);
                break;
            case Change::Enabled:
                widget->setEnabled(!(window->style & WS_DISABLED));
                widget->update();
                break;
            case Change::Visible:
                widget->setVisible(window->style & WS_VISIBLE);
                break;
            case Change::Check:
                if (auto* box = dynamic_cast<QCheckBox*>(widget))
                    box->setCheckState(window->check == 2 ? Qt::PartiallyChecked
                                       : window->check    ? Qt::Checked
                                                          : Qt::Unchecked);
                break;
            case Change::Items:
                ShowItems(window, widget);
                break;
            case Change::Selection:
                ShowSelection(window, widget);
                break;
            case Change::Focus:
                ShowFocus(window, widget);
                break;
            case Change::Font:
                widget->setFont(
                    gdi::RealizeFont(window->font ? window->font : GetStockObject(SYSTEM_FONT)));
                widget->update();
                break;
            case Change::Icon:
                ShowIcon(window, widget);
                break;
            case Change::Style:
            case Change::Pushed:
            case Change::Redraw:
                widget->update();
                break;
            case Change::Position:
                if (window->isDialog) widget->move(window->rect.left, window->rect.top);
                break;
        }
    }

    void Shown(HWND dialog) override {
        if (QWidget* widget = Peer(dialog)) {
            if (dialog->modal) widget->setWindowModality(Qt::ApplicationModal);
            widget->show();
            ShowFocus(dialog, widget);
        }
    }

    bool RunModalLoop(HWND dialog) override {
        QWidget* widget = Peer(dialog);
        if (!widget) return false;
        widget->show();
        QEventLoop loop;
        loops_.push_back({dialog, &loop});
        while (IsLive(dialog) && !dialog->ended) loop.exec();
        loops_.pop_back();
        return true;
    }

    void ModalEnded(HWND dialog) override {
        for (auto& entry : loops_)
            if (entry.first == dialog) entry.second->quit();
    }

    bool Ask(BoxRequest& box) override {
        if (box.kind == BoxRequest::Kind::File) {
            QString path =
                QFileDialog::getOpenFileName(Peer(box.owner), Text(box.caption),
                                             Text(box.file.initialName), QtFilter(box.file.filter));
            box.answer = path.isEmpty() ? IDCANCEL : IDOK;
            box.path = path.toStdU16String();
            return true;
        }
        QMessageBox message;
        FillMessageBox(message, box);
        message.exec();
        box.answer = Answer(message);
        return true;
    }

    void ShowBox(BoxRequest& box) override {
        QWidget* shown = nullptr;
        if (box.kind == BoxRequest::Kind::File) {
            auto* chooser = new QFileDialog(Peer(box.owner), Text(box.caption),
                                            Text(box.file.initialName), QtFilter(box.file.filter));
            chooser->setOption(QFileDialog::DontUseNativeDialog);
            shown = chooser;
        } else {
            auto* message = new QMessageBox(Peer(box.owner));
            FillMessageBox(*message, box);
            shown = message;
        }
        box.peer = shown;
        shown->show();
    }

    void HideBox(BoxRequest& box) override {
        if (auto* shown = static_cast<QWidget*>(box.peer)) {
            shown->hide();
            shown->deleteLater();
            box.peer = nullptr;
        }
    }

    void Settle() override {
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
        // Outside any dialog's own loop (a scripted run), the widgets of closed dialogs
        // would wait for a loop that never comes.
        if (loops_.empty()) QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    std::string Screenshot(HWND dialog, BoxRequest* box, const std::string& path) override {
        Settle();
        QImage picture;
        if (box) {
            auto* shown = static_cast<QWidget*>(box->peer);
            if (!shown) return "the box is not shown";
            picture = WithCaption(shown->grab().toImage(), Text(box->caption), false);
        } else {
            QWidget* widget = Peer(dialog);
            if (!widget) return "the dialog is not shown";
            picture = WithCaption(widget->grab().toImage(), Text(dialog->text),
                                  dialog->exStyle & WS_EX_CAPTIONOKBTN);
        }
        if (!picture.save(QString::fromStdString(path), "PNG")) return "cannot write " + path;
        return {};
    }

    // A picture of a window shows its caption bar too, as the handheld draws it.
    static QImage WithCaption(const QImage& client, const QString& caption, bool okButton) {
        const int bar = 20;
        QImage out(client.width() + 2, client.height() + bar + 2, QImage::Format_RGB32);
        out.fill(Colour(COLOR_WINDOWFRAME));
        QPainter p(&out);
        p.fillRect(1, 1, client.width(), bar, Colour(COLOR_ACTIVECAPTION));
        // The handheld's caption is bold and a little smaller than the dialog's text.
        LOGFONTW lf{};
        lf.lfHeight = -kCaptionFontPixels;
        lf.lfWeight = FW_BOLD;
        WideCopy(lf.lfFaceName, LF_FACESIZE, DialogFace(u"System"));
        HFONT font = CreateFontIndirectW(&lf);
        p.setFont(gdi::RealizeFont(font));
        p.setPen(Colour(COLOR_CAPTIONTEXT));
        int right = client.width() + 1;
        if (okButton) {
            QRect ok(right - 26, 3, 24, bar - 4);
            p.fillRect(ok, Colour(COLOR_BTNFACE));
            p.setPen(Colour(COLOR_BTNTEXT));
            p.drawText(ok, Qt::AlignCenter, QStringLiteral("OK"));
            p.setPen(Colour(COLOR_CAPTIONTEXT));
            right = ok.left() - 2;
        }
        p.drawText(QRect(5, 1, right - 5, bar), Qt::AlignVCenter | Qt::AlignLeft, caption);
        p.drawImage(1, bar + 1, client);
        p.end();
        DeleteObject(font);
        return out;
    }

  private:
    QWidget* MakeDialog(HWND dialog) {
        auto* widget = new DialogWidget(dialog, Peer(dialog->parent));
        widget->setPalette(HandheldPalette());
        widget->setAutoFillBackground(true);
        widget->setWindowTitle(Caption(dialog->text));
        widget->setFixedSize(dialog->rect.right - dialog->rect.left,
                             dialog->rect.bottom - dialog->rect.top);
        return widget;
    }

    QWidget* MakeControl(HWND control) {
        QWidget* dialog = Peer(control->parent);
        if (!dialog) return nullptr;
        QWidget* widget = nullptr;
        switch (control->kind) {
            case ControlClass::Button:
                widget = MakeButton(control, dialog);
                break;
            case ControlClass::Edit: {
                auto* edit = new QLineEdit(dialog);
                edit->setFrame(control->style & WS_BORDER);
                edit->setReadOnly(control->style & ES_READONLY);
                if (control->style & ES_PASSWORD) edit->setEchoMode(QLineEdit::Password);
                edit->setTextMargins(0, 0, 0, 0);
                QObject::connect(edit, &QLineEdit::textEdited, edit, [edit](const QString& text) {
                    if (HWND w = WindowOf(edit)) user::Type(w, text.toStdU16String());
                });
                widget = edit;
                break;
            }
            case ControlClass::Static: {
                auto* label = new QLabel(dialog);
                label->setAlignment(StaticAlignment(control->style));
                label->setWordWrap((control->style & SS_TYPEMASK) != SS_LEFTNOWORDWRAP);
                label->setMargin(0);
                widget = label;
                break;
            }
            case ControlClass::ListBox: {
                auto* list = new QListWidget(dialog);
                list->setFrameShape((control->style & WS_BORDER) ? QFrame::Box : QFrame::NoFrame);
                list->setFrameShadow(QFrame::Plain);
                list->setSelectionMode(QAbstractItemView::SingleSelection);
                QObject::connect(list, &QListWidget::itemPressed, list,
                                 [list](QListWidgetItem* item) {
                                     if (HWND w = WindowOf(list)) user::Select(w, list->row(item));
                                 });
                QObject::connect(list, &QListWidget::itemDoubleClicked, list,
                                 [list](QListWidgetItem*) {
                                     if (HWND w = WindowOf(list); w && (w->style & LBS_NOTIFY))
                                         Notify(w, LBN_DBLCLK);
                                 });
                widget = list;
                break;
            }
            case ControlClass::ComboBox: {
                auto* combo = new QComboBox(dialog);
                combo->setEditable((control->style & 3) == CBS_DROPDOWN ||
                                   (control->style & 3) == CBS_SIMPLE);
                combo->setInsertPolicy(QComboBox::NoInsert);
                QObject::connect(combo, &QComboBox::activated, combo, [combo](int index) {
                    if (HWND w = WindowOf(combo)) user::Select(w, index);
                });
                if (QLineEdit* edit = combo->lineEdit()) {
                    edit->installEventFilter(&focusFilter_);
                    QObject::connect(edit, &QLineEdit::textEdited, combo,
                                     [combo](const QString& text) {
                                         if (HWND w = WindowOf(combo))
                                             user::Type(w, text.toStdU16String());
                                     });
                }
                widget = combo;
                break;
            }
        }
        Bind(widget, control);
        ShowText(control, widget);
        return widget;
    }

    QWidget* MakeButton(HWND control, QWidget* dialog) {
        DWORD type = control->style & BS_TYPEMASK;
        if (type == BS_GROUPBOX) return new GroupWidget(control, dialog);
        if (IsCheckType(type)) {
            auto* box = new CheckWidget(control, dialog);
            box->setTristate(type == BS_3STATE || type == BS_AUTO3STATE);
            QObject::connect(box, &QCheckBox::clicked, box, [box] {
                if (HWND w = WindowOf(box)) user::Click(w);
            });
            return box;
        }
        return new ButtonWidget(control, dialog);
    }

    static void ShowText(HWND window, QWidget* widget) {
        QString text = Text(window->text);
        if (window->isDialog)
            widget->setWindowTitle(Caption(window->text));
        else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            if (edit->text() != text) edit->setText(text);
        } else if (auto* label = qobject_cast<QLabel*>(widget))
            label->setText(Caption(window->text));
        else if (auto* box = qobject_cast<QCheckBox*>(widget))
            box->setText(Caption(window->text));
        else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            if (combo->isEditable() && combo->lineEdit()->text() != text)
                combo->lineEdit()->setText(text);
        } else
            widget->update();
    }

    static void ShowItems(HWND window, QWidget* widget) {
        QStringList items;
        for (const auto& item : window->items) items << Text(item);
        if (auto* list = qobject_cast<QListWidget*>(widget)) {
            list->clear();
            list->addItems(items);
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            QString edit = combo->isEditable() ? combo->lineEdit()->text() : QString();
            combo->clear();
            combo->addItems(items);
            if (combo->isEditable()) combo->lineEdit()->setText(edit);
        }
        ShowSelection(window, widget);
    }

    static void ShowSelection(HWND window, QWidget* widget) {
        if (auto* list = qobject_cast<QListWidget*>(widget)) {
            QSignalBlocker block(list->selectionModel());
            list->setCurrentRow(window->selection);
            if (window->selection < 0) list->clearSelection();
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            // Qt picks the first item by itself; Windows keeps no selection.
            combo->setCurrentIndex(window->selection);
            if (combo->isEditable()) combo->lineEdit()->setText(Text(window->text));
        }
    }

    static void ShowFocus(HWND window, QWidget*) {
        HWND dialog = DialogOf(window);
        if (!dialog) return;
        QWidget* target = dialog->focus ? Peer(dialog->focus) : Peer(dialog);
        if (target && !target->hasFocus()) target->setFocus(Qt::OtherFocusReason);
        if (QWidget* d = Peer(dialog)) d->update();
        for (HWND child : dialog->children)
            if (QWidget* w = Peer(child); w && dynamic_cast<ButtonWidget*>(w)) w->update();
    }

    static void ShowIcon(HWND window, QWidget* widget) {
        if (!window->isDialog) return;
        HICON icon =
            window->icons[ICON_SMALL] ? window->icons[ICON_SMALL] : window->icons[ICON_BIG];
        SIZE size{};
        if (!icon || !GetIconSize(icon, &size)) return;
        // Draw the icon into a picture of its own through the platform's call.
        HDC dc = CreateCompatibleDC(nullptr);
        HBITMAP bitmap = CreateCompatibleBitmap(dc, size.cx, size.cy);
        SelectObject(dc, bitmap);
        RECT all{0, 0, size.cx, size.cy};
        FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));
        DrawIconEx(dc, 0, 0, icon, size.cx, size.cy, 0, nullptr, DI_NORMAL);
        widget->setWindowIcon(QIcon(QPixmap::fromImage(bitmap->image)));
        DeleteDC(dc);
        DeleteObject(bitmap);
    }

    static QString QtFilter(const std::u16string& pairs) {
        // "text\0pattern\0...\0\0" becomes "text (pattern);;..."
        QStringList parts;
        size_t i = 0;
        while (i < pairs.size() && pairs[i]) {
            size_t end = pairs.find(u'\0', i);
            std::u16string text = pairs.substr(i, end - i);
            i = end + 1;
            if (i >= pairs.size()) break;
            end = pairs.find(u'\0', i);
            std::u16string pattern = pairs.substr(i, end - i);
            i = end + 1;
            QString patterns = Text(pattern).replace(u';', u' ');
            parts << Text(text) + " (" + patterns + ")";
        }
        return parts.join(";;");
    }

    static void FillMessageBox(QMessageBox& message, const BoxRequest& box) {
        message.setWindowTitle(Text(box.caption));
        message.setText(Text(box.text));
        message.setPalette(HandheldPalette());
        // A box speaks in the dialogs' font, Hangul in the Korean one.
        HFONT font = MakeDialogFont(u"System", 8);
        message.setFont(gdi::RealizeFont(font));
        DeleteObject(font);
        switch (box.type & MB_ICONMASK) {
            case MB_ICONHAND:
                message.setIcon(QMessageBox::Critical);
                break;
            case MB_ICONQUESTION:
                message.setIcon(QMessageBox::Question);
                break;
            case MB_ICONEXCLAMATION:
                message.setIcon(QMessageBox::Warning);
                break;
            case MB_ICONASTERISK:
                message.setIcon(QMessageBox::Information);
                break;
        }
        struct Choice {
            int answer;
            QMessageBox::StandardButton button;
        };
        static const Choice kChoices[] = {
            {IDOK, QMessageBox::Ok},         {IDCANCEL, QMessageBox::Cancel},
            {IDABORT, QMessageBox::Abort},   {IDRETRY, QMessageBox::Retry},
            {IDIGNORE, QMessageBox::Ignore}, {IDYES, QMessageBox::Yes},
            {IDNO, QMessageBox::No},
        };
        static const std::vector<int> kSets[] = {
            {IDOK},
            {IDOK, IDCANCEL},
            {IDABORT, IDRETRY, IDIGNORE},
            {IDYES, IDNO, IDCANCEL},
            {IDYES, IDNO},
            {IDRETRY, IDCANCEL},
        };
        UINT set = box.type & MB_TYPEMASK;
        const std::vector<int>& answers = set < std::size(kSets) ? kSets[set] : kSets[0];
        size_t defIndex = (box.type & MB_DEFMASK) >> 8;
        for (size_t i = 0; i < answers.size(); ++i) {
            for (const Choice& c : kChoices) {
                if (c.answer != answers[i]) continue;
                QPushButton* b = message.addButton(c.button);
                b->setProperty("qxAnswer", c.answer);
                b->setText(QString::fromUtf16(MessageBoxButtonText(c.answer, GetACP())));
                if (i == defIndex) message.setDefaultButton(b);
            }
        }
        // The caption's close box gives Cancel where there is one, else the only answer.
        for (int a : answers)
            if (a == IDCANCEL || answers.size() == 1)
                for (QAbstractButton* b : message.buttons())
                    if (b->property("qxAnswer").toInt() == a) message.setEscapeButton(b);
    }

    static int Answer(const QMessageBox& message) {
        QAbstractButton* clicked = message.clickedButton();
        if (clicked) return clicked->property("qxAnswer").toInt();
        return IDCANCEL;
    }

    FocusFilter focusFilter_;
    std::vector<std::pair<HWND, QEventLoop*>> loops_;
};

QtBackend* installed = nullptr;

}  // namespace

}  // namespace wce::ui::qt

namespace wce::ui {

std::string SaveWindowPicture(HWND window, const std::string& path) {
    if (!qt::installed) return "pictures need the Qt backend";
    qt::installed->Settle();
    QWidget* widget = qt::Peer(window);
    if (!widget) return "no such window";
    if (!widget->grab().toImage().save(QString::fromStdString(path), "PNG"))
        return "cannot write " + path;
    return {};
}

bool UseQtBackend(std::string* error) {
    if (qt::installed) return true;
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        if (QCoreApplication::instance()) {
            if (error) *error = "the Qt backend must start before anything is drawn";
            return false;
        }
        gdi::PrepareQtEnvironment();
        static int argc = 1;
        static char name[] = "qx";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);  // lives for the process
    }
    // One look everywhere, so pictures of a dialog are the same on every machine.
    QApplication::setStyle(new qt::HandheldStyle);
    QApplication::setPalette(qt::HandheldPalette());
    qt::installed = new qt::QtBackend;
    SetBackend(qt::installed);
    SetMessageBoxHandler(FrameworkMessageBox);
    return true;
}

}  // namespace wce::ui
