// Two small controls the dialogs need and Qt lacks: an edit field that says
// when it is left (as an edit field's focus loss, whether or not its text
// changed), and an up/down control that reports only its delta; and the
// placing of a window beside another.
#pragma once

#include <QLineEdit>
#include <QWidget>

class FieldEdit : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;

signals:
    void left();

protected:
    void focusOutEvent(QFocusEvent* event) override;
};

class UpDownControl : public QWidget {
    Q_OBJECT
public:
    explicit UpDownControl(QWidget* parent = nullptr);

signals:
    // +1 for the up arrow, -1 for the down arrow.
    void delta(int d);
};

// Moves window beside anchor, on the side the screen has room for it (the
// preferred side first), its top level with anchor's, kept on the screen.
// Where neither side has room but the screen holds both, moveAnchor lets
// anchor step aside so the window fits on the preferred side.
void PlaceBeside(QWidget& window, QWidget& anchor, bool rightFirst, bool moveAnchor);
