// The image preview window as a model: the whole-image view of the selected
// file fitted into the frame, the zoom in and out around a click through the
// library's zoom, the window's caption and the ready-made bitmaps. The Qt
// window passes on its frame, clicks and keys and paints what Paint() says.
#pragma once

#include "scale_dialog.h"

#include <ORVIX_0500.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tolvane {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

// A picture ready for the screen: 24 bits a pixel in B,G,R order, rows top
// down, each row padded to a multiple of 4 bytes (stride).
struct Bitmap {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<uint8_t> bytes;

    bool Empty() const { return bytes.empty(); }
    void Clear() { *this = Bitmap{}; }
    const uint8_t* Pixel(int x, int y) const {
        return bytes.data() + size_t(y) * size_t(stride) + size_t(x) * 3;
    }
};

// Builds out from img when out is still empty and img holds 1 to 4
// samples: an R,G,B image is swapped to B,G,R in place first, grey samples
// are written three times, and an image with alpha (2 or 4 samples) is
// shown over a light and dark grey checkerboard of kCheckerSquare pixels,
// never over black. A zoomed picture leaves its last line unset and marks
// its first pixel grey. False when no bitmap was made.
bool BuildBitmap(ImgClass& img, Bitmap& out, bool zoomed);
inline constexpr int kCheckerSquare = 8;
inline constexpr uint8_t kCheckerLight = 204;  // the square at the top left
inline constexpr uint8_t kCheckerDark = 153;

// What a window is to do after an event.
enum class PreviewReply { Nothing, Repaint, HideWindow };

// What to paint: the frame filled with fill, then bitmap (when there is one)
// stretched onto target. Nothing at all while paint is false.
struct PreviewPicture {
    bool paint = false;
    CRect frame{};
    Rgb fill{};
    const Bitmap* bitmap = nullptr;
    CRect target{};
};

class PreviewModel {
public:
    static constexpr double kZoomStep = 1.6;
    static constexpr int kZoomInQuality = 0;    // the zoom result is a TIFF file
    static constexpr int kZoomOutQuality = 80;  // a JPEG file
    static constexpr int kThumbnailQuality = 85;
    static constexpr Rgb kFrameFill{192, 192, 192};

    // Installs the dialog's progress bar as the library's progress receiver.
    explicit PreviewModel(ScaleDialogModel& dialog);
    PreviewModel(const PreviewModel&) = delete;
    PreviewModel& operator=(const PreviewModel&) = delete;

    // The picture frame in the window's client coordinates; the window sets
    // it whenever it lays the frame out.
    void SetFrame(const CRect& frame) { frame_ = frame; }
    const CRect& Frame() const { return frame_; }

    // Prepares the whole-image view when nothing is zoomed, builds the
    // bitmap to show and says where it goes.
    PreviewPicture Paint();
    // "Preview  <path> X=<width> [ pixels ] Y=<height> [ lines ]" once a view
    // was prepared.
    const std::string& Caption() const { return caption_; }

    // ---- The user's clicks and keys ----
    PreviewReply LeftRelease(int x, int y);   // zoom in
    PreviewReply RightRelease(int x, int y);  // zoom out
    // Back to the whole image; the left release that follows is ignored.
    PreviewReply DoubleClick();
    PreviewReply Wheel();
    PreviewReply Hide();  // "Hide" and the "%" key
    PreviewReply Enter();
    PreviewReply Next();      // ">"
    PreviewReply Previous();  // " < "
    PreviewReply RemoveFromList();

    // ---- Sizing and positioning ----
    // The window's size changed; the first change (its creation) is ignored.
    PreviewReply SizeChanged();
    // The resize has settled (the mouse capture ended, or the window's own
    // settle timer fired).
    PreviewReply SizingEnded();
    // Set by the main dialog while it moves and sizes this window.
    void SetPositioning(bool on) { positioning_ = on; }
    bool Sizing() const { return sizing_; }

    // ---- Called through the main dialog's view ----
    // The selection's image is gone: the next paint prepares it anew.
    void ReleaseImage();
    // A new selection shows whole.
    void ResetView();

    // ---- State, for windows and tests ----
    const CRect& Crop() const { return crop_; }
    double AccumulatedZoom() const { return zoom_; }
    bool ZoomInFailed() const { return zoomInFailed_; }
    bool RightClickFoundEmpty() const { return rightClickEmpty_; }
    const std::string& LastResult() const { return lastResult_; }
    const Bitmap& WholeBitmap() const { return wholeBitmap_; }
    const Bitmap& ZoomBitmap() const { return zoomBitmap_; }
    // The crop (the whole image when empty) fitted into the frame.
    CRect Displayed() const;
    // The frame's part that shows a w x h rectangle keeping its aspect ratio.
    static CRect FitIntoFrame(const CRect& frame, int w, int h);
    // The preview thumbnail of the current image: its header path with "tnl".
    std::string ThumbnailPath() const;

private:
    enum class ZoomOutcome { Zoomed, Empty, NoImage };

    bool Measure(ImgClass* record);
    ImgClass* CurrentRecord();
    ImgClass* SourceRecord();
    bool SelectHeader();
    void PrepareWholeView();
    bool MakeDisplayImage(double aspect);
    bool SampleFromFile(int width);
    int DisplayWidth(double aspect, bool rounded) const;
    CRect WholeImage() const { return CRect{0, 0, imageWidth_, imageHeight_}; }
    void StartFromWholeImage();
    const char* CallZoom(ImgClass* record, const CRect& shown, int x, int y, double m, int quality);
    ZoomOutcome ZoomOnce(const CRect& shown, int x, int y, double m, int quality);
    PreviewReply ZoomIn(int x, int y);
    PreviewReply ZoomOut(int x, int y);
    PreviewReply ZoomInFailedOnce();
    void ClearZoom();
    PreviewReply Step(int delta);
    void ResetProgress();

    ScaleDialogModel& dialog_;
    CRect frame_{};
    double scale_ = 0;
    int imageWidth_ = 0;
    int imageHeight_ = 0;
    CRect crop_{};
    double zoom_ = kZoomStep;
    bool zoomInFailed_ = false;
    bool rightClickEmpty_ = false;
    bool sizing_ = false;
    bool positioning_ = false;
    bool sizeSeen_ = false;
    bool afterDoubleClick_ = false;  // its trailing release is still to come
    std::string lastResult_;
    std::string caption_;
    ImgClass display_;
    ImgClass zoomImage_;
    Bitmap wholeBitmap_;
    Bitmap zoomBitmap_;
};

}  // namespace tolvane
