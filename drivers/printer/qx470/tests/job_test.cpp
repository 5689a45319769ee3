// What a document and its pages send, byte for byte, in both emulations.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "escpos.h"
#include "job.h"
#include "output_test_support.h"
#include "settings.h"
#include "wce/base.h"
#include "wce/ui.h"

using namespace qx470;
using qx470::testsupport::Hex;
using qx470::testsupport::PrinterCapture;

namespace {

std::string Text(const char* s) {
    return std::string(s);
}

DriverSettings Cpcl(int emulation, int copies, int backFeed) {
    DriverSettings s;
    s.emulation = emulation;
    s.paperHeight = 508;
    s.copies = copies;
    s.backFeed = backFeed;
    return s;
}

// The band of the CPCL example: two rows, two bytes wide, at byte 10 of row 5.
void DrawExampleBand(PrinterCapture& cap) {
    cap.SetPage(72, 399, 575);
    cap.Row(5)[10] = 0xFF;
    cap.Row(6)[10] = 0x0F;
    cap.Row(6)[11] = 0xF0;
}

const std::string kExampleGraphics =
    Text("CG 2 2 80 5") + "\xFF" + std::string(1, '\0') + "\x0F\xF0\r\n";

TEST(PrintPage, CpclWorkedExample) {
    PrinterCapture cap;
    ASSERT_TRUE(cap.Open());
    DrawExampleBand(cap);
    PrintPage(cap.job(), Cpcl(1, 1, 0));
    std::string expected =
        "! 0 203 203 406 1\r\nLABEL\r\nGAP-SENSE\r\n" + kExampleGraphics + "FORM\r\nPRINT\r\n";
    EXPECT_EQ(Hex(cap.Take()), Hex(expected));
}

TEST(PrintPage, CpclCopiesBackFeedJournalAndUnknownEmulation) {
    PrinterCapture cap;
    ASSERT_TRUE(cap.Open());
    DrawExampleBand(cap);
    PrintPage(cap.job(), Cpcl(1, 2, 1));
    EXPECT_EQ(cap.Take(), "! 0 203 203 406 2\r\nLABEL\r\nGAP-SENSE\r\nBACKFEED\r\n" +
                              kExampleGraphics + "FORM\r\nPRINT\r\n");
    PrintPage(cap.job(), Cpcl(3, 1, 0));
    EXPECT_EQ(cap.Take(), "! 0 203 203 406 1\r\nJOURNAL\r\n" + kExampleGraphics + "PRINT\r\n");
    PrintPage(cap.job(), Cpcl(2, 1, 0));
    EXPECT_EQ(cap.Take(), "! 0 203 203 406 1\r\nLABEL\r\nBAR-SENSE\r\n" + kExampleGraphics +
                              "FORM\r\nPRINT\r\n");
    PrintPage(cap.job(), Cpcl(7, 1, 0));
    EXPECT_EQ(cap.Take(), "! 0 203 203 406 1\r\nLABEL\r\nGAP-SENSE\r\n" + kExampleGraphics +
                              "FORM\r\nPRINT\r\n");
    // The label height follows "PHeight" alone: 1016 gives 812 dots.
    DriverSettings tall = Cpcl(1, 1, 0);
    tall.paperHeight = 1016;
    PrintPage(cap.job(), tall);
    EXPECT_EQ(cap.Take().substr(0, 19), "! 0 203 203 812 1\r\n");
}

TEST(PrintPage, EscPosLogosTextsCopiesAndTrailer) {
    PrinterCapture cap;
    ASSERT_TRUE(cap.Open());
    cap.SetPage(2, 4);
    cap.Row(1)[0] = 0x80;
    SendEscPosPage(cap.job(), 0);
    std::string raster = cap.Take();
    ASSERT_FALSE(raster.empty());

    DriverSettings s;
    s.emulation = 0;
    s.copies = 2;
    s.startLogo = 1;
    std::memcpy(s.startDocText, u"Hi", 6);
    s.printingLength = 0;
    PrintPage(cap.job(), s);
    std::string once = std::string("\x1C\x70\x01\x30", 4) + "Hi\n" + raster + "\r\n\r\n\r\n";
    EXPECT_EQ(Hex(cap.Take()), Hex(once + once));

    s.copies = 1;
    s.startLogo = 0;
    s.endLogo = 0x103;  // the command carries the low byte
    s.startDocText[0] = 0;
    std::memcpy(s.endDocText, u"A", 4);  // with its line feed, two bytes: sent
    PrintPage(cap.job(), s);
    EXPECT_EQ(Hex(cap.Take()),
              Hex(raster + "A\n" + std::string("\x1C\x70\x03\x30", 4) + "\r\n\r\n\r\n"));

    s.copies = 0;
    PrintPage(cap.job(), s);
    EXPECT_EQ(cap.Take(), "");
}

TEST(PrinterSendText, KeepsTheLowEightBitsOfEachCharacter) {
    PrinterCapture cap;
    ASSERT_TRUE(cap.Open());
    PrinterSendText(cap.job(), u"%s\n", u"\u00E9\uAD74x");
    EXPECT_EQ(Hex(cap.Take()), "E9 74 78 0A");
}

class DocumentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(PrinterOpenPort(TheJob(), u"LPT1:"), -1);
        page_.assign(2 * 3, 0);
        PrinterJob& job = TheJob();
        job.pageImage = page_.data();
        job.bytesPerRow = 2;
        job.pageWidth = 16;
        job.allocatedRows = job.printedLength = 3;
        TheSettings() = DriverSettings{};
        TheSettings().emulation = 0;
        TheSettings().copies = 1;
        TheSettings().printingLength = 1;
    }
    void TearDown() override {
        PrinterClosePort(TheJob());
        TheJob().pageImage = nullptr;
    }
    std::string Take() { return cap_.Take(); }
    PrinterCapture cap_;
    std::vector<wce::BYTE> page_;
};

