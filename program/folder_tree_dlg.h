// The folder dialog: a tree of the drives and folders under "MyComputer"
// that lists a folder's subfolders when it is expanded, for choosing the
// destination folder.
#pragma once

#include <QDialog>
#include <QTreeWidget>

#include <memory>
#include <string>

namespace Ui { class CFolderTreeDlg; }

class CFolderTreeCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CFolderTreeCtrl(QWidget* parent = nullptr);
    // Rebuilds the tree: the root, its drives, the root expanded.
    void Fill();
    // The full path of an item.
    static std::string PathOf(const QTreeWidgetItem* item);
    // Lists the subfolders of item, each with a placeholder when it holds
    // anything.
    void ListChildren(QTreeWidgetItem* item);

private:
    QTreeWidgetItem* AddChild(QTreeWidgetItem* parent, const std::string& text, const std::string& path);
};

class CFolderTreeDlg : public QDialog {
    Q_OBJECT
public:
    explicit CFolderTreeDlg(QWidget* parent = nullptr);
    ~CFolderTreeDlg() override;

    CFolderTreeCtrl* Tree() const;
    // True when the dialog ended by choosing a folder (OK or double-click).
    bool Chosen() const { return chosen_; }
    const std::string& ChosenPath() const { return path_; }

private:
    void Choose();

    std::unique_ptr<Ui::CFolderTreeDlg> ui_;
    bool chosen_ = false;
    std::string path_;
};
