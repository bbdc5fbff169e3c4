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
#include <QMenuBar>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
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
    std::unique_ptr<CThumbnailWnd> thumbnails = std::make_unique<CThumbnailWnd>(*dialog);
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

// Drags paths over the widget and drops them: "dropped", or which step
// refused them.
QString Drop(QWidget* target, const QStringList& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
    data.setUrls(urls);
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return "drag refused";
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted() ? "dropped" : "drop refused";
}

QStringList Captions(CThumbnailWnd& thumbnails) {
    QStringList captions;
    for (const ThumbnailCell& c : thumbnails.Model().Page().cells)
        captions << QString::fromStdString(c.caption) + (c.bitmap ? "" : " (no picture)");
    return captions;
}

}  // namespace

class PreviewWindowsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir files_;
    QString single_;  // one 1200 x 800 colour TIFF
    QString several_;  // a.tif .. d.tif, 600 x 400 colour
    QString others_;   // a.tif .. c.tif again, 200 x 300

private slots:
    void initTestCase() {
        QVERIFY(files_.isValid());
        single_ = files_.path() + "/single";
        several_ = files_.path() + "/several";
        QVERIFY(QDir().mkpath(single_) && QDir().mkpath(several_));
        QVERIFY(WriteBlockTiff(single_ + "/blocks.tif", 1200, 800));
        for (const char* name : {"a.tif", "b.tif", "c.tif", "d.tif"})
            QVERIFY(WriteBlockTiff(several_ + "/" + name, 600, 400));
        others_ = files_.path() + "/others";
        QVERIFY(QDir().mkpath(others_));
        for (const char* name : {"a.tif", "b.tif", "c.tif"}) QVERIFY(WriteBlockTiff(others_ + "/" + name, 200, 300));
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

    // A dropped folder of the same names shows its own thumbnails; while
    // its run goes on, drops and the list's buttons are refused.
    void aDropListsItsOwnThumbnailsExceptDuringARun() {
        QTemporaryDir out;
        QVERIFY(out.isValid());
        Windows w({several_});
        ClickOn(w.dialog->Control(kPreviewThumbnails));
        QCOMPARE(Captions(*w.thumbnails).first(), QString("1  600 x 400"));
        QCOMPARE(Drop(w.dialog.get(), {others_}), QString("dropped"));
        QCOMPARE(w.List()->count(), 3);
        ClickOn(w.dialog->Control(kPreviewThumbnails));
        QVERIFY(w.thumbnails->isVisible());
        QCOMPARE(Captions(*w.thumbnails), (QStringList{"1  200 x 300", "2  200 x 300", "3  200 x 300"}));

        w.dialog->Model().SetDestination(out.path().toStdString());
        ClickOn(w.dialog->Control(kProcessAll));
        QVERIFY(w.dialog->Model().Running());
        for (int id : {kProcessAll, kSelectImage, kRemoveFromList})
            QVERIFY2(!w.dialog->Control(id)->isEnabled(), qPrintable(QString("%1 is enabled in a run").arg(id)));
        QCOMPARE(Drop(w.dialog.get(), {several_}), QString("drag refused"));
        QCOMPARE(w.List()->count(), 3);
        QTRY_VERIFY_WITH_TIMEOUT(w.dialog->Control(kDone)->isVisible(), 60000);
        QVERIFY(w.dialog->Control(kProcessAll)->isEnabled());
        QCOMPARE(QDir(out.path()).entryList(QDir::Files).size(), 3);
    }

    // The program runs the dialog modally; the thumbnail window still takes
    // a click on a picture and on its Cancel menu through the window system.
    void thumbnailWindowTakesClicksWhileTheDialogIsModal() {
        Windows w({several_});
        w.dialog->hide();  // exec shows it modal
        int selected = -1;
        bool hiddenByCancel = false;
        QTimer::singleShot(0, w.dialog.get(), [&] {
            ClickOn(w.dialog->Control(kPreviewThumbnails));
            if (QTest::qWaitForWindowExposed(w.thumbnails.get())) {
                const ThumbnailPage page = w.thumbnails->Model().Page();
                if (page.cells.size() >= 3) {
                    const CRect& c = page.cells[2].cell;
                    gui_support::ClickAt(w.thumbnails->Canvas(), QPoint((c.left + c.right) / 2, (c.top + c.bottom) / 2));
                    selected = w.List()->currentRow();
                }
                auto* bar = w.thumbnails->findChild<QMenuBar*>();
                auto* cancel = w.thumbnails->findChild<QAction*>("cancel_32806");
                if (bar && cancel) gui_support::ClickAt(bar, bar->actionGeometry(cancel).center());
                hiddenByCancel = !w.thumbnails->isVisible();
            }
            w.dialog->done(QDialog::Rejected);
        });
        w.dialog->exec();
        QCOMPARE(selected, 2);
        QVERIFY2(hiddenByCancel, "the Cancel menu left the thumbnail window shown");
    }
};

// Run by the gui_tests main after its own test class.
int RunPreviewWindowTests(int argc, char** argv) {
    PreviewWindowsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "preview_windows_test.moc"
