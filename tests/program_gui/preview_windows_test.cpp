// The preview and thumbnail windows as a person uses them beside the main
// dialog: clicks and the wheel on the picture, a click on a thumbnail and
// the thumbnail menu, on real colour images.
#include "controls.h"
#include "preview_dlg.h"
#include "scale_dlg.h"
#include "thumbnail_wnd.h"

#include <ORVIX_0500.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include "program_gui/gui_support.h"

#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <cstring>
#include <memory>

using namespace tolvane;

namespace {

// A colour TIFF of 50-pixel blocks, each block its own colour, so any zoom
// or shift of the shown part changes the picture.
bool WriteBlockTiff(const QString& path, uint32_t width, uint32_t height) {
    return gui_support::WriteTiff(path, width, height, 3, [](uint32_t x, uint32_t y, int c) {
        const uint32_t bx = x / 50, by = y / 50;
        return uint8_t(c == 0 ? bx * 10 : c == 1 ? by * 15 : 255 - (bx * 7 + by * 11) % 200);
    });
}

using gui_support::ClickOn;

// The main dialog with both windows attached the way the program wires them.
struct Windows {
    std::unique_ptr<CScaleDlg> dialog = std::make_unique<CScaleDlg>("");
    std::unique_ptr<CThumbnailWnd> thumbnails = std::make_unique<CThumbnailWnd>(dialog->Model());
    std::unique_ptr<CImagePreviewDlg> preview = std::make_unique<CImagePreviewDlg>(dialog->Model(), dialog.get());

    explicit Windows(const QStringList& paths) {
        thumbnails->hide();
        preview->hide();
        dialog->AttachWindows(preview.get(), thumbnails.get());
        dialog->ListPaths(paths);
        dialog->show();
        if (!QTest::qWaitForWindowActive(dialog.get())) qWarning("the dialog never became active");
    }
    ~Windows() { dialog->AttachWindows(nullptr, nullptr); }
    QListWidget* List() const { return qobject_cast<QListWidget*>(dialog->Control(kFileList)); }
};

QImage Shown(QWidget* frame) { return frame->grab().toImage().convertToFormat(QImage::Format_RGB32); }

// Every pixel of the frame more than a pixel outside the picture is the
// frame's grey; the first one that is not, described.
QString MarginFault(const QImage& shot, const CRect& picture) {
    const QRect inner = QRect(picture.left, picture.top, picture.right - picture.left,
                              picture.bottom - picture.top).adjusted(-1, -1, 1, 1);
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            if (inner.contains(x, y)) continue;
            const QColor c = shot.pixelColor(x, y);
            if (c != QColor(192, 192, 192))
                return QString("(%1, %2) is %3, %4, %5").arg(x).arg(y).arg(c.red()).arg(c.green()).arg(c.blue());
        }
    return {};
}

}  // namespace

class PreviewWindowsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir files_;
    QString single_;  // one 1200 x 800 colour TIFF
    QString several_;  // a.tif .. d.tif, 600 x 400 colour

private slots:
    void initTestCase() {
        QVERIFY(files_.isValid());
        single_ = files_.path() + "/single";
        several_ = files_.path() + "/several";
        QVERIFY(QDir().mkpath(single_) && QDir().mkpath(several_));
        QVERIFY(WriteBlockTiff(single_ + "/blocks.tif", 1200, 800));
        for (const char* name : {"a.tif", "b.tif", "c.tif", "d.tif"})
            QVERIFY(WriteBlockTiff(several_ + "/" + name, 600, 400));
    }

    void clicksOnThePictureZoomAndTheWheelHides() {
        Windows w({single_ + "/blocks.tif"});
        // Wider than the image's 3:2, so grey bands stay left and right.
        w.preview->resize(900, 420);
        ClickOn(w.dialog->Control(kPreviewImage));
        QVERIFY(w.preview->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(w.preview.get()));
        PreviewFrame* frame = w.preview->Frame();
        QVERIFY(frame->width() * 2 > frame->height() * 3);

        const QImage whole = Shown(frame);
        const CRect wholeRect = w.preview->Model().Displayed();
        QVERIFY2(wholeRect.left > 2, "the whole image leaves no margin");
        QCOMPARE(MarginFault(whole, wholeRect), QString());
        // The picture itself is not the frame's grey.
        const QPoint middle = frame->rect().center();
        QVERIFY(whole.pixelColor(middle) != QColor(192, 192, 192));
        QVERIFY(w.preview->windowTitle().contains("blocks.tif"));

        gui_support::ClickAt(frame, middle);
        const QImage in = Shown(frame);
        QVERIFY2(in != whole, "a left click left the picture as it was");
        QCOMPARE(MarginFault(in, w.preview->Model().Displayed()), QString());

        gui_support::ClickAt(frame, middle, Qt::RightButton);
        const QImage out = Shown(frame);
        QVERIFY2(out != in, "a right click left the zoomed picture as it was");
        QCOMPARE(MarginFault(out, w.preview->Model().Displayed()), QString());

        QWheelEvent wheel(QPointF(middle), frame->mapToGlobal(QPointF(middle)), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(frame, &wheel);
        QVERIFY(!w.preview->isVisible());
        QVERIFY(w.dialog->isVisible());
    }

    void thirdThumbnailSelectsTheThirdItemAndDeleteRemovesIt() {
        Windows w({several_});
        QListWidget* list = w.List();
        QCOMPARE(list->count(), 4);
        ClickOn(w.dialog->Control(kPreviewThumbnails));
        QVERIFY(w.thumbnails->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(w.thumbnails.get()));
        QCOMPARE(w.dialog->Model().List().Selected(), 0);

        const ThumbnailPage page = w.thumbnails->Model().Page();
        QVERIFY2(page.cells.size() >= 3, qPrintable(QString("%1 cells shown").arg(page.cells.size())));
        const ThumbnailCell& third = page.cells[2];
        QCOMPARE(third.position, 2);
        QVERIFY(third.bitmap);  // a picture was made for it
        const QPoint at((third.cell.left + third.cell.right) / 2, (third.cell.top + third.cell.bottom) / 2);
        QVERIFY2(w.thumbnails->Canvas()->rect().contains(at), "the third cell is off the canvas");
        gui_support::ClickAt(w.thumbnails->Canvas(), at);
        QCOMPARE(w.dialog->Model().List().Selected(), 2);
        QCOMPARE(list->currentRow(), 2);
        QCOMPARE(list->currentItem()->text(), QString("c.tif"));
        QVERIFY(w.thumbnails->Model().SelectedFlag(2));

        QAction* remove = w.thumbnails->findChild<QAction*>("deleteFromList_32815");
        QVERIFY(remove);
        remove->trigger();
        QCOMPARE(w.dialog->Model().List().Count(), 3);
        QStringList left;
        for (int i = 0; i < list->count(); ++i) left << list->item(i)->text();
        QCOMPARE(left, (QStringList{"a.tif", "b.tif", "d.tif"}));
        // The column follows: three cells, none of them the deleted file.
        const ThumbnailPage after = w.thumbnails->Model().Page();
        QCOMPARE(int(after.cells.size()), 3);
        for (const ThumbnailCell& c : after.cells) QVERIFY(c.name != "c.tif");
    }
};

// Run by the gui_tests main after its own test class.
int RunPreviewWindowTests(int argc, char** argv) {
    PreviewWindowsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "preview_windows_test.moc"
