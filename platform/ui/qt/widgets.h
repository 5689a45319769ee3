// Qt widgets that show the framework's windows. Each widget only shows its window and
// hands what the user does to the framework; the window keeps the state.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QWidget>

#include "../core/window.h"

namespace wce::ui::qt {

// The window a widget shows, or null once the window is gone.
HWND WindowOf(const QObject* widget);
void Forget(QObject* widget);
void Bind(QObject* widget, HWND window);

// A dialog: a top-level window whose keys and close box go to the framework.
class DialogWidget : public QWidget {
  public:
    explicit DialogWidget(HWND dialog, QWidget* owner);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool focusNextPrevChild(bool next) override;
};

// Push buttons, standard or owner-drawn: the framework sees the presses and releases.
class ButtonWidget : public QWidget {
  public:
    explicit ButtonWidget(HWND button, QWidget* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

// A group box as Windows draws it: an etched frame with its title on the top line,
// decoration only.
class GroupWidget : public QWidget {
  public:
    explicit GroupWidget(HWND group, QWidget* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// A check box that leaves its state to the framework's automatic check box.
class CheckWidget : public QCheckBox {
  public:
    explicit CheckWidget(HWND button, QWidget* parent);

  protected:
    void nextCheckState() override {}
};

}  // namespace wce::ui::qt
