// Shapes, bitmaps and bit-block transfers.
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <algorithm>
#include <climits>
#include <cstdlib>

#include "gdi_internal.h"
#include "image_check.h"
#include "wce/text.h"

namespace wce {

namespace {

QColor ToColour(COLORREF c) {
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

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
    QColor colour = rop == WHITENESS   ? Qt::white
                    : rop == BLACKNESS ? Qt::black
                                       : ToColour(dc->brush->colour);
    if (rop != WHITENESS && rop != BLACKNESS && rop != PATCOPY) return FALSE;
    QPainter(target).fillRect(QRect(x, y, width, height), colour);
    return TRUE;
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
    if ((dc && !gdi::IsLiveDc(dc)) || width <= 0 || height <= 0 || width > 32767 ||
        height > 32767) {
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

namespace {

constexpr DWORD kErrorBadFormat = 11;      // ERROR_BAD_FORMAT
constexpr DWORD kErrorFileCorrupt = 1392;  // ERROR_FILE_CORRUPT

// Checks the whole file before the reader sees it: the reader fills in what a cut BMP,
// GIF or JPEG lacks (black rows, grey blocks) instead of failing.
gdi::ImageFileCheck CheckFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};  // the reader tells why
    const qint64 size = file.size();
    if (uchar* mapped = size > 0 ? file.map(0, size) : nullptr)
        return gdi::CheckImageFile(
            std::string_view(reinterpret_cast<const char*>(mapped), size_t(size)));
    QByteArray bytes = file.readAll();
    return gdi::CheckImageFile(std::string_view(bytes.constData(), size_t(bytes.size())));
}

// The megabytes the reader would allocate for the picture when that is more than it
// lets one image take (it refuses such a picture before decoding it), else 0. The
// format it reports is not always the one it decodes into: a 1-bit or a grey PNG is
// read into 32 bits a dot, so no fewer are counted.
long long MegabytesOverLimit(QSize size, QImage::Format format) {
    const long long limit = QImageReader::allocationLimit();
    if (limit <= 0 || size.width() <= 0 || size.height() <= 0) return 0;
    const long long reported =
        format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel();
    const long long depth = std::max<long long>(reported, 32);
    const long long bytes = (size.width() * depth + 31) / 32 * 4 * size.height();
    return bytes > (limit << 20) ? (bytes + (1 << 20) - 1) >> 20 : 0;
}

}  // namespace

HBITMAP SHLoadDIBitmap(LPCWSTR fileName) {
    if (!fileName || !*fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    gdi::EnsureGuiApplication();
    const QString path = QString::fromStdU16String(fileName);
    gdi::ImageFileCheck check = CheckFile(path);
    if (check.damaged) {
        NKDbgPrintfW(u"SHLoadDIBitmap(%s): the image is damaged: %S\r\n", fileName,
                     check.why.c_str());
        SetLastError(kErrorFileCorrupt);
        return nullptr;
    }
    QImageReader reader(path);
    reader.setAutoTransform(false);
    // A GIF's reader allocates its whole screen, which it does not report as the size.
    QSize size =
        check.width > 0 && check.height > 0 && check.width <= INT_MAX && check.height <= INT_MAX
            ? QSize(int(check.width), int(check.height))
            : reader.size();
    const QImage::Format format = reader.imageFormat();
    QImage image = reader.read();
    if (image.isNull()) {
        if (long long mb = MegabytesOverLimit(size, format)) {
            NKDbgPrintfW(
                u"SHLoadDIBitmap(%s): the image is too large: %d x %d dots take %lld MB, more than "
                u"the %d MB one image may take\r\n",
                fileName, size.width(), size.height(), mb, QImageReader::allocationLimit());
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        NKDbgPrintfW(u"SHLoadDIBitmap(%s): %S\r\n", fileName,
                     reader.errorString().toUtf8().constData());
        SetLastError(reader.error() == QImageReader::FileNotFoundError ? ERROR_FILE_NOT_FOUND
                                                                       : kErrorBadFormat);
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
        BITMAP bm{0,
                  object->image.width(),
                  object->image.height(),
                  LONG(object->image.bytesPerLine()),
                  1,
                  32,
                  object->image.bits()};
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
        case SRCCOPY:
            break;
        case SRCAND:
            p.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
            break;
        case SRCPAINT:
            p.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
            break;
        case NOTSRCCOPY:
            p.setCompositionMode(QPainter::RasterOp_NotSource);
            break;
        default:
            return FALSE;
    }
    // Windows mirrors for negative sizes; nearest-neighbour as its default stretch mode.
    QImage part =
        source->copy(QRect(std::min(srcX, srcX + srcWidth), std::min(srcY, srcY + srcHeight),
                           std::abs(srcWidth), std::abs(srcHeight)));
    part = part.mirrored((srcWidth < 0) != (width < 0), (srcHeight < 0) != (height < 0));
    p.drawImage(
        QRect(std::min(x, x + width), std::min(y, y + height), std::abs(width), std::abs(height)),
        part);
    return TRUE;
}

BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop) {
    return StretchBlt(dst, x, y, width, height, src, srcX, srcY, width, height, rop);
}

int SetDIBitsToDevice(HDC dc, int x, int y, DWORD width, DWORD height, int xSrc, int ySrc,
                      UINT startScan, UINT lines, const void* bits, const BITMAPINFO* info,
                      UINT colourUse) {
    if (!gdi::IsLiveDc(dc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    const BITMAPINFOHEADER* h = info ? &info->bmiHeader : nullptr;
    const int depth = h ? h->biBitCount : 0;
    const long long dibWidth = h ? h->biWidth : 0;
    const long long dibHeight = h ? std::llabs(static_cast<long long>(h->biHeight)) : 0;
    if (!bits || !h || h->biSize != sizeof(BITMAPINFOHEADER) || h->biCompression != BI_RGB ||
        colourUse != DIB_RGB_COLORS || (depth != 8 && depth != 24 && depth != 32) ||
        (depth == 8 && h->biClrUsed > 256) || dibWidth <= 0 || dibWidth > 32767 || dibHeight == 0 ||
        dibHeight > 32767 || startScan != 0 || lines != dibHeight || width > 32767 ||
        height > 32767) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    gdi::Record("SetDIBitsToDevice", {}, RECT{x, y, LONG(x + width), LONG(y + height)},
                {long(xSrc), long(ySrc), long(depth)});
    const bool topDown = h->biHeight < 0;
    const size_t stride = size_t((dibWidth * depth + 31) / 32 * 4);
    // The colours of an 8-bit bitmap's entries; those past its table are black.
    QRgb colours[256];
    bool greys = depth == 8;  // entry i is grey i: computed rather than looked up
    if (depth == 8) {
        const DWORD used = h->biClrUsed ? h->biClrUsed : 256;
        for (DWORD i = 0; i < 256; ++i) {
            const RGBQUAD c = i < used ? info->bmiColors[i] : RGBQUAD{0, 0, 0, 0};
            colours[i] = qRgb(c.rgbRed, c.rgbGreen, c.rgbBlue);
            greys = greys && colours[i] == gdi::GreyDot(BYTE(i));
        }
    }
    // The rectangle's top row in top-down numbering.
    const long long top = topDown ? ySrc : dibHeight - ySrc - static_cast<long long>(height);
    if (greys && dc->kind == HDC__::Kind::Printer &&
        gdi::PrinterTakeGreys(
            dc, x, y, int(width), int(height),
            {static_cast<const BYTE*>(bits), stride, dibWidth, dibHeight, topDown, xSrc, top}))
        return int(lines);
    QImage* target = gdi::Target(dc);
    if (!target) return int(lines);
    // Columns i of the rectangle both inside the bitmap and on the surface.
    const long long first =
        std::max({0LL, -static_cast<long long>(xSrc), -static_cast<long long>(x)});
    const long long end = std::min({static_cast<long long>(width), dibWidth - xSrc,
                                    static_cast<long long>(target->width()) - x});
    const auto* base = static_cast<const BYTE*>(bits);
    for (long long j = 0; j < static_cast<long long>(height) && first < end; ++j) {
        const long long row = top + j, to = static_cast<long long>(y) + j;
        if (row < 0 || row >= dibHeight || to < 0 || to >= target->height()) continue;
        const BYTE* in = base + size_t(topDown ? row : dibHeight - 1 - row) * stride +
                         size_t(xSrc + first) * size_t(depth / 8);
        QRgb* out = reinterpret_cast<QRgb*>(target->scanLine(int(to))) + (x + first);
        const long long count = end - first;
        if (greys)
            gdi::GreysToSurface(in, out, count);
        else if (depth == 8)
            for (long long i = 0; i < count; ++i) out[i] = colours[in[i]];
        else
            for (long long i = 0; i < count; ++i, in += depth / 8)
                out[i] = qRgb(in[2], in[1], in[0]);
    }
    return int(lines);
}

}  // namespace wce
