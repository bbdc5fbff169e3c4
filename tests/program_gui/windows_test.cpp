// The windows as a person uses them: typing, clicking, spinning and waiting
// for the run, on real image files, with the modal boxes closed by the test.
#include "app_settings.h"
#include "controls.h"
#include "failed_dlg.h"
#include "folder_tree_dlg.h"
#include "scale_dlg.h"
#include "version_dlg.h"

#include "program_gui/gui_support.h"

#include <ORVIX_0500.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <functional>
#include <memory>

using namespace tolvane;

namespace {

// A grey 300 dpi TIFF written by the library itself.
bool WriteGreyTiff(const QString& path, uint32_t width, uint32_t height) {
    return gui_support::WriteTiff(path, width, height, 1, [](uint32_t, uint32_t, int) { return uint8_t(128); });
}

// A JPEG signature followed by garbage: its type is known, its header is not.
bool WriteDamagedJpeg(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    f.write(QByteArray("\xFF\xD8\xFF", 3) + QByteArray(500, 'z'));
    return true;
}

// A whole bitmap header and no pixels: listed, then failing when read.
bool WriteHeaderOnlyBmp(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    const uint32_t w = 64, h = 48;
    QByteArray b("BM", 2);
    const auto put = [&b](uint32_t v, int bytes) {
        for (int k = 0; k < bytes; ++k) b.append(char((v >> (8 * k)) & 0xFF));
    };
    put(54 + w * h * 3, 4), put(0, 4), put(54, 4);
    put(40, 4), put(w, 4), put(h, 4), put(1, 2), put(24, 2), put(0, 4), put(0, 4), put(2835, 4), put(2835, 4),
        put(0, 4), put(0, 4);
    return f.write(b) == b.size();
}

QString TextOf(const QWidget* w) {
    if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
    if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
    return "<no text: " + (w ? w->objectName() : QString("missing")) + ">";
}

QString TextOf(const CScaleDlg& d, int id) { return TextOf(d.Control(id)); }

// Each control shows its text; a mismatch names the control.
void ExpectTexts(const CScaleDlg& d, std::initializer_list<std::pair<int, const char*>> texts) {
    for (const auto& [id, text] : texts)
        QVERIFY2(TextOf(d, id) == text,
                 qPrintable(QString("%1 shows \"%2\", not \"%3\"").arg(id).arg(TextOf(d, id), text)));
}

void ExpectShown(const CScaleDlg& d, std::initializer_list<int> ids, bool shown) {
    for (int id : ids)
        QVERIFY2(d.Control(id) && d.Control(id)->isVisible() == shown,
                 qPrintable(QString("%1 should be %2").arg(id).arg(shown ? "shown" : "hidden")));
}

// The dialog shown and active, with paths listed as Select Image would.
std::unique_ptr<CScaleDlg> OpenDialog(const QStringList& paths) {
    auto d = std::make_unique<CScaleDlg>("");
    if (!paths.isEmpty()) d->ListPaths(paths);
    d->show();
    if (!QTest::qWaitForWindowActive(d.get())) qWarning("the dialog never became active");
    return d;
}

// Clicks where the widget reacts: a check box only near its indicator.
using gui_support::ClickOn;

void ClickId(CScaleDlg& d, int id) { ClickOn(d.Control(id)); }

// One arrow ("up" or "down") of an up/down control.
void Spin(CScaleDlg& d, int id, const char* arrow) {
    QVERIFY(d.Control(id));
    ClickOn(d.Control(id)->findChild<QToolButton*>(arrow));
}

// Types over a field's text as a person does, then moves the focus away.
void TypeInto(CScaleDlg& d, int id, const QString& text, bool leave = true) {
    auto* edit = qobject_cast<QLineEdit*>(d.Control(id));
    QVERIFY(edit);
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());
    edit->selectAll();
    QTest::keyClicks(edit, text);
    if (!leave) return;
    d.Control(kSelectImage)->setFocus();
    QTRY_VERIFY(!edit->hasFocus());
}

