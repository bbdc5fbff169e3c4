// Helpers the window tests share: a click where a person clicks a control,
// and a 300 dpi TIFF written by the library with samples from a function.
#pragma once

#include <ORVIX_0500.h>

#include <QCheckBox>
#include <QString>
#include <QTest>

#include <cstdint>
#include <cstring>
#include <functional>

namespace gui_support {

// A check box is clicked on its box, anything else in its middle.
inline void ClickOn(QWidget* w) {
    QVERIFY(w);
    const QPoint at = qobject_cast<QCheckBox*>(w) ? QPoint(8, w->height() / 2) : w->rect().center();
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, at);
}

using SampleFn = std::function<uint8_t(uint32_t x, uint32_t y, int channel)>;

inline bool WriteTiff(const QString& path, uint32_t width, uint32_t height, int samples,
                      const SampleFn& sample) {
    ImgClass img;
    ImgStruct& s = img.ImgStruct;
    s.Width = width;
    s.Height = height;
    s.Samples = samples;
    s.Bits = 8;
    s.LineSize = (width * uint32_t(samples) + 3u) & ~3u;
    s.ResUnit = 2;
    s.Resolution = 300;
    if (img.AllocData() || !s.ImgData) return false;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < samples; ++c)
                s.ImgData[size_t{y} * s.LineSize + size_t{x} * uint32_t(samples) + uint32_t(c)] = sample(x, y, c);
    std::strcpy(s.FileName, path.toLocal8Bit().constData());
    return !WriteTIFF(false, false, &img);
}

}  // namespace gui_support
