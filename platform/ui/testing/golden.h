// Pictures compared with golden PNGs, for the dialog tests. QX_UPDATE_GOLDEN=1 rewrites
// the baselines; a mismatch (or a rewrite of one that differed) writes <name>-diff.png
// into the working folder: black in both, red only new, blue only old.
#pragma once

#include <QImage>
#include <cstdlib>
#include <string>

namespace wce::ui::testing {

inline QImage DiffImage(const QImage& now, const QImage& old, int* differing) {
    int w = std::max(now.width(), old.width()), h = std::max(now.height(), old.height());
    QImage diff(w, h, QImage::Format_RGB32);
    diff.fill(Qt::white);
    *differing = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            bool inNow = x < now.width() && y < now.height();
            bool inOld = x < old.width() && y < old.height();
            QRgb a = inNow ? now.pixel(x, y) & 0xFFFFFF : 0x1000000;
            QRgb b = inOld ? old.pixel(x, y) & 0xFFFFFF : 0x2000000;
            if (a == b) {
                if (a != 0xFFFFFF) diff.setPixel(x, y, qRgb(0, 0, 0));
                continue;
            }
            ++*differing;
            diff.setPixel(x, y, inNow ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
        }
    return diff;
}

// Empty when the picture matches the golden file (or the golden was rewritten).
inline std::string CompareWithGolden(const QImage& picture, const std::string& goldenPath, const std::string& name) {
    QImage now = picture.convertToFormat(QImage::Format_RGB32);
    QImage old(QString::fromStdString(goldenPath));
    bool update = std::getenv("QX_UPDATE_GOLDEN") && std::string(std::getenv("QX_UPDATE_GOLDEN")) == "1";
    int differing = 0;
    if (!old.isNull()) {
        old = old.convertToFormat(QImage::Format_RGB32);
        QImage diff = DiffImage(now, old, &differing);
        if (differing) diff.save(QString::fromStdString(name + "-diff.png"));
    }
    if (update) {
        if (!now.save(QString::fromStdString(goldenPath), "PNG")) return "cannot write " + goldenPath;
        return {};
    }
    if (old.isNull()) return "no golden picture " + goldenPath + " (run with QX_UPDATE_GOLDEN=1)";
    if (differing) return name + ": " + std::to_string(differing) + " pixels differ from " + goldenPath;
    return {};
}

}  // namespace wce::ui::testing
