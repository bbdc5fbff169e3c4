// Takes the README's pictures: the main dialog with sample photos listed
// and a run finished, the folder tree opened down to the photos' folder,
// and the version box. Run under an X server (scripts/screenshots.sh).
#include "app_settings.h"
#include "folder_tree_dlg.h"
#include "scale_dlg.h"
#include "version_dlg.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
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
    return ok ? 0 : 1;
}