TEST_F(DocumentTest, StartDocSendsFourZerosAndWaits) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(DrvStartDoc(nullptr, nullptr, 1), wce::TRUE);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(295));
    std::lock_guard<std::mutex> hold(cap_.device().lock);
    EXPECT_EQ(cap_.device().received, std::string(4, '\0'));  // sent at once, not left buffered
}

TEST_F(DocumentTest, EachPageIsPrintedWhenTheNextStartsOrTheDocumentEnds) {
    DrvStartDoc(nullptr, nullptr, 1);
    Take();
    EXPECT_EQ(DrvStartPage(nullptr), wce::TRUE);
    EXPECT_EQ(Take(), "");  // nothing drawn yet to print
    page_[0] = 0x01;        // page 1
    DrvStartPage(nullptr);
    EXPECT_EQ(Hex(Take()), "1D 76 30 00 01 00 01 00 01 1B 4A 04");
    EXPECT_EQ(TheJob().nextRow, 0);
    page_[0] = 0x02;  // page 2
    DrvStartPage(nullptr);
    EXPECT_EQ(Hex(Take()), "1D 76 30 00 01 00 01 00 02 1B 4A 04");
    page_[0] = 0x03;  // page 3
    EXPECT_EQ(DrvEndDoc(nullptr, 0), wce::TRUE);
    EXPECT_EQ(Hex(Take()), "1D 76 30 00 01 00 01 00 03 1B 4A 04");
}

TEST_F(DocumentTest, AFailedSendEndsTheDocumentAndTheNextStartsClean) {
    wce::ScriptedMessageBoxes boxes({wce::IDCANCEL});
    ASSERT_EQ(DrvStartDoc(nullptr, nullptr, 1), wce::TRUE);
    EXPECT_EQ(DrvStartPage(nullptr), wce::TRUE);
    page_[0] = 0x01;
    cap_.device().acceptPlan = {0};  // page 1 stalls; the user cancels
    wce::SetLastError(0);
    EXPECT_EQ(DrvStartPage(nullptr), wce::FALSE);
    EXPECT_EQ(wce::GetLastError(), wce::DWORD(wce::ERROR_CANCELLED));
    EXPECT_EQ(DrvStartPage(nullptr), wce::FALSE);
    EXPECT_EQ(DrvEndDoc(nullptr, 0), wce::FALSE);
    EXPECT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(Take(), std::string(4, '\0'));  // the document start, and nothing after it
    EXPECT_EQ(cap_.device().writeCalls, 2u);

    // The port went with the cancel; on a new one the next document prints in full.
    ASSERT_NE(PrinterOpenPort(TheJob(), u"LPT1:"), -1);
    EXPECT_EQ(DrvStartDoc(nullptr, nullptr, 2), wce::TRUE);
    EXPECT_EQ(DrvStartPage(nullptr), wce::TRUE);
    page_[0] = 0x01;
    EXPECT_EQ(DrvEndDoc(nullptr, 0), wce::TRUE);
    EXPECT_EQ(Hex(Take()), "00 00 00 00 1D 76 30 00 01 00 01 00 01 1B 4A 04");
}

}  // namespace
