// Takes the README's pictures: the main dialog with sample photos listed
// and a run finished, the folder tree opened down to the photos' folder,
// and the version box. Run under an X server (scripts/screenshots.sh).
#include "app_settings.h"
#include "folder_tree_dlg.h"
#include "preview_dlg.h"
#include "scale_dlg.h"
#include "thumbnail_wnd.h"
#include "version_dlg.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QTreeWidgetItem>

#include <clocale>
#include <cstdio>

namespace {
// Lets the event loop run: timers fire, windows are laid out and painted.
void Pump(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool Save(QWidget& w, const QString& path) {
    w.show();
    w.raise();
    Pump(400);
    const bool ok = w.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

// Two windows side by side in one picture.
bool SaveSideBySide(QWidget& left, QWidget& right, const QString& path) {
    left.show();
    right.show();
    Pump(400);
    const QPixmap a = left.grab(), b = right.grab();
    QImage both(a.width() + b.width() + 12, std::max(a.height(), b.height()), QImage::Format_RGB32);
    both.fill(QColor(64, 64, 64));
    QPainter painter(&both);
    painter.drawPixmap(0, 0, a);
    painter.drawPixmap(a.width() + 12, 0, b);
    painter.end();
    const bool ok = both.save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

// Expands the tree along path's folders and selects the last one.
void OpenTreeAt(CFolderTreeCtrl* tree, const QString& path) {
    QTreeWidgetItem* item = tree->topLevelItem(0)->child(0);  // the root drive
    item->setExpanded(true);
    for (const QString& part : path.split('/', Qt::SkipEmptyParts)) {
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < item->childCount() && !next; ++i)
            if (item->child(i)->text(0) == part) next = item->child(i);
        if (!next) break;
        item = next;
        item->setExpanded(true);
    }
    tree->setCurrentItem(item);
}
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    if (argc != 4) {
        std::fprintf(stderr, "usage: tolvane_screenshots PHOTOS OUTPUTS PICTURES\n");
        return 2;
    }
    const QString photos = QDir(argv[1]).absolutePath();
    const QString outputs = QDir(argv[2]).absolutePath();
    const QString pictures = argv[3];
    const tolvane::WorkingFolder working;

    CScaleDlg dialog(tolvane::ReadProcessorFile(tolvane::kProcessorFile));
    CImagePreviewDlg preview(dialog.Model(), &dialog);
    CThumbnailWnd thumbnails(dialog);
    dialog.AttachWindows(&preview, &thumbnails);
    dialog.Model().SetDestination(outputs.toStdString());
    dialog.ListPaths({photos});
    dialog.Model().SetText(tolvane::kScale, "50");
    dialog.Model().FieldLeft(tolvane::kScale);
    dialog.show();
    dialog.Model().Click(tolvane::kProcessAll);
    QElapsedTimer clock;
    clock.start();
    while (!dialog.Model().Get(tolvane::kDone).visible && clock.elapsed() < 120000) Pump(50);
    bool ok = Save(dialog, pictures + "/main_dialog.png");

    CFolderTreeDlg tree(&dialog);
    tree.resize(tree.minimumSize().expandedTo(QSize(360, 420)));
    OpenTreeAt(tree.Tree(), photos);
    ok = Save(tree, pictures + "/folder_tree.png") && ok;
    tree.hide();

    CVersionDlg version(&dialog);
    ok = Save(version, pictures + "/version_box.png") && ok;
    version.hide();

    // The preview zoomed in twice around the picture's centre.
    dialog.Model().SelectListItem(0);
    dialog.Model().Click(tolvane::kPreviewImage);
    clock.restart();
    while (preview.Model().WholeBitmap().Empty() && clock.elapsed() < 30000) Pump(50);
    for (int click = 0; click < 2; ++click) {
        const CRect shown = preview.Model().Displayed();
        preview.Apply(preview.Model().LeftRelease((shown.left + shown.right) / 2, (shown.top + shown.bottom) / 2));
        Pump(200);
    }
    ok = Save(preview, pictures + "/preview_zoomed.png") && ok;
    dialog.Model().Click(tolvane::kPreviewImage);

    // The thumbnail column beside the main dialog.
    dialog.Model().Click(tolvane::kPreviewThumbnails);
    ok = SaveSideBySide(thumbnails, dialog, pictures + "/thumbnails.png") && ok;
    dialog.AttachWindows(nullptr, nullptr);
    return ok ? 0 : 1;
}
