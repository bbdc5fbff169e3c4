#include "scale_dlg.h"

#include "app_settings.h"
#include "failed_dlg.h"
#include "folder_tree_dlg.h"
#include "preview_dlg.h"
#include "selection.h"
#include "thumbnail_wnd.h"
#include "ui_scale_dlg.h"
#include "version_dlg.h"
#include "widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>

#include "icons/tolvane.xpm"

using namespace tolvane;

namespace {
std::vector<std::string> ToStrings(const QStringList& list) {
    std::vector<std::string> out;
    for (const QString& s : list) out.push_back(s.toStdString());
    return out;
}
}  // namespace

CScaleDlg::CScaleDlg(const std::string& processorPath, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CScaleDlg>()) {
    ui_->setupUi(this);
    setWindowIcon(QIcon(QPixmap(tolvane_xpm)));
    setWindowTitle(QString::fromStdString(DialogTitle()));
    setAcceptDrops(true);
    model_ = std::make_unique<ScaleDialogModel>(*this, processorPath);
    BindControls();
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { model_->TimerTick(ScaleDialogModel::kTimerId); });
    for (const auto& [id, widget] : controls_) ShowControl(id);
    ListChanged();
    ShowFailedButton();
    model_->InstallProgress();
}

CScaleDlg::~CScaleDlg() {
    if (waitCursor_) QApplication::restoreOverrideCursor();
}

QWidget* CScaleDlg::Control(int id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

// Every widget named "..._ID" is the control ID; its signals reach the model.
void CScaleDlg::BindControls() {
    static const QRegularExpression named("_(\\d+)$");
    for (QWidget* w : findChildren<QWidget*>()) {
        const QRegularExpressionMatch m = named.match(w->objectName());
        if (!m.hasMatch()) continue;
        const int id = m.captured(1).toInt();
        controls_[id] = w;
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);  // the layout stays put as fields come and go
        w->setSizePolicy(policy);
        if (auto* edit = qobject_cast<FieldEdit*>(w)) {
            connect(edit, &QLineEdit::textEdited, this,
                    [this, id](const QString& text) { model_->SetText(id, text.toStdString()); });
            connect(edit, &FieldEdit::left, this, [this, id] {
                if (!updating_) model_->FieldLeft(id);
            });
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            connect(button, &QAbstractButton::clicked, this, [this, id] { model_->Click(id); });
        } else if (auto* spin = qobject_cast<UpDownControl*>(w)) {
            connect(spin, &UpDownControl::delta, this, [this, id](int d) { model_->SpinDelta(id, d); });
        }
    }
    list_ = ui_->fileList_1053;
    progress_ = ui_->progress_1042;
    failed_ = ui_->failedFiles;
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!updating_) model_->SelectListItem(row);
    });
    connect(list_, &QListWidget::itemDoubleClicked, this, [this] { model_->ListDoubleClicked(); });
    connect(list_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (!updating_) model_->ListScrolled(TopRow());
    });
    connect(failed_, &QPushButton::clicked, this, &CScaleDlg::ShowFailedFiles);
}

void CScaleDlg::ShowControl(int id) {
    QWidget* w = Control(id);
    if (!w || id == kFileList || id == kProgress) return;
    const tolvane::Control& c = model_->Get(id);
    const QString text = QString::fromStdString(c.text);
    updating_ = true;
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        if (edit->text() != text) edit->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(text);
        if (button->isCheckable()) button->setChecked(c.checked);
    }
    w->setEnabled(c.enabled);
    w->setVisible(c.visible);
    updating_ = false;
}

void CScaleDlg::ControlChanged(int id) {
    ShowControl(id);
    if (id == kDone) ShowFailedButton();
}

void CScaleDlg::ListChanged() {
    const FileList& files = model_->List();
    updating_ = true;
    if (list_->count() != files.Count() || [&] {
            for (int i = 0; i < files.Count(); ++i)
                if (list_->item(i)->text().toStdString() != files.Text(i)) return true;
            return false;
        }()) {
        list_->clear();
        for (const std::string& name : files.Items()) list_->addItem(QString::fromStdString(name));
    }
    list_->setCurrentRow(files.Selected());
    // The model's top row follows the user's scrolling and moves by one as
    // the selection nears an edge; the selection always stays in sight.
    if (files.Count() > 0 && files.Top() != TopRow())
        list_->scrollToItem(list_->item(files.Top()), QAbstractItemView::PositionAtTop);
    if (list_->currentItem()) list_->scrollToItem(list_->currentItem(), QAbstractItemView::EnsureVisible);
    updating_ = false;
    if (files.Count() > 0 && files.Top() != TopRow()) model_->ListScrolled(TopRow());
}

int CScaleDlg::TopRow() const { return std::max(list_->indexAt(QPoint(1, 1)).row(), 0); }

void CScaleDlg::ProgressMoved() {
    const int range = std::max(model_->ProgressRange(), 1);
    const int value = std::clamp(model_->ProgressPosition(), 0, range);
    // The library reports every line; a repaint per visible step is enough.
    const bool step = std::abs(value - progress_->value()) * 300 >= range || value == 0 || value == range;
    if (range == progress_->maximum() && (value == progress_->value() || !step)) return;
    progress_->setRange(0, range);
    progress_->setValue(value);
    progress_->repaint();  // during a blocking library call, now
}

