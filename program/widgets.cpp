#include "widgets.h"

#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

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

void PlaceBeside(QWidget& window, QWidget& anchor, bool rightFirst, bool moveAnchor) {
    const QScreen* screen = anchor.screen();
    if (!screen) return;
    window.ensurePolished();
    if (!window.testAttribute(Qt::WA_Resized)) window.adjustSize();
    const QRect room = screen->availableGeometry();
    QRect by = anchor.frameGeometry();
    // A hidden window's frame is not known yet; its decorations stand out
    // by about as much as the anchor's do.
    const QSize size = window.size() + (by.size() - anchor.size());
    const auto fitsRight = [&] { return by.right() + size.width() <= room.right(); };
    const auto fitsLeft = [&] { return by.left() - size.width() >= room.left(); };
    if (!fitsRight() && !fitsLeft() && moveAnchor && by.width() + size.width() <= room.width()) {
        by.moveLeft(rightFirst ? room.right() + 1 - size.width() - by.width() : room.left() + size.width());
        anchor.move(by.topLeft());
    }
    int x = room.right() + 1 - size.width();  // no room: at the screen's edge
    if (fitsRight() && (rightFirst || !fitsLeft())) x = by.right() + 1;
    else if (fitsLeft()) x = by.left() - size.width();
    const int y = std::clamp(by.top(), room.top(), std::max(room.top(), room.bottom() + 1 - size.height()));
    window.move(std::max(x, room.left()), y);
}
