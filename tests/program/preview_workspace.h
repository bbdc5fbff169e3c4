// A main dialog with its preview and thumbnail models bound through a view
// the way the windows bind them, over a folder of test images and a private
// temporary folder.
#pragma once

#include "fake_view.h"
#include "preview_model.h"
#include "support/test_support.h"
#include "thumbnail_model.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

class BoundView : public FakeView {
public:
    tolvane::PreviewModel* preview = nullptr;
    tolvane::ThumbnailModel* thumbnails = nullptr;
    bool previewShown = false;
    int waitOns = 0;  // how often the dialog (or a model) put the wait cursor on

    void SetWaitCursor(bool on) override { waitOns += on; }
    bool PreviewExists() const override { return preview != nullptr; }
    bool PreviewVisible() const override { return previewShown; }
    void PreviewHide() override { previewShown = false; }
    void PreviewShowFocused() override { previewShown = true; }
    void PreviewReleaseImage() override { preview->ReleaseImage(); }
    void PreviewResetView() override { preview->ResetView(); }
    bool ThumbnailsVisible() const override { return thumbnails->Active(); }
    void ThumbnailsHide() override { thumbnails->Deactivate(); }
    void ThumbnailsForgetAll() override { thumbnails->Forget(); }
    void ThumbnailsShowAround(int) override { thumbnails->Refresh(); }
    void ThumbnailsSelect(int index) override { thumbnails->Select(index); }
};

// Colour (or grey) constant over 48-pixel blocks, different from block to
// block, so a sampled pixel tells which block it came from.
inline uint8_t BlockSample(uint32_t x, uint32_t y, int channel, int samples) {
    const uint32_t bx = x / 48, by = y / 48;
    if (samples == 1) return uint8_t(bx * 7 + by * 13);
    const uint32_t v[3] = {bx * 9, by * 9, bx * 5 + by * 11};
    return uint8_t(v[channel]);
}

class PreviewWorkspace : public ::testing::Test {
protected:
    PreviewWorkspace() : dialog(view, "") {
        std::filesystem::create_directory(dir.path() / "img");
        std::filesystem::create_directory(dir.path() / "tmp");
        Set_Temp_Path((dir.path() / "tmp/").c_str());
        view.preview = &preview;
        view.thumbnails = &thumbnails;
    }
    ~PreviewWorkspace() override { Set_Temp_Path(oldTemp.c_str()); }

    std::string Image(const std::string& name) const { return (dir.path() / "img" / name).string(); }
    std::string Working(const std::string& name) const { return (dir.path() / "tmp" / name).string(); }

    // An uncompressed TIFF of block colours, or of the fixed pattern.
    void WriteImage(const std::string& name, uint32_t w, uint32_t h, int samples, bool blocks) {
        ImgClass img;
        MakeImage(img, w, h, samples);
        for (uint32_t y = 0; blocks && y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                for (int c = 0; c < samples; ++c)
                    img.ImgStruct.ImgData[size_t{y} * img.ImgStruct.LineSize + x * samples + c] =
                        BlockSample(x, y, c, samples);
        SetName(img, Image(name));
        ASSERT_FALSE(WriteTIFF(false, false, &img)) << Get_Last_Error();
    }

    void List(const std::vector<std::string>& names) {
        std::vector<std::string> selection{(dir.path() / "img").string()};
        selection.insert(selection.end(), names.begin(), names.end());
        dialog.ListFiles(selection);
    }

    TempDir dir;
    std::string oldTemp = Get_Temp_Path();
    BoundView view;
    tolvane::ScaleDialogModel dialog;
    tolvane::PreviewModel preview{dialog};
    tolvane::ThumbnailModel thumbnails{dialog};
};

}  // namespace testing_support
