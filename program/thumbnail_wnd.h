// The thumbnail window: the main dialog's files as a column of small
// pictures with captions, one page at a time, in step with the list. The
// table, pages, hit test and scrolling are the core's thumbnail model; this
// window passes on its size, clicks and scroll bar and paints Page().
#pragma once

#include "thumbnail_model.h"

#include <QWidget>

#include <memory>

namespace Ui { class CThumbnailWnd; }
class CThumbnailWnd;

class ThumbnailCanvas : public QWidget {
    Q_OBJECT
public:
    explicit ThumbnailCanvas(QWidget* parent = nullptr) : QWidget(parent) {}
    void SetOwner(CThumbnailWnd* owner) { owner_ = owner; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    CThumbnailWnd* owner_ = nullptr;
};

class CScaleDlg;

// A window of its own that belongs to the main dialog's family, so the
// dialog's modal run still passes it clicks.
class CThumbnailWnd : public QWidget {
    Q_OBJECT
public:
    explicit CThumbnailWnd(CScaleDlg& dialog);
    ~CThumbnailWnd() override;

    tolvane::ThumbnailModel& Model() { return model_; }
    ThumbnailCanvas* Canvas() const;
    // Shows the page around the selection while "PreviewThumbnails" is
    // ticked; hides the window otherwise.
    void Refresh();
    // Repaints and keeps the scroll bar on the model's position.
    void Redraw();
    void Paint(QWidget& canvas);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::CThumbnailWnd> ui_;
    tolvane::ThumbnailModel model_;
    bool updatingScroll_ = false;
};
