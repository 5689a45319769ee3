// Shapes, bitmaps and bit-block transfers.
#include <QImageReader>
#include <QPainter>

#include "gdi_internal.h"
#include "wce/text.h"

namespace wce {

namespace {

QColor ToColour(COLORREF c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

constexpr DWORD SRCAND = 0x008800C6;
constexpr DWORD SRCPAINT = 0x00EE0086;
constexpr DWORD NOTSRCCOPY = 0x00330008;
constexpr DWORD PATCOPY = 0x00F00021;

QPen PenOf(HDC dc) {
    if (dc->pen->penStyle == PS_NULL) return QPen(Qt::NoPen);
    QPen pen(ToColour(dc->pen->colour));
    pen.setWidth(dc->pen->penWidth);
    return pen;
}

}  // namespace

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
    if (!gdi::IsLiveDc(dc) || !rect || !gdi::IsLiveObject(brush)) return 0;
    gdi::Record("FillRect", {}, *rect);
    QImage* target = gdi::Target(dc);
    if (target && !brush->nullBrush) {
        QPainter p(target);
        p.fillRect(QRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top),
                   ToColour(brush->colour));
    }
    return 1;
}

BOOL Rectangle(HDC dc, int left, int top, int right, int bottom) {
    if (!gdi::IsLiveDc(dc)) return FALSE;
    gdi::Record("Rectangle", {}, RECT{left, top, right, bottom});
    QImage* target = gdi::Target(dc);
    if (!target || right <= left || bottom <= top) return TRUE;
    QPainter p(target);
    if (!dc->brush->nullBrush)
        p.fillRect(QRect(left, top, right - left, bottom - top), ToColour(dc->brush->colour));
    p.setPen(PenOf(dc));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(left, top, right - left - 1, bottom - top - 1));
    return TRUE;
}

BOOL MoveToEx(HDC dc, int x, int y, POINT* previous) {
    if (!gdi::IsLiveDc(dc)) return FALSE;
    if (previous) *previous = dc->position;
    dc->position = POINT{x, y};
    return TRUE;
}

BOOL LineTo(HDC dc, int x, int y) {
    if (!gdi::IsLiveDc(dc)) return FALSE;
    gdi::Record("LineTo", {}, RECT{dc->position.x, dc->position.y, x, y});
    if (QImage* target = gdi::Target(dc)) {
        QPainter p(target);
        p.setPen(PenOf(dc));
        p.drawLine(dc->position.x, dc->position.y, x, y);
    }
    dc->position = POINT{x, y};
    return TRUE;
}

BOOL PatBlt(HDC dc, int x, int y, int width, int height, DWORD rop) {
    if (!gdi::IsLiveDc(dc)) return FALSE;
    gdi::Record("PatBlt", {}, RECT{x, y, x + width, y + height}, {long(rop)});
    QImage* target = gdi::Target(dc);
    if (!target) return TRUE;
    QColor colour = rop == WHITENESS ? Qt::white : rop == BLACKNESS ? Qt::black : ToColour(dc->brush->colour);
    if (rop != WHITENESS && rop != BLACKNESS && rop != PATCOPY) return FALSE;
    QPainter(target).fillRect(QRect(x, y, width, height), colour);
    return TRUE;
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
    if ((dc && !gdi::IsLiveDc(dc)) || width <= 0 || height <= 0 || width > 32767 || height > 32767) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    image.fill(Qt::black);
    HGDIOBJ o = gdi::NewObject(HGDIOBJ__::Kind::Bitmap);
    o->image = std::move(image);
    return o;
}

HBITMAP SHLoadDIBitmap(LPCWSTR fileName) {
    if (!fileName || !*fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    gdi::EnsureGuiApplication();
    QImageReader reader(QString::fromStdU16String(fileName));
    reader.setAutoTransform(false);
    QImage image = reader.read();
    if (image.isNull()) {
        NKDbgPrintfW(u"SHLoadDIBitmap(%s): %S\r\n", fileName, reader.errorString().toUtf8().constData());
        SetLastError(reader.error() == QImageReader::FileNotFoundError ? ERROR_FILE_NOT_FOUND : 11 /* bad format */);
        return nullptr;
    }
    // Transparent parts are shown as on white paper.
    QImage opaque(image.size(), QImage::Format_RGB32);
    opaque.fill(Qt::white);
    QPainter(&opaque).drawImage(0, 0, image);
    HGDIOBJ o = gdi::NewObject(HGDIOBJ__::Kind::Bitmap);
    o->image = std::move(opaque);
    return o;
}

int GetObjectW(HGDIOBJ object, int size, void* buffer) {
    if (!gdi::IsLiveObject(object)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (object->kind == HGDIOBJ__::Kind::Bitmap) {
        if (!buffer) return int(sizeof(BITMAP));
        BITMAP bm{0, object->image.width(), object->image.height(), LONG(object->image.bytesPerLine()),
                  1, 32, object->image.bits()};
        int n = std::min<int>(size, sizeof bm);
        if (n <= 0) return 0;
        std::memcpy(buffer, &bm, size_t(n));
        return n;
    }
    if (object->kind == HGDIOBJ__::Kind::Font) {
        if (!buffer) return int(sizeof(LOGFONTW));
        int n = std::min<int>(size, sizeof(LOGFONTW));
        if (n <= 0) return 0;
        std::memcpy(buffer, &object->font, size_t(n));
        return n;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

BOOL StretchBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY,
                int srcWidth, int srcHeight, DWORD rop) {
    if (!gdi::IsLiveDc(dst) || (src && !gdi::IsLiveDc(src))) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    gdi::Record("StretchBlt", {}, RECT{x, y, x + width, y + height},
                {long(srcX), long(srcY), long(srcWidth), long(srcHeight), long(rop)});
    QImage* target = gdi::Target(dst);
    if (rop == WHITENESS || rop == BLACKNESS) return PatBlt(dst, x, y, width, height, rop);
    QImage* source = src ? gdi::Target(src) : nullptr;
    if (!source) return FALSE;
    if (!target) return TRUE;
    QPainter p(target);
    switch (rop) {
        case SRCCOPY: break;
        case SRCAND: p.setCompositionMode(QPainter::RasterOp_SourceAndDestination); break;
        case SRCPAINT: p.setCompositionMode(QPainter::RasterOp_SourceOrDestination); break;
        case NOTSRCCOPY: p.setCompositionMode(QPainter::RasterOp_NotSource); break;
        default: return FALSE;
    }
    // Windows mirrors for negative sizes; nearest-neighbour as its default stretch mode.
    QImage part = source->copy(QRect(std::min(srcX, srcX + srcWidth), std::min(srcY, srcY + srcHeight),
                                     std::abs(srcWidth), std::abs(srcHeight)));
    part = part.mirrored((srcWidth < 0) != (width < 0), (srcHeight < 0) != (height < 0));
    p.drawImage(QRect(std::min(x, x + width), std::min(y, y + height), std::abs(width), std::abs(height)), part);
    return TRUE;
}

BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop) {
    return StretchBlt(dst, x, y, width, height, src, srcX, srcY, width, height, rop);
}

}  // namespace wce
