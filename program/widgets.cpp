#include "widgets.h"

#include <QToolButton>
#include <QVBoxLayout>

void FieldEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    emit left();
}

UpDownControl::UpDownControl(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (const auto& [arrow, d] : {std::pair{Qt::UpArrow, 1}, std::pair{Qt::DownArrow, -1}}) {
        auto* button = new QToolButton(this);
        button->setArrowType(arrow);
        button->setAutoRaise(false);
        button->setIconSize(QSize(10, 7));
        button->setFocusPolicy(Qt::NoFocus);
        button->setObjectName(d > 0 ? "up" : "down");
        connect(button, &QToolButton::clicked, this, [this, d = d] { emit delta(d); });
        layout->addWidget(button);
    }
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}
