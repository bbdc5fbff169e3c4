// The auxiliary modeless dialog: OK does nothing, Cancel hides it. While it
// exists, Instance() names it.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui { class CAuxDlg; }

class CAuxDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAuxDlg(QWidget* owner);
    ~CAuxDlg() override;
    static CAuxDlg* Instance() { return instance_; }
    void Disable() { setEnabled(false); }
    void Enable() { setEnabled(true); }

public slots:
    void reject() override { hide(); }

private:
    std::unique_ptr<Ui::CAuxDlg> ui_;
    static CAuxDlg* instance_;
};
