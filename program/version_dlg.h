// The version box: the program's and the library's version texts.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui { class CVersionDlg; }

class CVersionDlg : public QDialog {
    Q_OBJECT
public:
    explicit CVersionDlg(QWidget* parent = nullptr);
    ~CVersionDlg() override;

private:
    std::unique_ptr<Ui::CVersionDlg> ui_;
};
