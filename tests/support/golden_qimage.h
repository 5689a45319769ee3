// Pictures of dialogs (Qt images) against golden PNGs; see golden.h. A mismatch writes
// <name>-diff.png into the working folder.
#pragma once

#include <QImage>
#include <string>

#include "golden.h"

namespace qxtest {

inline Picture PictureOf(const QImage& image) {
    QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    Picture picture(rgb.width(), rgb.height());
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x) picture.At(x, y) = rgb.pixel(x, y) & 0xFFFFFF;
    return picture;
}

inline GoldenFiles QImageFiles(const QImage& rendered) {
    GoldenFiles files;
    files.read = [](const std::string& path, Picture* baseline, std::string* error) {
        QImage image(QString::fromStdString(path));
        if (image.isNull()) {
            *error = "cannot read it";
            return false;
        }
        *baseline = PictureOf(image);
        return true;
    };
    files.writeRendered = [&rendered](const std::string& path, std::string* error) {
        bool ok = rendered.convertToFormat(QImage::Format_RGB32)
                      .save(QString::fromStdString(path), "PNG");
        if (!ok) *error = "cannot write it";
        return ok;
    };
    files.writeDiff = [](const std::string& path, const Picture& diff, std::string* error) {
        QImage image(diff.width, diff.height, QImage::Format_RGB32);
        for (int y = 0; y < diff.height; ++y)
            for (int x = 0; x < diff.width; ++x) image.setPixel(x, y, 0xFF000000 | diff.At(x, y));
        bool ok = image.save(QString::fromStdString(path), "PNG");
        if (!ok) *error = "cannot write it";
        return ok;
    };
    return files;
}

// Empty when the picture matches its golden file (or the file was rewritten), else what
// differed.
inline std::string CompareWithGolden(const QImage& picture, const std::string& goldenPath,
                                     const std::string& name) {
    GoldenOutcome outcome =
        CheckGolden(PictureOf(picture), goldenPath, name + "-diff.png", QImageFiles(picture));
    return outcome.matched ? std::string() : name + ": " + outcome.message;
}

}  // namespace qxtest
