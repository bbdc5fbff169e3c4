// The image preview window: the selected image fitted into a frame, zoomed
// in with a left click and out with a right one. The zoom state, the views
// and the bitmaps are the core's preview model; this window lays the frame
// out, passes on the clicks and keys and paints what the model says.
#pragma once

#include "preview_model.h"

#include <QDialog>
#include <QWidget>

#include <memory>

namespace Ui { class CImagePreviewDlg; }
class CImagePreviewDlg;

// The picture frame: all drawing and clicks happen inside it.
class PreviewFrame : public QWidget {
    Q_OBJECT
public:
    explicit PreviewFrame(QWidget* parent = nullptr);
    void SetOwner(CImagePreviewDlg* owner) { owner_ = owner; }
    QSize sizeHint() const override { return QSize(640, 400); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    CImagePreviewDlg* owner_ = nullptr;
};

class CImagePreviewDlg : public QDialog {
    Q_OBJECT
public:
    CImagePreviewDlg(tolvane::ScaleDialogModel& dialog, QWidget* parent = nullptr);
    ~CImagePreviewDlg() override;

    tolvane::PreviewModel& Model() { return model_; }
    PreviewFrame* Frame() const;
    // Carries out what the model answered to an event.
    void Apply(tolvane::PreviewReply reply);
    // Paints the model's picture into the frame's painter.
    void PaintFrame(QWidget& frame);

public slots:
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::unique_ptr<Ui::CImagePreviewDlg> ui_;
    tolvane::PreviewModel model_;
};