void CScaleDlg::SetWaitCursor(bool on) {
    if (on == waitCursor_) return;
    waitCursor_ = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void CScaleDlg::StartTimer(int, int milliseconds) { timer_.start(milliseconds); }
void CScaleDlg::StopTimer(int) { timer_.stop(); }

QString CScaleDlg::QtFileFilter() {
    QStringList entries;
    for (const FileFilter& f : ParseFileFilter(ScaleDialogModel::kFileFilter)) {
        QString label = QString::fromStdString(f.label);
        label = label.left(label.indexOf('(')).trimmed();
        QStringList patterns;
        for (const std::string& p : f.patterns) patterns << QString::fromStdString(p);
        entries << label + " (" + patterns.join(' ') + ")";
    }
    return entries.join(";;");
}

std::vector<std::string> CScaleDlg::ChooseFiles(const std::string& folder, const std::string&) {
    const QString start = QString::fromStdString(folder);
    const QStringList paths = fileChooser_
        ? fileChooser_(start, QtFileFilter())
        : QFileDialog::getOpenFileNames(this, "Select Image", start, QtFileFilter());
    if (paths.isEmpty()) return {};
    std::string error;
    return SelectionFor(ToStrings(paths), error);
}

void CScaleDlg::ListPaths(const QStringList& paths) {
    std::string error;
    const std::vector<std::string> selection = SelectionFor(ToStrings(paths), error);
    if (!selection.empty()) model_->ListFiles(selection);
}

void CScaleDlg::ShowMessage(const std::string& text, const std::string& caption) {
    QMessageBox box(QMessageBox::Warning, QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Ok, this);
    box.setObjectName("message");
    box.exec();
}

bool CScaleDlg::ChooseFolder(std::string& folder) {
    if (folderChooser_) return folderChooser_(folder);
    CFolderTreeDlg tree(this);
    if (tree.exec() != QDialog::Accepted || !tree.Chosen()) return false;
    folder = tree.ChosenPath();
    return true;
}

void CScaleDlg::ShowVersionBox() {
    CVersionDlg box(this);
    box.exec();
}

// After each file of a run: a minimised dialog comes back to show it.
void CScaleDlg::ShowNormal() {
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
}

void CScaleDlg::FileFinished(const FileOutcome&) { ShowFailedButton(); }

void CScaleDlg::ShowFailedButton() {
    const QString text = QString::fromStdString(model_->TroubleButtonText());
    failed_->setText(text);
    failed_->setVisible(!text.isEmpty() && model_->Get(kDone).visible);
}

void CScaleDlg::ShowFailedFiles() {
    CFailedDlg list(model_->Outcomes(), this);
    list.exec();
}

void CScaleDlg::CloseDialog() {
    closing_ = true;
    QDialog::reject();
}

// Escape and the window's close button are the Cancel button.
void CScaleDlg::reject() {
    if (closing_)
        QDialog::reject();
    else
        model_->Click(kCancel);
}

void CScaleDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction("&About Tolvane...", this, [this] { ShowVersionBox(); });
    menu.exec(event->globalPos());
}

// A run reads the list between its files: no drop replaces it meanwhile.
void CScaleDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && !model_->Running()) event->acceptProposedAction();
}

void CScaleDlg::dropEvent(QDropEvent* event) {
    if (model_->Running()) {
        event->ignore();
        return;
    }
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    if (paths.isEmpty()) return;
    event->acceptProposedAction();
    ListPaths(paths);
}

void CScaleDlg::mouseReleaseEvent(QMouseEvent* event) {
    QDialog::mouseReleaseEvent(event);
    if (PreviewExists()) setFocus();
}

// ---- The preview and thumbnail windows ----------------------------------------------------

void CScaleDlg::AttachWindows(CImagePreviewDlg* preview, CThumbnailWnd* thumbnails) {
    preview_ = preview;
    thumbnails_ = thumbnails;
}

bool CScaleDlg::PreviewVisible() const { return preview_ && preview_->isVisible(); }

void CScaleDlg::PreviewHide() {
    if (preview_) preview_->hide();
}

void CScaleDlg::PreviewShowFocused() {
    if (!preview_) return;
    if (!previewPlaced_ && !preview_->isVisible()) {
        PlaceBeside(*preview_, *this, true, true);
        previewPlaced_ = true;
    }
    preview_->show();
    preview_->raise();
    preview_->activateWindow();
}

void CScaleDlg::PreviewDismiss() {
    if (preview_) preview_->Apply(preview_->Model().Hide());
}

void CScaleDlg::PreviewReleaseImage() {
    if (preview_) preview_->Model().ReleaseImage();
}

void CScaleDlg::PreviewResetView() {
    if (preview_) preview_->Model().ResetView();
}

void CScaleDlg::PreviewRepaint() {
    if (preview_) preview_->Frame()->update();
}

void CScaleDlg::ListTakeFocus() { list_->setFocus(); }

bool CScaleDlg::ThumbnailsVisible() const { return thumbnails_ && thumbnails_->isVisible(); }

void CScaleDlg::ThumbnailsHide() {
    if (!thumbnails_) return;
    thumbnails_->Model().Deactivate();
    thumbnails_->hide();
}

void CScaleDlg::ThumbnailsForgetAll() {
    if (thumbnails_) thumbnails_->Model().Forget();
}

void CScaleDlg::ThumbnailsShowAround(int) {
    if (!thumbnails_) return;
    // Opposite the preview, which opens on the right where there is room.
    if (!thumbnailsPlaced_ && !thumbnails_->isVisible() && model_->Get(kPreviewThumbnails).checked) {
        PlaceBeside(*thumbnails_, *this, false, false);
        thumbnailsPlaced_ = true;
    }
    thumbnails_->Refresh();
}

void CScaleDlg::ThumbnailsSelect(int index) {
    if (thumbnails_) thumbnails_->Model().Select(index);
}
