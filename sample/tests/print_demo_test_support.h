// What the PrintDemo tests share: a private registry whose printer is an emulator on
// a loopback address of the test's own, a 200 x 100 test picture, and the pages the
// emulator printed compared with golden PNGs.
#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver_key.h"
#include "emulator_process.h"
#include "golden_page.h"
#include "png_io.h"

namespace printdemo::testing {

class PrinterWorld {
  public:
    // With an address, the registry has the printer and the emulator listens there.
    explicit PrinterWorld(const std::string& address = "") {
        if (address.empty()) return;
        qxtest::RegisterDriver(std::u16string(address.begin(), address.end()));
        emulator_ = std::make_unique<qxtest::EmulatorProcess>(QX_EMULATOR_BIN);
        EXPECT_TRUE(
            emulator_->Start({"--tcp", address + ":9100", "--out", Out(), "--idle-ms", "0"}));
    }
    const std::string& Dir() const { return world_.dir(); }
    std::string Out() const { return world_.dir() + "/out"; }
    std::string Registry() const { return world_.dir() + "/registry.reg"; }

    // The pages the emulator has finished while it still runs: a page is finished when
    // the printer's connection closes, which it does once the device context is gone.
    std::vector<std::string> FinishedPages(size_t expected) const {
        for (int i = 0; i < 100 && qxtest::PngFiles(Out()).size() < expected; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return qxtest::PngFiles(Out());
    }

    // Stops the emulator, which finishes what it holds, and returns its pages.
    std::vector<std::string> Pages() {
        if (emulator_) emulator_->Stop();
        emulator_.reset();
        return qxtest::PngFiles(Out());
    }

    // A 200 x 100 picture: a frame, a diagonal and a chequered block, as BMP.
    std::string TestPicture() const {
        QImage picture(200, 100, QImage::Format_RGB32);
        picture.fill(Qt::white);
        QPainter p(&picture);
        p.setPen(QPen(Qt::black, 4));
        p.drawRect(2, 2, 196, 96);
        p.drawLine(0, 0, 199, 99);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                if ((x + y) % 2) p.fillRect(140 + x * 10, 30 + y * 10, 10, 10, Qt::black);
        p.end();
        std::string path = Dir() + "/picture.bmp";
        EXPECT_TRUE(picture.save(QString::fromStdString(path), "BMP"));
        return path;
    }

  private:
    qxtest::TempWorld world_{"printdemo"};
    std::unique_ptr<qxtest::EmulatorProcess> emulator_;
};

inline void ExpectGoldenPage(const std::string& png, const std::string& name) {
    auto outcome = qxtest::CheckPngGolden(png, std::string(QX_GOLDEN_DIR) + "/" + name + ".png",
                                          name + "-diff.png");
    EXPECT_TRUE(outcome.matched) << name << ": " << outcome.message;
}

}  // namespace printdemo::testing
