// The files of the last run that were not converted, each with its reason,
// and those converted from a damaged source, with the reader's warning.
#pragma once

#include "dialog_view.h"

#include <QDialog>

#include <memory>
#include <vector>

namespace Ui { class CFailedDlg; }

class CFailedDlg : public QDialog {
    Q_OBJECT
public:
    CFailedDlg(const std::vector<tolvane::FileOutcome>& outcomes, QWidget* parent = nullptr);
    ~CFailedDlg() override;
    int Rows() const;

private:
    std::unique_ptr<Ui::CFailedDlg> ui_;
};
