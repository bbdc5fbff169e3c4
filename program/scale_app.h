// The application: creates the windows, runs the main dialog, tears them
// down and leaves no working files behind.
#pragma once

#include <QStringList>

class CScaleApp {
public:
    // The library's file, loaded by name for the program's life besides
    // being linked.
    static constexpr char kLibraryFile[] = "libORVIX_0500.so";

    // Runs the main dialog with files listed; returns the exit status.
    int Run(const QStringList& files);
};
