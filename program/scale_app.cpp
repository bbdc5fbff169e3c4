#include "scale_app.h"

#include "app_settings.h"
#include "aux_dlg.h"
#include "platform.h"
#include "preview_dlg.h"
#include "scale_dlg.h"
#include "thumbnail_wnd.h"
#include "window_report.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <memory>

using namespace tolvane;

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
    auto report = WindowReport::FromEnvironment({dialog.get(), thumbnails.get(), preview.get()});
    QSocketNotifier interrupts(platform::InterruptDescriptor(), QSocketNotifier::Read);
    QObject::connect(&interrupts, &QSocketNotifier::activated, [] {
        QCoreApplication::exit(128 + platform::InterruptSignal());
    });
    dialog->exec();
    report.reset();  // before the windows it watches
    dialog->AttachWindows(nullptr, nullptr);
    preview.reset();
    aux.reset();
    thumbnails.reset();
    dialog.reset();
    platform::ReleaseLibrary(library);
    const int signal = platform::InterruptSignal();
    return signal ? 128 + signal : 0;
}