// Answers the modal windows that open while it lives: records each, lets
// the test act on it, and closes what is still open so no run hangs.
class ModalWatcher {
public:
    explicit ModalWatcher(std::function<void(QWidget*)> act = {}) : act_(std::move(act)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QPointer<QWidget> w = QApplication::activeModalWidget();
            if (!w) return;
            if (auto* box = qobject_cast<QMessageBox*>(w.data()))
                seen << box->windowTitle() + "|" + box->text();
            else
                seen << QString(w->metaObject()->className()) + "|" + w->windowTitle();
            if (act_) act_(w);
            if (w && w->isVisible()) w->close();
        });
        timer_.start(20);
    }
    QStringList seen;

private:
    std::function<void(QWidget*)> act_;
    QTimer timer_;
};

// Opens the tree down to path's folders; the item of path, or null.
QTreeWidgetItem* OpenTreeAt(CFolderTreeCtrl* tree, const QString& path) {
    QTreeWidgetItem* item = tree->topLevelItem(0)->child(0);
    if (!item || item->text(0) != "/") return nullptr;
    item->setExpanded(true);
    for (const QString& part : path.split('/', Qt::SkipEmptyParts)) {
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < item->childCount() && !next; ++i)
            if (item->child(i)->text(0) == part) next = item->child(i);
        if (!next) return nullptr;
        item = next;
        item->setExpanded(true);
    }
    return item;
}

QStringList ChildTexts(const QTreeWidgetItem* item) {
    QStringList texts;
    for (int i = 0; i < item->childCount(); ++i) texts << item->child(i)->text(0);
    return texts;
}

// No two shown controls overlap and no caption is cut, in dialog coordinates.
void CheckLayout(QWidget& dialog, const QString& when) {
    static const QRegularExpression bound("_\\d+$");
    QList<QWidget*> controls;
    for (QWidget* w : dialog.findChildren<QWidget*>())
        if (w->isVisible() && (bound.match(w->objectName()).hasMatch() || w->objectName() == "failedFiles"))
            controls << w;
    QStringList problems;
    for (int i = 0; i < controls.size(); ++i) {
        const QRect a(controls[i]->mapTo(&dialog, QPoint(0, 0)), controls[i]->size());
        for (int j = i + 1; j < controls.size(); ++j) {
            const QRect b(controls[j]->mapTo(&dialog, QPoint(0, 0)), controls[j]->size());
            if (a.intersects(b))
                problems << QString("%1 overlaps %2").arg(controls[i]->objectName(), controls[j]->objectName());
        }
    }
    for (QWidget* w : dialog.findChildren<QWidget*>()) {
        if (!w->isVisible() || !(qobject_cast<QLabel*>(w) || qobject_cast<QCheckBox*>(w) ||
                                 qobject_cast<QPushButton*>(w)))
            continue;
        if (w->sizeHint().width() > w->width())
            problems << QString("%1 \"%2\" needs %3 px, has %4")
                            .arg(w->objectName(), TextOf(w))
                            .arg(w->sizeHint().width())
                            .arg(w->width());
    }
    QVERIFY2(problems.isEmpty(), qPrintable(when + ": " + problems.join("; ")));
}

// The size of an image file as the library reads its header.
QSize ImageSize(const QString& image, const QString& scratch) {
    const QString header = scratch + "/check.hdr";
    QFile::remove(header);
    int w = 0, h = 0;
    if (Make_Local_Header(image.toLocal8Bit().constData(), header.toLocal8Bit().constData()) ||
        Get_Image_Dimension(header.toLocal8Bit().constData(), &w, &h))
        return {};
    return {w, h};
}

// exiv2's command line: tags a file, or prints one tag's value.
QString Exiv2Tool(const QStringList& args) {
    QProcess tool;
    tool.start("/usr/bin/exiv2", args);
    if (!tool.waitForFinished(20000)) return "<exiv2 did not finish>";
    return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
}

