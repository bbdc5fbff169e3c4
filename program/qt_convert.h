// The core's rectangles, colours and bitmaps as Qt's, for the windows that
// paint what the core's models describe.
#pragma once

#include "preview_model.h"

#include <QColor>
#include <QImage>
#include <QRect>

inline QRect ToQRect(const CRect& r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }
inline QColor ToQColor(const tolvane::Rgb& c) { return QColor(c.r, c.g, c.b); }
// Wraps the bitmap's bytes without copying them: it lives in its model.
inline QImage ToQImage(const tolvane::Bitmap& b) {
    return QImage(b.bytes.data(), b.width, b.height, b.stride, QImage::Format_BGR888);
}
