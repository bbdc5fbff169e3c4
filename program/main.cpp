// Tolvane: the batch resizer. With "--batch" the headless batch runs; else
// the main dialog opens, with the files named on the command line listed.
#include "batch_cli.h"
#include "scale_app.h"

#include <QApplication>

#include <clocale>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--batch")
        return tolvane::RunBatch(std::vector<std::string>(argv + 2, argv + argc));
    QApplication app(argc, argv);
    // The dialog's fields are read and written as C numbers: keep the user's
    // language but not its decimal comma.
    std::setlocale(LC_NUMERIC, "C");
    QStringList files = QApplication::arguments();
    files.removeFirst();
    return CScaleApp().Run(files);
}
