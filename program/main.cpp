// Tolvane: the batch resizer. With "--batch" the headless batch runs; else
// the main dialog opens, with the files named on the command line listed.
#include "batch_cli.h"
#include "platform.h"
#include "scale_app.h"

#include <QApplication>

#include <clocale>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--batch") {
        const int status = tolvane::RunBatch(std::vector<std::string>(argv + 2, argv + argc));
        // Cleaned up: now end as the signal asked, so a calling script stops too.
        if (const int signal = tolvane::platform::InterruptSignal()) tolvane::platform::EndBySignal(signal);
        return status;
    }
    QApplication app(argc, argv);
    // The dialog's fields are read and written as C numbers: keep the user's
    // language but not its decimal comma.
    std::setlocale(LC_NUMERIC, "C");
    QStringList files = QApplication::arguments();
    files.removeFirst();
    const int status = CScaleApp().Run(files);
    if (const int signal = tolvane::platform::InterruptSignal()) tolvane::platform::EndBySignal(signal);
    return status;
}
