#include "aux_dlg.h"

#include "ui_aux_dlg.h"

CAuxDlg* CAuxDlg::instance_ = nullptr;

CAuxDlg::CAuxDlg(QWidget* owner) : QDialog(owner), ui_(std::make_unique<Ui::CAuxDlg>()) {
    ui_->setupUi(this);
    setModal(false);
    connect(ui_->cancel_2, &QPushButton::clicked, this, &CAuxDlg::reject);
    instance_ = this;
}

CAuxDlg::~CAuxDlg() {
    if (instance_ == this) instance_ = nullptr;
}
