// The widgets' input, handed to the framework as a user's actions.
#include "widgets.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QVariant>

namespace wce::ui::qt {

namespace {
constexpr const char* kWindowProperty = "qxWindow";
}

HWND WindowOf(const QObject* widget) {
    if (!widget) return nullptr;
    auto window = reinterpret_cast<HWND>(widget->property(kWindowProperty).value<quintptr>());
    return IsLive(window) ? window : nullptr;
}

void Bind(QObject* widget, HWND window) {
    widget->setProperty(kWindowProperty, QVariant::fromValue(reinterpret_cast<quintptr>(window)));
}

void Forget(QObject* widget) {
    widget->setProperty(kWindowProperty, QVariant::fromValue(quintptr(0)));
}

DialogWidget::DialogWidget(HWND dialog, QWidget* owner) : QWidget(owner, Qt::Dialog) {
    Bind(this, dialog);
}

void DialogWidget::keyPressEvent(QKeyEvent* event) {
    HWND dialog = WindowOf(this);
    if (!dialog) return;
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            user::Key(dialog, VK_RETURN);
            return;
        case Qt::Key_Escape:
            user::Key(dialog, VK_ESCAPE);
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

void DialogWidget::closeEvent(QCloseEvent* event) {
    // The framework decides whether the dialog ends; the widget goes with its window.
    event->ignore();
    if (HWND dialog = WindowOf(this)) user::Close(dialog);
}

bool DialogWidget::focusNextPrevChild(bool next) {
    if (HWND dialog = WindowOf(this)) user::Key(dialog, VK_TAB, !next);
    return true;
}

ButtonWidget::ButtonWidget(HWND button, QWidget* parent) : QWidget(parent) {
    Bind(this, button);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ButtonWidget::paintEvent(QPaintEvent*) {
    HWND button = WindowOf(this);
    if (!button) return;
    QPainter painter(this);
    if (IsOwnerDrawn(button)) {
        painter.drawImage(0, 0, PaintOwnerDrawn(button));
        return;
    }
    QStyleOptionButton option;
    option.initFrom(this);
    option.text = QString::fromStdU16String(button->text);
    option.state = QStyle::State_Raised;
    if (button->pushed) option.state = QStyle::State_Sunken;
    if (!(button->style & WS_DISABLED)) option.state |= QStyle::State_Enabled;
    if (hasFocus()) option.state |= QStyle::State_HasFocus;
    if ((button->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
        option.features |= QStyleOptionButton::DefaultButton;
    painter.fillRect(rect(), palette().window());
    style()->drawControl(QStyle::CE_PushButton, &option, &painter, this);
}

void ButtonWidget::mousePressEvent(QMouseEvent* event) {
    HWND button = WindowOf(this);
    if (!button || event->button() != Qt::LeftButton || !IsWindowEnabled(button)) return;
    SendMessageW(button, WM_LBUTTONDOWN, 0, 0);
}

void ButtonWidget::mouseReleaseEvent(QMouseEvent* event) {
    HWND button = WindowOf(this);
    if (!button || event->button() != Qt::LeftButton) return;
    // Let go outside the button: no click, as on Windows.
    if (!rect().contains(event->position().toPoint()))
        SendMessageW(button, BM_SETSTATE, FALSE, 0);
    else
        SendMessageW(button, WM_LBUTTONUP, 0, 0);
}

void ButtonWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    HWND button = WindowOf(this);
    if (!button || event->button() != Qt::LeftButton || !IsWindowEnabled(button)) return;
    SendMessageW(button, WM_LBUTTONDBLCLK, 0, 0);
}

void ButtonWidget::keyPressEvent(QKeyEvent* event) {
    HWND button = WindowOf(this);
    if (button && event->key() == Qt::Key_Space)
        SendMessageW(button, WM_KEYDOWN, VK_SPACE, 0);
    else
        QWidget::keyPressEvent(event);
}

GroupWidget::GroupWidget(HWND group, QWidget* parent) : QWidget(parent) {
    Bind(this, group);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void GroupWidget::paintEvent(QPaintEvent*) {
    HWND group = WindowOf(this);
    if (!group) return;
    QPainter painter(this);
    QFontMetrics fm(font());
    int top = fm.height() / 2;
    int w = width(), h = height();
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(0, top, w - 2, h - top - 2);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(1, top + 1, w - 2, h - top - 2);
    QString title;
    for (size_t i = 0; i < group->text.size(); ++i) {
        if (group->text[i] == u'&' && i + 1 < group->text.size()) ++i;
        title += QChar(group->text[i]);
    }
    if (title.isEmpty()) return;
    int x = fm.averageCharWidth();
    QRect text(x, 0, std::min(fm.horizontalAdvance(title) + 2, w - x - 2), fm.height());
    painter.fillRect(text, palette().window());
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(text.adjusted(1, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop, title);
}

CheckWidget::CheckWidget(HWND button, QWidget* parent) : QCheckBox(parent) {
    Bind(this, button);
}

}  // namespace wce::ui::qt