// A grey sample of a library-read image file, or -1.
int GreyAt(const QString& image, uint32_t x, uint32_t y) {
    ImgClass img;
    std::strcpy(img.ImgStruct.FileName, image.toLocal8Bit().constData());
    if (ReadImage(false, &img) || x >= img.ImgStruct.Width || y >= img.ImgStruct.Height) return -1;
    return img.ImgStruct.ImgData[size_t{y} * img.ImgStruct.LineSize + x * img.ImgStruct.Samples];
}

}  // namespace

class WindowsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir files_;
    QString photos_;  // a.tif, b.tif, c.tif: 3000 x 2000 grey, 300 dpi
    QString mixed_;   // a.tif and a damaged x.jpg
    QString junk_;    // a file of no image format

private slots:
    void initTestCase() {
        QVERIFY(files_.isValid());
        photos_ = files_.path() + "/photos";
        mixed_ = files_.path() + "/mixed";
        QVERIFY(QDir().mkpath(photos_) && QDir().mkpath(mixed_));
        for (const char* name : {"a.tif", "b.tif", "c.tif"})
            QVERIFY(WriteGreyTiff(photos_ + "/" + name, 3000, 2000));
        QVERIFY(WriteGreyTiff(mixed_ + "/a.tif", 3000, 2000));
        QVERIFY(WriteDamagedJpeg(mixed_ + "/x.jpg"));
        junk_ = files_.path() + "/notes.tif";
        QFile junk(junk_);
        QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write("just some words\n") > 0);
    }

    void openingStateAndVersionBox() {
        const auto dialog = OpenDialog({});
        CScaleDlg& d = *dialog;
        QVERIFY(d.windowTitle().startsWith("Tolvane Version: 2, 6, 7, 1   ORVIX_xxxx.dll version "));
        QVERIFY(d.windowTitle().endsWith(GetDll_Version()));
        ExpectTexts(d, {{kSelectImage, "Select Image"}, {kScale, "100.00"}, {kScaleMode, "Scale Image  % :"},
                        {kOutResLabel, "Res   dpi :"}, {kFormat, "TIFF"}, {kFitSize, "300"},
                        {kFit, "Fit Image to "}, {kLimitMemory, "Limit  Memory Usage"},
                        {kProcessAll, "Process All Files in the List"}, {kCancel, "Cancel"},
                        {kOutSizeLabel, "Image Size inches :"}, {kInResLabel, "Img Res dpi :"}});
        ExpectShown(d, {kQuality, kQualityLabel, kDone, kRemoveFromList, kOk, kWorkPath}, false);
        ExpectShown(d, {kLzw, kLimitMemory, kFormat, kFormatSpin, kProgress}, true);
        for (int id : {kPreviewImage, kPreviewThumbnails, kLzw, kFit, kScaleMode})
            QVERIFY(!qobject_cast<QCheckBox*>(d.Control(id))->isChecked());
        QVERIFY(!d.findChild<QPushButton*>("failedFiles")->isVisible());

        // The Version button opens the version box with both versions.
        QString program, library;
        ModalWatcher watcher([&](QWidget* w) {
            if (!qobject_cast<CVersionDlg*>(w)) return;
            program = TextOf(w->findChild<QWidget*>("programVersion_1069"));
            library = TextOf(w->findChild<QWidget*>("libraryVersion_1068"));
        });
        ClickId(d, kVersion);
        QCOMPARE(watcher.seen, QStringList{"CVersionDlg|Tolvane Version Info"});
        QCOMPARE(program, QString("Tolvane Version: 2, 6, 7, 1"));
        QCOMPARE(library, QString(GetDll_Version()));

        CVersionDlg box;
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        CheckLayout(box, "version box");
    }

    void typedPercentageAndWidthUpdateTheOtherFields() {
        const auto dialog = OpenDialog({photos_ + "/a.tif"});
        CScaleDlg& d = *dialog;
        ExpectTexts(d, {{kInWidth, "3000"}, {kInHeight, "2000"}, {kInRes, " 300.000"}, {kInSizeX, "  10.000"},
                        {kOutRes, " 300.000"}, {kOutWidth, "3000"}});
        ExpectShown(d, {kRemoveFromList}, true);  // an item is selected

        TypeInto(d, kScale, "50");
        ExpectTexts(d, {{kOutWidth, "1500"}, {kOutHeight, "1000"}, {kOutSizeX, "5.00"}, {kOutSizeY, "3.33"},
                        {kUncompressedSize, " 1 Mb"}});

        // A typed width switches to pixels.
        TypeInto(d, kOutWidth, "600");
        QVERIFY(qobject_cast<QCheckBox*>(d.Control(kScaleMode))->isChecked());
        ExpectTexts(d, {{kScaleMode, "Scale Image pixels :"}, {kScale, "600"}, {kOutHeight, "400"},
                        {kOutSizeX, "2.00"}, {kUncompressedSize, " 234 Kb"}});

        // The output resolution acts on every key, before the field is left.
        TypeInto(d, kOutRes, "150", false);
        ExpectTexts(d, {{kOutSizeX, "4.00"}, {kOutSizeY, "2.67"}});

        // A percentage of nothing stands for 100 again.
        ClickId(d, kScaleMode);
        QCOMPARE(TextOf(d, kScaleMode), QString("Scale Image  % :"));
        TypeInto(d, kScale, "0");
        ExpectTexts(d, {{kScale, "100.00"}, {kOutWidth, "3000"}, {kOutHeight, "2000"}});
    }

    void unitAndFormatSpins() {
        const auto dialog = OpenDialog({photos_ + "/a.tif"});
        CScaleDlg& d = *dialog;
        Spin(d, kOutUnitSpin, "up");
        ExpectTexts(d, {{kOutResLabel, "Res lpmm"}, {kOutRes, "  11.811"}, {kOutSizeLabel, "Image Size mm"},
                        {kOutSizeX, "254.00"}});
        Spin(d, kOutUnitSpin, "up");  // either arrow toggles
        ExpectTexts(d, {{kOutResLabel, "Res dpi"}, {kOutRes, "300.00"}, {kOutSizeX, "10.00"}});
        Spin(d, kInUnitSpin, "down");
        ExpectTexts(d, {{kInResLabel, "Res lpmm"}, {kInRes, "  11.811"}, {kInSizeLabel, "Image Size mm"},
                        {kInSizeX, " 254.000"}});

        // Down goes TIFF, JPEG, BMP, PNG, WebP, TIFF; up goes back.
        struct Step { const char* arrow; const char* format; bool tiff, quality; const char* ext; };
        const Step steps[] = {{"down", "JPEG", false, true, ".jpg"}, {"down", "BMP", false, false, ".bmp"},
                              {"down", "PNG", false, false, ".png"}, {"down", "WebP", false, true, ".webp"},
                              {"down", "TIFF", true, false, ".tif"}, {"up", "WebP", false, true, ".webp"},
                              {"up", "PNG", false, false, ".png"}};
        for (const Step& s : steps) {
            Spin(d, kFormatSpin, s.arrow);
            QCOMPARE(TextOf(d, kFormat), QString(s.format));
            ExpectShown(d, {kLzw, kLimitMemory}, s.tiff);
            ExpectShown(d, {kQuality, kQualityLabel}, s.quality);
            ExpectShown(d, {kSmoothResizing, kKeepMetadata}, true);
            QVERIFY2(TextOf(d, kOutputName).endsWith(QString("/A000_a") + s.ext), qPrintable(TextOf(d, kOutputName)));
        }
        QCOMPARE(TextOf(d, kQuality), QString("75"));

        // Smooth Resizing starts checked; a click reaches the model.
        auto* smooth = qobject_cast<QCheckBox*>(d.Control(kSmoothResizing));
        QVERIFY(smooth && smooth->isChecked());
        QCOMPARE(smooth->text(), QString("Smooth Resizing"));
        ClickOn(smooth);
        QVERIFY(!smooth->isChecked());
        QVERIFY(!d.Model().Get(kSmoothResizing).checked);
    }

    void fitModeShowsJpegAndLocksTheSizes() {
        const auto dialog = OpenDialog({photos_ + "/a.tif"});
        CScaleDlg& d = *dialog;
        ClickId(d, kFit);
        QVERIFY(qobject_cast<QCheckBox*>(d.Control(kFit))->isChecked());
        ExpectTexts(d, {{kFormat, "JPEG"}, {kScaleMode, "Scale Image pixels :"}, {kOutWidth, "300"},
                        {kOutHeight, "200"}, {kScale, "300"}});
        ExpectShown(d, {kLzw, kLimitMemory}, false);
        ExpectShown(d, {kQuality, kQualityLabel}, true);
        QVERIFY(TextOf(d, kOutputName).endsWith("/A000_a.jpg"));
        for (int id : {kOutSizeX, kOutSizeY, kOutWidth, kOutHeight, kScale})
            QVERIFY2(!d.Control(id)->isEnabled(), qPrintable(QString::number(id)));
        ClickId(d, kFit);
        for (int id : {kOutSizeX, kOutSizeY, kOutWidth, kOutHeight, kScale})
            QVERIFY2(d.Control(id)->isEnabled(), qPrintable(QString::number(id)));
    }

    void selectImageWithAnUnknownFirstFile() {
        const auto dialog = OpenDialog({});
        CScaleDlg& d = *dialog;
        auto* list = qobject_cast<QListWidget*>(d.Control(kFileList));
        const QString error = "IMG ERROR|\t\tUnknown Image format\t\t\n";
        // A lone unknown file lists nothing; a damaged file is named and
        // left out, the good one beside it listed; a good file is listed.
        const struct { QStringList chosen, seen, listed; } steps[] = {
            {{junk_}, {error + QFileInfo(junk_).fileName()}, {}},
            {{mixed_ + "/x.jpg", mixed_ + "/a.tif"}, {error + "x.jpg"}, {"a.tif"}},
            {{photos_ + "/b.tif"}, {}, {"b.tif"}},
        };
        QStringList folders;
        for (const auto& step : steps) {
            d.SetFileChooser([&](const QString& folder, const QString&) {
                folders << folder;
                return step.chosen;
            });
            ModalWatcher watcher;
            ClickId(d, kSelectImage);
            QCOMPARE(watcher.seen, step.seen);
            QStringList listed;
            for (int i = 0; i < list->count(); ++i) listed << list->item(i)->text();
            QCOMPARE(listed, step.listed);
        }
        QCOMPARE(list->currentRow(), 0);
        ExpectTexts(d, {{kInWidth, "3000"}});
        QCOMPARE(folders.size(), 3);
        QCOMPARE(folders.last(), mixed_);  // the folder chosen from last
    }

    void processAllThenCancelCloses() {
        QTemporaryDir out;
        QVERIFY(out.isValid());
        const auto dialog = OpenDialog({photos_});
        CScaleDlg& d = *dialog;
        d.SetFolderChooser([&](std::string& folder) {
            folder = out.path().toStdString();
            return true;
        });
        QCOMPARE(qobject_cast<QListWidget*>(d.Control(kFileList))->count(), 3);
        ClickId(d, kSelectDestination);
        QCOMPARE(TextOf(d, kOutputName), out.path() + "/A000_a.tif");

        // With a fresh selection the first Cancel only stops.
        ClickId(d, kCancel);
        QVERIFY(d.isVisible());
        QVERIFY(d.Control(kDone)->isVisible());

        TypeInto(d, kScale, "50");
        Spin(d, kFormatSpin, "down");
        QCOMPARE(TextOf(d, kFormat), QString("JPEG"));
        auto* progress = qobject_cast<QProgressBar*>(d.Control(kProgress));
        QList<int> values;
        connect(progress, &QProgressBar::valueChanged, this, [&](int v) { values << v; });
        ClickId(d, kProcessAll);
        QVERIFY(!d.Control(kDone)->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(d.Control(kDone)->isVisible(), 60000);
        QVERIFY2(std::any_of(values.begin(), values.end(), [](int v) { return v > 0; }),
                 "the progress bar never moved");
        for (const char* name : {"A000_a.jpg", "A001_b.jpg", "A002_c.jpg"})
            QCOMPARE(ImageSize(out.path() + "/" + name, out.path()), QSize(1500, 1000));
        QVERIFY(!d.findChild<QPushButton*>("failedFiles")->isVisible());

        // After a run Cancel closes at once.
        ClickId(d, kCancel);
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QVERIFY(d.Model().Closed());
    }

    // Scrolled to the end of 50 files, a click on the top row keeps it in
    // sight, and the top moves up one row from where the user scrolled to.
    void aClickedItemStaysInSightAfterScrolling() {
        QTemporaryDir many;
        QVERIFY(many.isValid());
        for (int i = 0; i < 50; ++i)
            QVERIFY(WriteGreyTiff(many.path() + QString("/f%1.tif").arg(i, 2, 10, QChar('0')), 16, 12));
        const auto dialog = OpenDialog({many.path()});
        auto* list = qobject_cast<QListWidget*>(dialog->Control(kFileList));
        QCOMPARE(list->count(), 50);
        list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
        const int top = list->indexAt(QPoint(1, 1)).row();
        QVERIFY2(top > 1, qPrintable(QString("the end shows from row %1").arg(top)));
        gui_support::ClickAt(list->viewport(), list->visualItemRect(list->item(top)).center());
        QCOMPARE(list->currentRow(), top);
        QVERIFY2(list->viewport()->rect().contains(list->visualItemRect(list->item(top))),
                 qPrintable(QString("row %1 went out of sight; the top is %2").arg(top).arg(list->indexAt(QPoint(1, 1)).row())));
        QCOMPARE(list->indexAt(QPoint(1, 1)).row(), top - 1);
    }

    // Minimised during a run, the dialog comes back after the file.
    void aRunRestoresAMinimisedDialog() {
        QTemporaryDir out;
        QVERIFY(out.isValid());
        const auto dialog = OpenDialog({photos_ + "/a.tif"});
        CScaleDlg& d = *dialog;
        d.Model().SetDestination(out.path().toStdString());
        d.showMinimized();
        QTRY_VERIFY(d.isMinimized());
        d.Model().Click(kProcessAll);  // as a shortcut would: a minimised window takes no click
        QTRY_VERIFY_WITH_TIMEOUT(d.Control(kDone)->isVisible(), 60000);
        QVERIFY(!d.isMinimized());
        QVERIFY(d.isVisible());
        QVERIFY(QFile::exists(out.path() + "/A000_a.tif"));
    }

    // A phone photo stored lying on its side: 60 x 40 rows, Orientation 6,
    // bright only in its stored bottom-left quarter, which is the upright
    // picture's top-left one.
    void sidewaysPhotoComesOutUprightWithItsGpsUnlessUnchecked() {
        QTemporaryDir in, out;
        QVERIFY(in.isValid() && out.isValid());
        const QString photo = in.path() + "/phone.tif";
        QVERIFY(gui_support::WriteTiff(photo, 60, 40, 1, [](uint32_t x, uint32_t y, int) {
            return uint8_t(x < 30 && y >= 20 ? 200 : 50);
        }));
        const QString latitude = "Exif.GPSInfo.GPSLatitude";
        QCOMPARE(Exiv2Tool({"-M", "set Exif.Image.Orientation 6", "-M", "set Exif.GPSInfo.GPSLatitudeRef N",
                            "-M", "set " + latitude + " 52/1 31/1 1234/100", photo}),
                 QString());
        const auto dialog = OpenDialog({photo});
        CScaleDlg& d = *dialog;
        d.Model().SetDestination(out.path().toStdString());
        ExpectTexts(d, {{kInWidth, "40"}, {kInHeight, "60"}});
        auto* keep = qobject_cast<QCheckBox*>(d.Control(kKeepMetadata));
        QVERIFY(keep && keep->isChecked() && keep->isVisible());
        TypeInto(d, kScale, "50");
        ClickId(d, kProcessAll);
        QTRY_VERIFY_WITH_TIMEOUT(d.Control(kDone)->isVisible(), 60000);
        const QString kept = out.path() + "/A000_phone.tif";
        QCOMPARE(ImageSize(kept, out.path()), QSize(20, 30));
        QCOMPARE(GreyAt(kept, 2, 2), 200);
        QCOMPARE(GreyAt(kept, 17, 2), 50);
        QCOMPARE(Exiv2Tool({"-q", "-Pv", "-K", latitude, kept}), QString("52/1 31/1 1234/100"));
        QCOMPARE(Exiv2Tool({"-q", "-Pv", "-K", "Exif.Image.Orientation", kept}), QString("1"));

        ClickOn(keep);
        QVERIFY(!keep->isChecked());
        ClickId(d, kProcessAll);
        QTRY_VERIFY_WITH_TIMEOUT(d.Control(kDone)->isVisible() && d.Model().Outcomes().size() == 1, 60000);
        const QString stripped = out.path() + "/B000_phone.tif";
        QCOMPARE(GreyAt(stripped, 2, 2), 200);
        QCOMPARE(Exiv2Tool({"-q", "-Pv", "-K", latitude, stripped}), QString());
    }

    void failedFilesAfterARunWithADamagedFile() {
        QTemporaryDir out, damaged;
        QVERIFY(out.isValid() && damaged.isValid());
        QVERIFY(WriteGreyTiff(damaged.path() + "/a.tif", 300, 200));
        QVERIFY(WriteHeaderOnlyBmp(damaged.path() + "/x.bmp"));
        const auto dialog = OpenDialog({damaged.path()});
        CScaleDlg& d = *dialog;
        d.resize(d.sizeHint());
        d.Model().SetDestination(out.path().toStdString());
        auto* list = qobject_cast<QListWidget*>(d.Control(kFileList));
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(1)->text(), QString("x.bmp"));
        ClickId(d, kProcessAll);
        QTRY_VERIFY_WITH_TIMEOUT(d.Control(kDone)->isVisible(), 60000);
        QVERIFY(QFile::exists(out.path() + "/A000_a.tif"));
        auto* failed = d.findChild<QPushButton*>("failedFiles");
        QVERIFY(failed->isVisible());
        QCOMPARE(failed->text(), QString("1 failed…"));
        QCOMPARE(CFailedDlg(d.Model().Outcomes()).Rows(), 1);

        int rows = -1;
        ModalWatcher watcher([&](QWidget* w) {
            if (auto* list = qobject_cast<CFailedDlg*>(w)) rows = list->Rows();
        });
        ClickOn(failed);
        QCOMPARE(watcher.seen.size(), 1);
        QCOMPARE(rows, 1);
        CheckLayout(d, "after a run with a failure");
    }

    void folderTreeListsSortedFoldersAndChoosesFullPaths() {
        QTemporaryDir base;
        QVERIFY(base.isValid());
        const QString root = QDir(base.path()).canonicalPath();
        for (const char* folder : {"beta", "Alpha", "gamma/sub", "Delta", ".hidden"})
            QVERIFY(QDir().mkpath(root + "/" + folder));
        QFile only(root + "/Delta/only.txt");
        QVERIFY(only.open(QIODevice::WriteOnly) && only.write("x") == 1);
        only.close();

        {
            CFolderTreeDlg tree;
            tree.show();
            QVERIFY(QTest::qWaitForWindowExposed(&tree));
            QCOMPARE(tree.Tree()->topLevelItem(0)->text(0), QString("MyComputer"));
            QTreeWidgetItem* item = OpenTreeAt(tree.Tree(), root);
            QVERIFY(item);
            QCOMPARE(ChildTexts(item), (QStringList{"Alpha", "beta", "Delta", "gamma"}));
            QCOMPARE(item->child(1)->childCount(), 0);  // empty: no expand button
            QTreeWidgetItem* delta = item->child(2);
            QCOMPARE(ChildTexts(delta), QStringList{"1"});
            delta->setExpanded(true);
            QCOMPARE(delta->childCount(), 0);
            QTreeWidgetItem* gamma = item->child(3);
            gamma->setExpanded(true);
            QCOMPARE(ChildTexts(gamma), QStringList{"sub"});
            tree.Tree()->setCurrentItem(gamma->child(0));
            ClickOn(tree.findChild<QPushButton*>("ok_1076"));
            QVERIFY(tree.Chosen());
            QCOMPARE(QString::fromStdString(tree.ChosenPath()), root + "/gamma/sub");
            QCOMPARE(tree.result(), int(QDialog::Accepted));
        }
        // The menu's Cancel and Exit choose nothing.
        for (const auto& [action, result] : {std::pair{"cancel_32771", QDialog::Rejected},
                                             std::pair{"exit_32772", QDialog::Accepted}}) {
            CFolderTreeDlg tree;
            tree.show();
            QVERIFY(QTest::qWaitForWindowExposed(&tree));
            tree.Tree()->setCurrentItem(OpenTreeAt(tree.Tree(), root));
            QVERIFY(tree.findChild<QAction*>(action));
            tree.findChild<QAction*>(action)->trigger();
            QVERIFY(!tree.Chosen());
            QCOMPARE(tree.result(), int(result));
        }

        // From the main dialog: a double-click on a folder makes it the destination.
        const auto dialog = OpenDialog({photos_ + "/a.tif"});
        CScaleDlg& d = *dialog;
        ModalWatcher watcher([&](QWidget* w) {
            auto* dlg = qobject_cast<CFolderTreeDlg*>(w);
            if (!dlg) return;
            QTreeWidgetItem* alpha = OpenTreeAt(dlg->Tree(), root + "/Alpha");
            if (!alpha) return;
            dlg->Tree()->setCurrentItem(alpha);
            dlg->Tree()->scrollToItem(alpha);
            // A view takes a double-click only on the item its press landed on.
            const QPoint at = dlg->Tree()->visualItemRect(alpha).center();
            gui_support::ClickAt(dlg->Tree()->viewport(), at);
            gui_support::ClickAt(dlg->Tree()->viewport(), at, Qt::LeftButton, true);
        });
        ClickId(d, kSelectDestination);
        QCOMPARE(watcher.seen, QStringList{"CFolderTreeDlg|FTPTREE"});
        QCOMPARE(TextOf(d, kOutputName), root + "/Alpha/A000_a.tif");
    }

    void mainDialogLayoutHasNoOverlapsOrCutTexts() {
        const auto dialog = OpenDialog({photos_});
        CScaleDlg& d = *dialog;
        d.resize(d.sizeHint());
        for (const char* format : {"TIFF", "JPEG", "BMP"}) {
            QCOMPARE(TextOf(d, kFormat), QString(format));
            CheckLayout(d, format);
            if (QTest::currentTestFailed()) return;
            Spin(d, kFormatSpin, "down");
        }
    }
};

int RunPreviewWindowTests(int argc, char** argv);
int RunDialogRuleTests(int argc, char** argv);

int main(int argc, char** argv) {
    // A native modal dialog would wait for a person.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    const WorkingFolder working;
    WindowsTest test;
    return QTest::qExec(&test, argc, argv) | RunPreviewWindowTests(argc, argv) | RunDialogRuleTests(argc, argv);
}

#include "windows_test.moc"
