// The image preview and thumbnail windows, created hidden at start-up. They
// show nothing yet: the main dialog's model keeps them in step through its
// view once they do.
#pragma once

#include <QDialog>
#include <QWidget>

class CImagePreviewDlg : public QDialog {
    Q_OBJECT
public:
    explicit CImagePreviewDlg(QWidget* parent = nullptr) : QDialog(parent) {
        setWindowTitle("Image Preview");
        setModal(false);
    }
};

class CThumbnailWnd : public QWidget {
    Q_OBJECT
public:
    explicit CThumbnailWnd(QWidget* parent = nullptr) : QWidget(parent, Qt::Window) {
        setWindowTitle("Thumbnails");
    }
};
