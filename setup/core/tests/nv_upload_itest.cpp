// The image manager's command sequences on the wire: byte-exact streams to a loopback
// printer, refused files that send nothing, and uploads into the emulator's image
// memory over TCP and over a pseudo-terminal at 115200 bit/s.
#include "../../../drivers/printer/qx470/tests/port_peer_support.h"  // before winsock.h

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../../../tests/support/driver_key.h"
#include "../../../tests/support/emulator_process.h"
#include "bmp_test_support.h"
#include "nv_store.h"
#include "nv_upload.h"
#include "wce/ui.h"

namespace qxsetup::testing {
namespace {

using qx470::testing::TcpPrinter;
using Mode = TcpPrinter::Mode;

std::string AsString(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string Command(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += char(b);
    return s;
}

std::vector<std::u16string> Paths(std::initializer_list<std::string> paths) {
    std::vector<std::u16string> wide;
    for (const std::string& p : paths) wide.push_back(Wide(p));
    return wide;
}

// Two logos of different sizes, written by convert.
struct Logos {
    explicit Logos(const TempDir& dir) {
        first = dir.File("a-logo.bmp");
        second = dir.File("b-logo.bmp");
        ok = Convert("-size 37x21 xc:white -fill black -draw 'rectangle 2,3 30,12' -type bilevel",
                     first) &&
             Convert(
                 "-size 100x40 gradient:white-black -fill white -draw 'circle 50,20 60,30' "
                 "-type truecolor",
                 second);
    }
    std::string first, second;
    bool ok = false;
};

class UploadStream : public ::testing::Test {
  protected:
    // Runs the sequences against a printer that records every byte.
    std::string Capture(const char* address, const std::function<void(NvPrinterLink&)>& run) {
        TcpPrinter printer(address, Mode::kReadAll);
        EXPECT_TRUE(printer.ok());
        NetworkLink network;
        NvPrinterLink link{NvLinkKind::kSerial, &network};
        EXPECT_TRUE(OpenPrinterLink(link, Wide(address).c_str(), 9100));
        EXPECT_EQ(link.kind, NvLinkKind::kNetwork);
        run(link);
        ClosePrinterLink(link);
        return printer.inbox().Wait();
    }
    TempDir dir_;
};

TEST_F(UploadStream, HeaderThenOneBlockPerFileInListOrder) {
    Logos logos(dir_);
    ASSERT_TRUE(logos.ok);
    std::string jpeg = dir_.File("c-photo.jpg");
    ASSERT_TRUE(Convert("-size 8x8 xc:gray", jpeg, "JPEG"));
    wce::ScriptedMessageBoxes boxes;
    std::string wire = Capture("127.0.41.20", [&](NvPrinterLink& link) {
        EXPECT_TRUE(UploadNvImages(link, Paths({logos.first, jpeg, logos.second})));
    });
    // The photo is refused, named and left out, and the header counts only the two
    // blocks that follow it: a third would take the next command as image data.
    std::string expected = Command({0x1B, 0x40, 0x1C, 0x71, 2}) +
                           AsString(ReferenceBlock(ReadBytes(logos.first))) +
                           AsString(ReferenceBlock(ReadBytes(logos.second)));
    EXPECT_TRUE(wire == expected) << wire.size() << " bytes, expected " << expected.size();
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, Wide(jpeg) + u" is not uploaded:\nBM fail");
    EXPECT_EQ(boxes.shown()[0].type, wce::MB_OK);
}

TEST_F(UploadStream, NothingIsSentWhenNoFileConverts) {
    std::string folder = dir_.File("folder.bmp"), fifo = dir_.File("fifo.bmp");
    std::filesystem::create_directory(folder);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    wce::ScriptedMessageBoxes boxes;
    std::string wire = Capture("127.0.41.24", [&](NvPrinterLink& link) {
        EXPECT_FALSE(
            UploadNvImages(link, Paths({folder, fifo})));  // a FIFO nobody writes must not hang
    });
    EXPECT_EQ(wire, "");
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(boxes.shown()[0].text, Wide(folder) + u" is not uploaded:\n" + Wide(folder) +
                                         u" is a folder, not a bitmap file");
    EXPECT_EQ(boxes.shown()[1].text,
              Wide(fifo) + u" is not uploaded:\n" + Wide(fifo) +
                  u" is not a regular file (a device, pipe or socket), not a bitmap file");
}

TEST_F(UploadStream, AtMost255FilesAreUploaded) {
    std::string dot = dir_.File("dot.bmp");
    ASSERT_TRUE(Convert("-size 1x1 xc:black -type bilevel", dot));
    std::vector<std::u16string> many(255, Wide(dot));
    wce::ScriptedMessageBoxes boxes;
    std::string wire = Capture("127.0.41.21", [&](NvPrinterLink& link) {
        EXPECT_TRUE(UploadNvImages(link, many));
        many.push_back(Wide(dot));
        EXPECT_FALSE(UploadNvImages(link, many));  // 256 would announce none
    });
    std::string block = Command({1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 0, 0});
    std::string expected = Command({0x1B, 0x40, 0x1C, 0x71, 0xFF});
    for (int i = 0; i < 255; ++i) expected += block;
    EXPECT_TRUE(wire == expected) << wire.size() << " bytes";
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text,
              u"The printer stores at most 255 images; 256 files are listed. Delete some files "
              u"and upload again.");
}

TEST_F(UploadStream, PrintOutAsksForEveryNumberAndEraseFeedsAndCuts) {
    std::string wire = Capture("127.0.41.22", [&](NvPrinterLink& link) {
        EXPECT_TRUE(PrintAllNvImages(link));
        EXPECT_TRUE(EraseNvImages(link));
    });
    std::string expected;
    for (int k = 1; k <= 255; ++k) expected += Command({0x1C, 0x70, k, 0x30});
    expected += Command({0x1D, 0x56, 0x42, 0x01, 0x1C, 0x65, 0x1D, 0x56, 0x42, 0x01});
    EXPECT_EQ(wire, expected);
}

// Every malformed file is refused with its own message, and not a byte of it is sent.
TEST_F(UploadStream, MalformedFilesAreRefusedAndSendNothing) {
    std::string basePath = dir_.File("base.bmp");
    ASSERT_TRUE(
        Convert("-size 37x21 xc:white -fill black -draw 'rectangle 3,2 20,10' "
                "-type truecolor",
                basePath));
    const Bytes base = ReadBytes(basePath);
    ASSERT_EQ(Get32(base, 10), 54u);
    auto with = [&](std::size_t at, std::uint32_t value, int size = 4) {
        Bytes b = base;
        Put(b, at, value, size);
        return b;
    };
    Bytes truncated(base.begin(), base.end() - 100);
    Bytes noPalette = MakeBmp(1, 8, {{0xFF}});
    Bytes os2 = with(14, 12);  // as an OS/2 writer lays it out: pixels after 14 + 12 + 6
    Put(os2, 10, 32);
    Bytes square65536 = with(18, 65536);
    Put(square65536, 22, 65536);
    std::string rle = dir_.File("rle.bmp"), gif = dir_.File("logo.gif");
    ASSERT_TRUE(Convert("-size 37x21 gradient:white-black -type palette", rle));
    ASSERT_EQ(ReadBytes(rle)[30], 1) << "convert did not write RLE8";
    ASSERT_TRUE(Convert("-size 8x8 xc:black", gif, "GIF"));

    struct Case {
        const char* name;
        Bytes file;  // empty: the path below as it is
        std::string path;
        std::u16string message;
    };
    std::vector<Case> cases = {
        {"missing", {}, dir_.File("none.bmp"), u"CreateFile fail"},
        {"shorter than a file header", Bytes(10, 'B'), "", u"BITMAPFILEHEADER malloc() fail"},
        {"a GIF", {}, gif, u"BM fail"},
        {"cut short", truncated, "",
         u"The bitmap file is shorter than its header says (2406 bytes, the file has 2306)"},
        {"size beyond the limit", with(2, 0x7FFFFFFF), "",
         u"The bitmap file is too large (2147483647 bytes; at most 67108864 are taken)"},
        {"offset past the end", with(10, 2407), "",
         u"The pixel data offset (2407) lies past the end of the bitmap file (2406 bytes)"},
        {"offset in the information header", with(10, 40), "",
         u"The pixel data offset (40) lies inside the bitmap headers"},
        {"header longer than the room", with(14, 124), "",
         u"The pixel data offset (54) lies inside the bitmap headers"},
        {"OS/2 header", with(14, 12), "",
         u"This is an OS/2 bitmap (12-byte information header), not a Windows bitmap; only "
         u"Windows bitmaps can be converted"},
        {"OS/2 header and its palette", os2, "",
         u"This is an OS/2 bitmap (12-byte information header), not a Windows bitmap; only "
         u"Windows bitmaps can be converted"},
        {"header of 16 bytes", with(14, 16), "",
         u"The bitmap has an information header of 16 bytes; only Windows bitmaps can be "
         u"converted"},
        {"zero width", with(18, 0), "", u"The bitmap width (0) must be at least 1 dot"},
        {"negative width", with(18, std::uint32_t(-37)), "",
         u"The bitmap width (-37) must be at least 1 dot"},
        {"zero height", with(22, 0), "", u"The bitmap height (0) must be at least 1 dot"},
        {"top-down", with(22, std::uint32_t(-21)), "",
         u"Top-down bitmaps (negative height) cannot be converted"},
        {"32 bits", with(28, 32, 2), "",
         u"Bitmaps of 32 bits per pixel cannot be converted; use 1, 4, 8, 16 or 24"},
        {"RLE8", {}, rle, u"Compressed bitmaps cannot be converted (compression 1)"},
        {"bit fields at 24 bits", with(30, 3), "",
         u"Compressed bitmaps cannot be converted (compression 3)"},
        {"too wide for WB", with(18, 524281), "",
         u"The bitmap is 524281 x 21 dots; a stored image is at most 524280 dots wide and high"},
        {"one row more than the data", with(22, 22), "",
         u"The bitmap's pixel data has 2352 bytes; its 22 rows need 2464"},
        {"rows that overflow 32 bits", with(22, 524280), "",
         u"The bitmap's pixel data has 2352 bytes; its 524280 rows need 58719360"},
        {"65536 x 65536", square65536, "",
         u"The bitmap's pixel data has 2352 bytes; its 65536 rows need 12884901888"},
        {"1 bit without a palette", noPalette, "", u"The 1-bit bitmap has no palette"},
    };
    TcpPrinter printer("127.0.41.23", Mode::kReadAll);
    ASSERT_TRUE(printer.ok());
    NetworkLink network;
    NvPrinterLink link{NvLinkKind::kNetwork, &network};
    ASSERT_TRUE(OpenPrinterLink(link, u"127.0.41.23", 9100));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = c.path;
        if (path.empty()) {
            path = dir_.File("bad.bmp");
            WriteBytes(path, c.file);
        }
        wce::ScriptedMessageBoxes boxes;
        EXPECT_EQ(UploadImageFile(link, Wide(path).c_str()), -1);
        ASSERT_EQ(boxes.shown().size(), 1u);
        EXPECT_EQ(boxes.shown()[0].text, c.message);
        EXPECT_EQ(boxes.shown()[0].caption, ApplicationTitle());
    }
    ClosePrinterLink(link);
    EXPECT_EQ(printer.inbox().Wait(), "");
}

