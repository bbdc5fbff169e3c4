#include "scale_app.h"

#include "app_settings.h"
#include "aux_dlg.h"
#include "platform.h"
#include "preview_dlg.h"
#include "scale_dlg.h"
#include "thumbnail_wnd.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>

using namespace tolvane;

namespace {

// TOLVANE_TEST_REPORT=<file> is set only by the test that drives the real
// program with xdotool (tests/program_gui/real_window_test.sh): it needs to
// know where to click. Whenever a window is shown, hidden, moved, resized or
// repainted, the file is rewritten with a line per named control, menu item
// and thumbnail cell of each window, in screen pixels:
//   <window> <name> <visible 0|1> <x> <y> <width> <height>
// and the output-name field's text as "text outputName_1011 <text>".
class WindowReport : public QObject {
public:
    WindowReport(QString file, QList<QWidget*> windows) : file_(std::move(file)), windows_(std::move(windows)) {
        for (QWidget* w : windows_) w->installEventFilter(this);
        if (auto* name = windows_.front()->findChild<QLineEdit*>("outputName_1011"))
            connect(name, &QLineEdit::textChanged, this, [this] { Schedule(); });
        Schedule();
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Show: case QEvent::Hide: case QEvent::Move: case QEvent::Resize:
        case QEvent::UpdateRequest: case QEvent::WindowStateChange:
            Schedule();
            break;
        default: break;
        }
        return false;
    }

private:
    void Schedule() {
        if (pending_) return;
        pending_ = true;
        QTimer::singleShot(0, this, [this] { Write(); });
    }

    static QString Line(const QString& window, const QString& name, bool visible, const QRect& r) {
        return QString("%1 %2 %3 %4 %5 %6 %7\n")
            .arg(window, name)
            .arg(int(visible))
            .arg(r.x())
            .arg(r.y())
            .arg(r.width())
            .arg(r.height());
    }

    static QString Describe(QWidget* window) {
        static const QRegularExpression named("_\\d+$|^canvas$");
        const QString id = window->objectName();
        QString text = Line(id, "window", window->isVisible(), window->geometry());
        for (QWidget* w : window->findChildren<QWidget*>())
            if (named.match(w->objectName()).hasMatch())
                text += Line(id, w->objectName(), w->isVisible(), QRect(w->mapToGlobal(QPoint(0, 0)), w->size()));
        for (auto* bar : window->findChildren<QMenuBar*>())
            for (QAction* a : bar->actions())
                text += Line(id, a->objectName(), window->isVisible(),
                             bar->actionGeometry(a).translated(bar->mapToGlobal(QPoint(0, 0))));
        if (auto* thumbnails = qobject_cast<CThumbnailWnd*>(window)) {
            const QPoint origin = thumbnails->Canvas()->mapToGlobal(QPoint(0, 0));
            for (const ThumbnailCell& c : thumbnails->Model().Page().cells)
                text += Line(id, QString("cell%1").arg(c.position), window->isVisible(),
                             QRect(c.cell.left, c.cell.top, c.cell.right - c.cell.left, c.cell.bottom - c.cell.top)
                                 .translated(origin));
        }
        return text;
    }

    void Write() {
        pending_ = false;
        QString text;
        for (QWidget* w : windows_) text += Describe(w);
        if (auto* name = windows_.front()->findChild<QLineEdit*>("outputName_1011"))
            text += "text outputName_1011 " + name->text() + "\n";
        if (text == written_) return;
        QSaveFile file(file_);
        if (!file.open(QIODevice::WriteOnly)) return;
        file.write(text.toUtf8());
        if (file.commit()) written_ = text;
    }

    QString file_;
    QList<QWidget*> windows_;
    QString written_;
    bool pending_ = false;
};

}  // namespace

int CScaleApp::Run(const QStringList& files) {
    // SIGTERM, SIGINT or SIGHUP: every window's loop ends between two library
    // calls, so no output is left half-written, and the working folder goes.
    // Caught from the start; the loop sees a signal that came early.
    platform::CatchInterrupts();
    // The working files go to a folder of the program's own, deleted at the end.
    const WorkingFolder working;
    auto dialog = std::make_unique<CScaleDlg>(ReadProcessorFile(kProcessorFile));
    auto aux = std::make_unique<CAuxDlg>(dialog.get());
    void* library = platform::LoadLibraryByName(kLibraryFile);
    auto thumbnails = std::make_unique<CThumbnailWnd>(*dialog);
    auto preview = std::make_unique<CImagePreviewDlg>(dialog->Model(), dialog.get());
    thumbnails->hide();
    preview->hide();
    dialog->AttachWindows(preview.get(), thumbnails.get());
    if (!files.isEmpty()) dialog->ListPaths(files);
    std::unique_ptr<WindowReport> report;
    if (const QString file = qEnvironmentVariable("TOLVANE_TEST_REPORT"); !file.isEmpty())
        report = std::make_unique<WindowReport>(file, QList<QWidget*>{dialog.get(), thumbnails.get(), preview.get()});
    QSocketNotifier interrupts(platform::InterruptDescriptor(), QSocketNotifier::Read);
    QObject::connect(&interrupts, &QSocketNotifier::activated, [] {
        QCoreApplication::exit(128 + platform::InterruptSignal());
    });
    dialog->exec();
    report.reset();
    dialog->AttachWindows(nullptr, nullptr);
    preview.reset();
    aux.reset();
    thumbnails.reset();
    dialog.reset();
    platform::ReleaseLibrary(library);
    const int signal = platform::InterruptSignal();
    return signal ? 128 + signal : 0;
}
