// The parallel transport and its prompts, against the in-process printer stand-in.
#include <fstream>
#include <sstream>
#include <string>

#include "port_test_support.h"
#include "qx470prnerr.h"
#include "wce/io.h"
#include "wce/testdevice.h"
#include "wce/ui.h"

namespace qx470 {
namespace {

using namespace qx470::testing;

const wce::BYTE* Bytes(const std::string& text) {
    return reinterpret_cast<const wce::BYTE*>(text.data());
}

class ParallelPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        device_ = wce::RegisterTestParallelDevice(u"LPT1:");
        device_->deviceId = "MFG:X;CMD:ESC;DES:Label printer;";
    }
    void TearDown() override {
        PortClose(PortKindParallel);
        wce::UnregisterTestParallelDevice(u"LPT1:");
    }
    // One stalled write with the given status word, answered with the given button.
    void StallOnceWith(wce::DWORD statusWord) {
        device_->statusWords = {statusWord};
        device_->acceptPlan = {0};
    }

    TempRegistry registry_;
    std::shared_ptr<wce::TestParallelDevice> device_;
};

TEST_F(ParallelPortTest, PaperOutPromptsWithTheDescriptionAndRetryResendsTheSameBytes) {
    ASSERT_EQ(PortOpen(u"LPT1:"), PortKindParallel);
    EXPECT_EQ(std::u16string(Port().printerName.get()), u"Label printer");
    StallOnceWith(wce::CE_OOP);
    wce::ScriptedMessageBoxes boxes({wce::IDRETRY});

    std::string job = "\x1B@hello\n";
    ASSERT_EQ(PortWrite(PortKindParallel, Bytes(job), wce::DWORD(job.size())), 1);

    auto shown = boxes.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].type, 0x00010015u);
    EXPECT_NE(shown[0].text.find(u"out of paper"), std::u16string::npos);
    EXPECT_NE(shown[0].text.find(u"Printer: Label printer\nPort: LPT1:"), std::u16string::npos);
    EXPECT_EQ(device_->writeCalls, 2u);
    ASSERT_EQ(device_->writes.size(), 1u);
    EXPECT_EQ(device_->writes[0], job);
    EXPECT_EQ(device_->received, job);
}

TEST_F(ParallelPortTest, StatusWordIsComparedAsAWhole) {
    struct Case {
        wce::DWORD word;
        bool statusFails;
        const char16_t* phrase;
    } cases[] = {
        {wce::CE_DNS, false, u"not selected"},
        {wce::CE_IOE, false, u"I/O error"},
        {wce::CE_PTO, false, u"not responding"},
        {wce::CE_DNS | wce::CE_OOP, false, u"not responding"},
        {0, false, u"not responding"},
        {wce::CE_OOP, true, u"not responding"},  // the status read fails
    };
    ASSERT_EQ(PortOpen(u"LPT1:"), PortKindParallel);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        wce::ScriptedMessageBoxes boxes({wce::IDRETRY});
        StallOnceWith(c.word);
        device_->statusFails = c.statusFails;
        ASSERT_EQ(PortWrite(PortKindParallel, Bytes("x"), 1), 1);
        auto shown = boxes.shown();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_NE(shown[0].text.find(c.phrase), std::u16string::npos)
            << wce::WideToUtf8(shown[0].text);
    }
}

TEST_F(ParallelPortTest, ShortWritesContinueWithTheRestWithoutAPrompt) {
    ASSERT_EQ(PortOpen(u"LPT1:"), PortKindParallel);
    device_->bytesPerWrite = 3;
    wce::ScriptedMessageBoxes boxes;
    std::string job(1024, 'a');
    for (size_t i = 0; i < job.size(); ++i) job[i] = char(i);
    ASSERT_EQ(PortWrite(PortKindParallel, Bytes(job), wce::DWORD(job.size())), 1);
    EXPECT_EQ(device_->received, job);
    EXPECT_EQ(device_->writes.size(), 342u);
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(ParallelPortTest, RetryAsksAgainWhileThePrinterStillStalls) {
    ASSERT_EQ(PortOpen(u"LPT1:"), PortKindParallel);
    device_->statusWords = {wce::CE_OOP, wce::CE_DNS};
    device_->acceptPlan = {0, 0};
    wce::ScriptedMessageBoxes boxes({wce::IDRETRY, wce::IDRETRY});
    ASSERT_EQ(PortWrite(PortKindParallel, Bytes("ab"), 2), 1);
    auto shown = boxes.shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_NE(shown[0].text.find(u"out of paper"), std::u16string::npos);
    EXPECT_NE(shown[1].text.find(u"not selected"), std::u16string::npos);  // read afresh
    EXPECT_EQ(device_->received, "ab");
}

TEST_F(ParallelPortTest, UnansweredPromptCancelsAndClosesThePort) {
    ASSERT_EQ(PortOpen(u"LPT1:"), PortKindParallel);
    device_->bytesPerWrite = 0;
    // No handler installed: the headless default answers Cancel.
    EXPECT_EQ(PortWrite(PortKindParallel, Bytes("abc"), 3), 0);
    EXPECT_FALSE(HasTransport(Port()));
    EXPECT_EQ(PortWrite(PortKindParallel, Bytes("abc"), 3), 0);
    EXPECT_EQ(wce::GetLastError(), wce::ERROR_WRITE_FAULT);
    EXPECT_EQ(device_->writeCalls, 1u);
    EXPECT_TRUE(device_->received.empty());
}

TEST(PrinterStatusPrompt, UnknownCodeGivesNoPromptAndCountsAsCancel) {
    wce::ScriptedMessageBoxes boxes({wce::IDRETRY});
    EXPECT_EQ(ReportPrinterStatus(0x80000006, u"LPT1:", u"P", 0), 0);
    EXPECT_EQ(ReportPrinterStatus(0, u"LPT1:", u"P", 0), 0);
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(ReportPrinterStatus(StatusOther, u"LPT1:", u"P", 0), 1);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_NE(boxes.shown()[0].text.find(u"Printer: P\nPort: LPT1:"), std::u16string::npos);
}

TEST(PrinterStatusPrompt, NamesWithPercentSignsAreShownAsTheyAre) {
    wce::ScriptedMessageBoxes boxes({wce::IDCANCEL});
    EXPECT_EQ(ReportPrinterStatus(StatusPaperOut, u"LPT1:", u"100% %s %d", 0), 0);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_NE(boxes.shown()[0].text.find(u"Printer: 100% %s %d\n"), std::u16string::npos);
}

TEST(PrinterStatusPrompt, MissingNameWritesTheTwoErrorLines) {
    TempRegistry registry;
    std::string log = registry.dir() + "/debug.log";
    ::setenv("QX_DEBUG_LOG", log.c_str(), 1);
    wce::ScriptedMessageBoxes boxes({wce::IDRETRY});
    EXPECT_EQ(ReportPrinterStatus(StatusPaperOut, u"LPT1:", nullptr, 0), 0);
    EXPECT_EQ(ReportPrinterStatus(StatusPaperOut, nullptr, u"P", 0), 0);
    ::unsetenv("QX_DEBUG_LOG");
    EXPECT_TRUE(boxes.shown().empty());
    std::stringstream text;
    text << std::ifstream(log).rdbuf();
    std::string once =
        "ERROR: drivers\\printer\\qx470\\qx470prnerr line 74:"
        "Trying to report printer status with no printer name.\r\n";
    EXPECT_EQ(text.str(), once + once);
}

}  // namespace
}  // namespace qx470
