// Times the preview and thumbnail windows as a person meets them, on the
// offscreen platform: a 6000 x 4000 JPEG from selection to a painted preview
// (not cached and cached), one zoom click on the image held in memory, and
// the thumbnail column of 40 photos of 3000 x 2000 (first time and reused)
// against 40 times one header read plus one thumbnail.
#include "app_settings.h"
#include "photo.h"
#include "preview_dlg.h"
#include "scale_dlg.h"
#include "thumbnail_wnd.h"

#include <ORVIX_0500.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace tolvane;
using Clock = std::chrono::steady_clock;

namespace {
double Ms(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs the event loop until done() holds (at most 30 s).
void Until(const std::function<bool()>& done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 30000) QApplication::processEvents(QEventLoop::AllEvents, 1);
}

bool WritePhoto(const std::string& path, uint32_t w, uint32_t h) {
    ImgClass img;
    bench::MakePhoto(img, w, h, 3);
    const std::string name = path;
    std::snprintf(img.ImgStruct.FileName, sizeof img.ImgStruct.FileName, "%s", name.c_str());
    return !WriteJPEG(90, &img);
}

struct Windows {
    CScaleDlg dialog{""};
    CImagePreviewDlg preview{dialog.Model(), &dialog};
    CThumbnailWnd thumbnails{dialog};
    Windows() {
        dialog.AttachWindows(&preview, &thumbnails);
        dialog.show();
    }
    ~Windows() { dialog.AttachWindows(nullptr, nullptr); }
    // Selects list item i and waits for the preview to paint its picture.
    double SelectAndPaint(int i) {
        const auto start = Clock::now();
        dialog.Model().SelectListItem(i);
        Until([&] { return !preview.Model().WholeBitmap().Empty(); });
        preview.Frame()->repaint();
        return Ms(start);
    }
};
}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    const WorkingFolder working;
    const std::string dir = QDir::tempPath().toStdString() + "/tolvane-preview-bench";
    QDir().mkpath(QString::fromStdString(dir + "/photos"));
    QDir().mkpath(QString::fromStdString(dir + "/big"));
    // The big image is listed after a smaller one, so it is selected fresh.
    const std::string small = dir + "/big/a_3000x2000.jpg", big = dir + "/big/b_6000x4000.jpg";
    if (!WritePhoto(small, 3000, 2000) || !WritePhoto(big, 6000, 4000)) return 1;
    std::vector<std::string> photos;
    for (int i = 0; i < 40; ++i) {
        photos.push_back(dir + "/photos/p" + std::to_string(100 + i) + ".jpg");
        if (!WritePhoto(photos.back(), 3000, 2000)) return 1;
    }

    // Selection to painted preview: a fresh cache each time, then cached.
    std::vector<double> uncached, cached, zoom;
    for (int run = 0; run < 5; ++run) {
        Windows w;
        w.dialog.ListPaths({QString::fromStdString(dir + "/big")});
        w.dialog.Model().Click(kPreviewImage);  // shows item 0, the smaller one
        Until([&] { return !w.preview.Model().WholeBitmap().Empty(); });
        uncached.push_back(w.SelectAndPaint(1));
        w.SelectAndPaint(0);
        cached.push_back(w.SelectAndPaint(1));
        const CRect f = w.preview.Model().Frame();
        const auto start = Clock::now();
        w.preview.Apply(w.preview.Model().LeftRelease((f.left + f.right) / 2, (f.top + f.bottom) / 2));
        w.preview.Frame()->repaint();
        zoom.push_back(Ms(start));
        if (w.preview.Model().ZoomBitmap().Empty()) std::fprintf(stderr, "zoom made no picture\n");
    }

    // The thumbnail column: the first time makes every thumbnail; ticking
    // the box again reuses the bitmaps (a new listing deletes the working
    // files, so reuse is within one listing).
    std::vector<double> firstColumn, reused;
    for (int run = 0; run < 3; ++run) {
        Windows w;
        w.dialog.ListPaths({QString::fromStdString(dir + "/photos")});
        for (int pass = 0; pass < 2; ++pass) {
            if (pass == 1) w.dialog.Model().Click(kPreviewThumbnails);  // off
            const auto start = Clock::now();
            w.dialog.Model().Click(kPreviewThumbnails);
            w.thumbnails.Canvas()->repaint();
            (pass == 0 ? firstColumn : reused).push_back(Ms(start));
        }
    }
    // One header read and one thumbnail, made by the library alone, each of
    // another file so that nothing decoded before is reused.
    std::vector<double> single;
    for (int k = 0; k < 10; ++k) {
        const std::string header = Get_Temp_Path() + std::string("single.hdr");
        const std::string tn = Get_Temp_Path() + std::string("single.tn0");
        std::remove(header.c_str());
        std::remove(tn.c_str());
        const auto start = Clock::now();
        Make_Local_Header(photos[size_t(k)].c_str(), header.c_str());
        Make_Local_Tnl(75, 80, const_cast<char*>(header.c_str()), const_cast<char*>(tn.c_str()));
        single.push_back(Ms(start));
    }

    std::printf("medians, ms (offscreen platform)\n");
    std::printf("selection to painted preview, 6000x4000 JPEG not cached  %8.1f\n", Median(uncached));
    std::printf("selection to painted preview, cached                      %8.1f   target < 30\n", Median(cached));
    std::printf("one zoom click on the image in memory                     %8.1f   target < 50\n", Median(zoom));
    std::printf("thumbnail column, 40 photos 3000x2000, first time         %8.1f\n", Median(firstColumn));
    std::printf("thumbnail column, reused                                  %8.1f\n", Median(reused));
    std::printf("one header read + one thumbnail, x 40                      %8.1f   column target <= this\n",
                40 * Median(single));
    return 0;
}
