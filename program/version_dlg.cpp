#include "version_dlg.h"

#include "app_settings.h"
#include "ui_version_dlg.h"

#include <ORVIX_0500.h>

#include "icons/tolvane.xpm"

CVersionDlg::CVersionDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CVersionDlg>()) {
    ui_->setupUi(this);
    ui_->icon_128->setPixmap(QPixmap(tolvane_xpm));
    ui_->libraryVersion_1068->setText(GetDll_Version());
    ui_->programVersion_1069->setText(tolvane::kProgramVersion);
}

CVersionDlg::~CVersionDlg() = default;
