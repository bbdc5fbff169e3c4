#include "thumbnail_wnd.h"

#include "qt_convert.h"
#include "scale_dlg.h"
#include "ui_thumbnail_wnd.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>

#include "icons/stripe_left.xpm"
#include "icons/stripe_right.xpm"

using namespace tolvane;

namespace {
// The scroll bar's actions as the model's scroll codes; -1 for none.
int ScrollCodeFor(int action) {
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub: return kLineUp;
    case QAbstractSlider::SliderSingleStepAdd: return kLineDown;
    case QAbstractSlider::SliderPageStepSub: return kPageUp;
    case QAbstractSlider::SliderPageStepAdd: return kPageDown;
    case QAbstractSlider::SliderMove: return kThumbTrack;
    case QAbstractSlider::SliderToMinimum: return kTop;
    case QAbstractSlider::SliderToMaximum: return kBottom;
    default: return -1;
    }
}
}  // namespace

void ThumbnailCanvas::paintEvent(QPaintEvent*) {
    if (owner_) owner_->Paint(*this);
}

void ThumbnailCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (!owner_) return;
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) owner_->Model().LeftRelease(p.x(), p.y());
    if (event->button() == Qt::RightButton) owner_->Model().RightRelease(p.x(), p.y());
    owner_->Redraw();
}

void ThumbnailCanvas::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!owner_ || event->button() != Qt::LeftButton) return;
    const QPoint p = event->position().toPoint();
    owner_->Model().DoubleClick(p.x(), p.y());
    owner_->Redraw();
}

void ThumbnailCanvas::wheelEvent(QWheelEvent*) {
    if (owner_) owner_->Redraw();
}

void ThumbnailCanvas::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (owner_) owner_->Model().SetClientRect(CRect{0, 0, width(), height()});
}

CThumbnailWnd::CThumbnailWnd(CScaleDlg& dialog)
    : QWidget(&dialog, Qt::Window), ui_(std::make_unique<Ui::CThumbnailWnd>()), model_(dialog.Model()) {
    ui_->setupUi(this);
    ui_->canvas->SetOwner(this);
    model_.SetClientRect(CRect{0, 0, ui_->canvas->width(), ui_->canvas->height()});
    QMenuBar* menu = ui_->menuBar_146;
    menu->addAction("Cancel", this, &QWidget::hide)->setObjectName("cancel_32806");
    menu->addAction("Delete from List", this, [this] {
        model_.DeleteFromList();
        Redraw();
    })->setObjectName("deleteFromList_32815");
    menu->addAction("Display Selected", this, [this] { model_.DisplaySelected(); })
        ->setObjectName("displaySelected_32816");
    connect(ui_->scrollBar, &QAbstractSlider::actionTriggered, this, [this](int action) {
        const int code = ScrollCodeFor(action);
        if (updatingScroll_ || code < 0) return;
        model_.VerticalScroll(code, ui_->scrollBar->sliderPosition());
        Redraw();
    });
}

CThumbnailWnd::~CThumbnailWnd() = default;

ThumbnailCanvas* CThumbnailWnd::Canvas() const { return ui_->canvas; }

void CThumbnailWnd::Refresh() {
    if (!model_.Refresh()) {
        hide();
        return;
    }
    show();
    Redraw();
}

void CThumbnailWnd::Redraw() {
    updatingScroll_ = true;
    ui_->scrollBar->setRange(0, std::max(model_.ScrollMax(), 0));
    ui_->scrollBar->setPageStep(std::max(model_.PageSize(), 1));
    ui_->scrollBar->setValue(model_.ScrollPosition());
    updatingScroll_ = false;
    ui_->canvas->update();
}

void CThumbnailWnd::Paint(QWidget& canvas) {
    if (!model_.Active()) return;
    const ThumbnailPage page = model_.Page();
    QPainter painter(&canvas);
    painter.fillRect(ToQRect(page.textArea), ToQColor(page.background));
    painter.fillRect(ToQRect(page.thumbnailArea), ToQColor(page.background));
    painter.fillRect(ToQRect(page.leftStrip), QBrush(QPixmap(stripe_left_xpm)));
    painter.fillRect(ToQRect(page.rightStrip), QBrush(QPixmap(stripe_right_xpm)));
    for (const ThumbnailCell& c : page.cells) {
        if (c.bitmap && !c.bitmap->Empty()) {
            const Bitmap& b = *c.bitmap;
            painter.drawImage(ToQRect(c.picture).topLeft(), ToQImage(b));
        }
        painter.setPen(ToQColor(c.text));
        const int ascent = painter.fontMetrics().ascent();
        painter.drawText(c.textX, c.captionY + ascent, QString::fromStdString(c.caption));
        painter.drawText(c.textX, c.nameY + ascent, QString::fromStdString(c.name));
        QPen frame(ToQColor(c.frame));
        frame.setWidth(page.frameWidth);
        frame.setJoinStyle(Qt::MiterJoin);
        painter.setPen(frame);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(ToQRect(c.cell));
    }
}

void CThumbnailWnd::closeEvent(QCloseEvent* event) {
    hide();
    event->ignore();
}
