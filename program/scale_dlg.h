// The main dialog: a QDialog that shows the core's model and passes the
// user's edits, clicks, spins, list selections and timer ticks to it. No
// rule of the dialog lives here.
#pragma once

#include "dialog_view.h"
#include "scale_dialog.h"

#include <QDialog>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

class CImagePreviewDlg;
class CThumbnailWnd;
class QListWidget;
class QProgressBar;
class QPushButton;
namespace Ui { class CScaleDlg; }

class CScaleDlg : public QDialog, public tolvane::DialogView {
    Q_OBJECT
public:
    explicit CScaleDlg(const std::string& processorPath, QWidget* parent = nullptr);
    ~CScaleDlg() override;

    tolvane::ScaleDialogModel& Model() { return *model_; }
    // The control with the given id.
    QWidget* Control(int id) const;

    // The open-file and folder dialogs are replaceable, for tests and for
    // a run without native dialogs.
    using FileChooser = std::function<QStringList(const QString& folder, const QString& filter)>;
    using FolderChooser = std::function<bool(std::string& folder)>;
    void SetFileChooser(FileChooser chooser) { fileChooser_ = std::move(chooser); }
    void SetFolderChooser(FolderChooser chooser) { folderChooser_ = std::move(chooser); }

    // The preview and thumbnail windows the model keeps in step.
    void AttachWindows(CImagePreviewDlg* preview, CThumbnailWnd* thumbnails);

    // Lists files as Select Image would: named on the command line or dropped.
    void ListPaths(const QStringList& paths);
    // The open-file dialog's filter in Qt's syntax.
    static QString QtFileFilter();

    // DialogView
    std::vector<std::string> ChooseFiles(const std::string& folder, const std::string& filter) override;
    void ShowMessage(const std::string& text, const std::string& caption) override;
    bool ChooseFolder(std::string& folder) override;
    void StartTimer(int id, int milliseconds) override;
    void StopTimer(int id) override;
    void SetWaitCursor(bool on) override;
    void ControlChanged(int id) override;
    void ListChanged() override;
    void ProgressMoved() override;
    void CloseDialog() override;
    void ShowVersionBox() override;
    void ShowNormal() override;
    void FileFinished(const tolvane::FileOutcome& outcome) override;
    bool PreviewExists() const override { return preview_ != nullptr; }
    bool PreviewVisible() const override;
    void PreviewHide() override;
    void PreviewShowFocused() override;
    void PreviewDismiss() override;
    void PreviewReleaseImage() override;
    void PreviewResetView() override;
    void PreviewRepaint() override;
    void ListTakeFocus() override;
    bool ThumbnailsVisible() const override;
    void ThumbnailsHide() override;
    void ThumbnailsForgetAll() override;
    void ThumbnailsShowAround(int index) override;
    void ThumbnailsSelect(int index) override;

public slots:
    void reject() override;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void BindControls();
    void ShowControl(int id);
    void ShowFailedButton();
    void ShowFailedFiles();
    int TopRow() const;  // the list's row the user sees at the top

    std::unique_ptr<Ui::CScaleDlg> ui_;
    std::unique_ptr<tolvane::ScaleDialogModel> model_;
    std::map<int, QWidget*> controls_;
    QListWidget* list_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* failed_ = nullptr;
    CImagePreviewDlg* preview_ = nullptr;
    CThumbnailWnd* thumbnails_ = nullptr;
    QTimer timer_;
    bool previewPlaced_ = false;  // beside the dialog once; then where the user puts it
    bool thumbnailsPlaced_ = false;
    bool waitCursor_ = false;
    bool closing_ = false;
    bool updating_ = false;  // the model is writing to the widgets
    FileChooser fileChooser_;
    FolderChooser folderChooser_;
};
