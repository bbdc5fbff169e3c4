#include "preview_dlg.h"

#include "qt_convert.h"
#include "ui_preview_dlg.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>

using namespace tolvane;

PreviewFrame::PreviewFrame(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PreviewFrame::paintEvent(QPaintEvent*) {
    if (owner_) owner_->PaintFrame(*this);
}

void PreviewFrame::mouseReleaseEvent(QMouseEvent* event) {
    if (!owner_) return;
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) owner_->Apply(owner_->Model().LeftRelease(p.x(), p.y()));
    if (event->button() == Qt::RightButton) owner_->Apply(owner_->Model().RightRelease(p.x(), p.y()));
}

void PreviewFrame::mouseDoubleClickEvent(QMouseEvent* event) {
    if (owner_ && event->button() == Qt::LeftButton) owner_->Apply(owner_->Model().DoubleClick());
}

void PreviewFrame::wheelEvent(QWheelEvent*) {
    if (owner_) owner_->Apply(owner_->Model().Wheel());
}

void PreviewFrame::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (owner_) owner_->Model().SetFrame(CRect{0, 0, width(), height()});
}

CImagePreviewDlg::CImagePreviewDlg(ScaleDialogModel& dialog, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CImagePreviewDlg>()), model_(dialog) {
    ui_->setupUi(this);
    setModal(false);
    ui_->frame_1085->SetOwner(this);
    model_.SetFrame(CRect{0, 0, ui_->frame_1085->width(), ui_->frame_1085->height()});
    connect(ui_->removeFromList_1088, &QPushButton::clicked, this, [this] { Apply(model_.RemoveFromList()); });
    connect(ui_->next_1058, &QPushButton::clicked, this, [this] { Apply(model_.Next()); });
    connect(ui_->previous_1059, &QPushButton::clicked, this, [this] { Apply(model_.Previous()); });
    connect(ui_->hide_2, &QPushButton::clicked, this, [this] { Apply(model_.Hide()); });
    connect(ui_->loadImage_1, &QPushButton::clicked, this, [this] { Apply(model_.Enter()); });
    model_.SizeChanged();  // the size it is created with
}

// A resize by the user: Qt lays the window out at once, so it has settled.
void CImagePreviewDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (!isVisible() || !event->spontaneous()) return;
    model_.SizeChanged();
    Apply(model_.SizingEnded());
}

CImagePreviewDlg::~CImagePreviewDlg() = default;

PreviewFrame* CImagePreviewDlg::Frame() const { return ui_->frame_1085; }

void CImagePreviewDlg::Apply(PreviewReply reply) {
    if (reply == PreviewReply::HideWindow) hide();
    else if (reply == PreviewReply::Repaint) ui_->frame_1085->update();
}

void CImagePreviewDlg::PaintFrame(QWidget& frame) {
    const PreviewPicture picture = model_.Paint();
    if (!picture.paint) return;
    QPainter painter(&frame);
    painter.fillRect(ToQRect(picture.frame), ToQColor(picture.fill));
    if (picture.bitmap && !picture.bitmap->Empty()) {
        const Bitmap& b = *picture.bitmap;
        // The bitmap was built once per view; painting only stretches it.
        const QImage image = ToQImage(b);
        if (image.isNull()) {
            QMessageBox::critical(this, "ERROR", "Utility::CreateMemDC CreateCompatibleDC =0");
            return;
        }
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(ToQRect(picture.target), image);
    }
    if (!model_.Caption().empty()) setWindowTitle(QString::fromStdString(model_.Caption()));
}

// Escape hides the window as "Hide" does.
void CImagePreviewDlg::reject() { Apply(model_.Hide()); }

void CImagePreviewDlg::keyPressEvent(QKeyEvent* event) {
    if (event->text() == "%") {
        Apply(model_.Hide());
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        Apply(model_.Enter());
        return;
    }
    QDialog::keyPressEvent(event);
}