// The emulator as the printer: its image memory holds the logos as images 1 and 2.
class EmulatorUpload : public ::testing::Test {
  protected:
    void Upload(std::vector<std::string> options, const char16_t* port, wce::DWORD rate) {
        ASSERT_TRUE(logos_.ok);
        options.insert(options.end(), {"--out", dir_.File("out"), "--nv", nvPath_});
        ASSERT_TRUE(emulator_.Start(options)) << emulator_.firstLine;
        if (emulator_.firstLine.rfind("pty ", 0) == 0)
            qxtest::SetText(port, Wide(emulator_.firstLine.substr(4)), u"Platform\\Devices");
        NvPrinterLink link;
        ASSERT_TRUE(OpenPrinterLink(link, port, rate));
        EXPECT_TRUE(UploadNvImages(link, Paths({logos_.first, logos_.second})));
        bool stored = WaitForImages(2);
        ClosePrinterLink(link);
        EXPECT_EQ(emulator_.Stop(), 0);
        ASSERT_TRUE(stored);
        qxemu::NvStore store(nvPath_);
        std::string message;
        ASSERT_TRUE(store.Load(&message)) << message;
        int n = 0;
        for (const std::string& path : {logos_.first, logos_.second}) {
            Bytes block = ReferenceBlock(ReadBytes(path));
            const qxemu::NvImage* image = store.Find(++n);
            ASSERT_NE(image, nullptr) << n;
            EXPECT_EQ(image->widthUnits, block[0] | block[1] << 8) << n;
            EXPECT_EQ(image->heightUnits, block[2] | block[3] << 8) << n;
            EXPECT_TRUE(image->columns == Bytes(block.begin() + 4, block.end())) << n;
        }
        EXPECT_TRUE(boxes_.shown().empty());
    }
    // The emulator saves its memory once the last announced image has arrived.
    bool WaitForImages(int count) {
        for (int i = 0; i < 200; ++i) {
            qxemu::NvStore store(nvPath_);
            std::string message;
            if (std::filesystem::exists(nvPath_) && store.Load(&message) && store.Count() == count)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    qxtest::TempWorld world_{"qxnvup"};
    TempDir dir_;
    Logos logos_{dir_};
    std::string nvPath_ = dir_.File("nv-images.bin");
    qxtest::EmulatorProcess emulator_{QX_EMULATOR_BIN};
    wce::ScriptedMessageBoxes boxes_;
};

TEST_F(EmulatorUpload, OverTcp) {
    Upload({"--tcp", "127.0.41.30:9100"}, u"127.0.41.30", 9100);
}

TEST_F(EmulatorUpload, OverAPseudoTerminalAt115200) {
    Upload({"--pty"}, u"COM9:", 115200);
}

}  // namespace
}  // namespace qxsetup::testing
