#include "folder_tree_dlg.h"

#include "folder_tree.h"
#include "ui_folder_tree_dlg.h"

#include <QApplication>
#include <QMenuBar>

#include "icons/computer.xpm"
#include "icons/drive.xpm"
#include "icons/folder.xpm"
#include "icons/folder_open.xpm"
#include "icons/tolvane.xpm"

using namespace tolvane;

CFolderTreeCtrl::CFolderTreeCtrl(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setRootIsDecorated(true);
    setIconSize(QSize(16, 15));
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
        ListChildren(item);
        if (item->parent()) item->setIcon(0, QIcon(QPixmap(folder_open_xpm)));
    });
    connect(this, &QTreeWidget::itemCollapsed, this, [](QTreeWidgetItem* item) {
        if (item->parent() && item->parent()->parent()) item->setIcon(0, QIcon(QPixmap(folder_xpm)));
    });
}

void CFolderTreeCtrl::Fill() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    clear();
    auto* root = new QTreeWidgetItem(this, QStringList(kTreeRoot));
    root->setIcon(0, QIcon(QPixmap(computer_xpm)));
    for (const std::string& drive : DriveList()) {
        QTreeWidgetItem* item = AddChild(root, drive, drive);
        item->setIcon(0, QIcon(QPixmap(drive_xpm)));
    }
    root->setExpanded(true);
    QApplication::restoreOverrideCursor();
}

QTreeWidgetItem* CFolderTreeCtrl::AddChild(QTreeWidgetItem* parent, const std::string& text,
                                           const std::string& path) {
    auto* item = new QTreeWidgetItem(parent, QStringList(QString::fromStdString(text)));
    item->setIcon(0, QIcon(QPixmap(folder_xpm)));
    // A placeholder child gives the item its expand button until it is listed.
    if (HasEntries(path)) new QTreeWidgetItem(item, QStringList(kPlaceholder));
    return item;
}

std::string CFolderTreeCtrl::PathOf(const QTreeWidgetItem* item) {
    std::vector<std::string> texts;
    for (; item && item->parent(); item = item->parent())
        texts.insert(texts.begin(), item->text(0).toStdString());
    return TreePath(texts);
}

void CFolderTreeCtrl::ListChildren(QTreeWidgetItem* item) {
    if (!item->parent()) return;  // the root lists the drives once, when filled
    const std::string path = PathOf(item);
    qDeleteAll(item->takeChildren());
    for (const std::string& name : SubFolders(path)) AddChild(item, name, TreePath({path, name}));
}

CFolderTreeDlg::CFolderTreeDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CFolderTreeDlg>()) {
    ui_->setupUi(this);
    setWindowIcon(QIcon(QPixmap(tolvane_xpm)));
    ui_->menuBar_145->addAction("Cancel", this, &QDialog::reject)->setObjectName("cancel_32771");
    ui_->menuBar_145->addAction("Exit", this, &QDialog::accept)->setObjectName("exit_32772");
    connect(ui_->ok_1076, &QPushButton::clicked, this, &CFolderTreeDlg::Choose);
    connect(ui_->tree_1001, &QTreeWidget::itemDoubleClicked, this, &CFolderTreeDlg::Choose);
    ui_->tree_1001->Fill();
    // The opening size is the smallest the dialog takes.
    adjustSize();
    setMinimumSize(size());
}

CFolderTreeDlg::~CFolderTreeDlg() = default;

CFolderTreeCtrl* CFolderTreeDlg::Tree() const { return ui_->tree_1001; }

void CFolderTreeDlg::Choose() {
    const QTreeWidgetItem* item = ui_->tree_1001->currentItem();
    // The root is no folder: choosing it changes nothing.
    if (!item || !item->parent()) return;
    path_ = CFolderTreeCtrl::PathOf(item);
    chosen_ = true;
    accept();
}
