#include "failed_dlg.h"

#include "naming.h"
#include "scale_dialog.h"
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
        const std::string trouble = tolvane::ScaleDialogModel::TroubleOf(o);
        if (trouble.empty()) continue;
        const int row = table->rowCount();
        table->insertRow(row);
        table->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(tolvane::FileNamePart(o.source))));
        table->setItem(row, 1, new QTableWidgetItem(QString::fromStdString(trouble)));
        table->item(row, 0)->setToolTip(QString::fromStdString(o.source));
        table->item(row, 1)->setToolTip(QString::fromStdString(trouble));
    }
    QHeaderView* header = table->horizontalHeader();
    header->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    header->setStretchLastSection(true);
    // Long reasons wrap: the rows follow their text as the window or a column
    // changes, measured once the new widths are laid out.
    table->resizeRowsToContents();
    connect(header, &QHeaderView::sectionResized, table, &QTableWidget::resizeRowsToContents,
            Qt::QueuedConnection);
    // Wide enough for a usual reason on a line or two, in the font's own units.
    resize(fontMetrics().averageCharWidth() * 110, sizeHint().height());
}

CFailedDlg::~CFailedDlg() = default;

int CFailedDlg::Rows() const { return ui_->table->rowCount(); }
