#include "failed_dlg.h"

#include "naming.h"
#include "ui_failed_dlg.h"

#include <QHeaderView>

using tolvane::FileOutcome;

CFailedDlg::CFailedDlg(const std::vector<FileOutcome>& outcomes, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CFailedDlg>()) {
    ui_->setupUi(this);
    QTableWidget* table = ui_->table;
    table->setColumnCount(2);
    table->setHorizontalHeaderLabels({"File", "Reason"});
    for (const FileOutcome& o : outcomes) {
        if (o.status != FileOutcome::Status::Failed) continue;
        const int row = table->rowCount();
        table->insertRow(row);
        table->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(tolvane::FileNamePart(o.source))));
        table->setItem(row, 1, new QTableWidgetItem(QString::fromStdString(o.reason)));
        table->item(row, 0)->setToolTip(QString::fromStdString(o.source));
    }
    table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);
    table->resizeRowsToContents();
}

CFailedDlg::~CFailedDlg() = default;

int CFailedDlg::Rows() const { return ui_->table->rowCount(); }
