// Helpers the window tests share: a click where a person clicks a control,
// delivered through the window system, and a 300 dpi TIFF written by the
// library with samples from a function.
#pragma once

#include <ORVIX_0500.h>

#include <QCheckBox>
#include <QString>
#include <QTest>

#include <cstdint>
#include <cstring>
#include <functional>

namespace gui_support {

// Clicks go to the widget's top-level window as the window system would
// deliver them, so a window blocked by a modal dialog does not get them.
inline void ClickAt(QWidget* w, QPoint at, Qt::MouseButton button = Qt::LeftButton, bool twice = false) {
    QVERIFY(w);
    QWidget* top = w->window();
    QVERIFY2(top->windowHandle(), qPrintable(top->objectName() + " has no window"));
    const QPoint inTop = w->mapTo(top, at);
    if (twice)
        QTest::mouseDClick(top->windowHandle(), button, Qt::NoModifier, inTop);
    else
        QTest::mouseClick(top->windowHandle(), button, Qt::NoModifier, inTop);
}

// A check box is clicked on its box, anything else in its middle.
inline void ClickOn(QWidget* w) {
    QVERIFY(w);
    ClickAt(w, qobject_cast<QCheckBox*>(w) ? QPoint(8, w->height() / 2) : w->rect().center());
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
