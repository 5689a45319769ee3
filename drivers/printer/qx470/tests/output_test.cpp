// The output buffer against a parallel printer stand-in: what reaches the port, in
// which writes, and what a failing port costs.
#include "output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output_test_support.h"
#include "port.h"
#include "wce/ui.h"

namespace qx470 {
namespace {

using testsupport::PrinterCapture;

std::vector<wce::BYTE> Counting(std::size_t count) {
    std::vector<wce::BYTE> bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<wce::BYTE>(i * 7);
    return bytes;
}

TEST(OutputTest, GathersBytesIntoFullBufferWrites) {
    PrinterCapture capture;
    ASSERT_TRUE(capture.Open());
    auto bytes = Counting(2500);
    EXPECT_EQ(PrinterWrite(capture.job(), bytes.data(), bytes.size()), 1);
    EXPECT_EQ(capture.WriteSizes(), (std::vector<std::size_t>{1024, 1024}));
    EXPECT_EQ(capture.job().outCount, 452);
    EXPECT_EQ(capture.Take(), std::string(bytes.begin(), bytes.end()));
}

TEST(OutputTest, FullBufferWaitsForTheNextByte) {
    PrinterCapture capture;
    ASSERT_TRUE(capture.Open());
    auto bytes = Counting(1024);
    EXPECT_EQ(PrinterWrite(capture.job(), bytes.data(), bytes.size()), 1);
    EXPECT_TRUE(capture.WriteSizes().empty());
    wce::BYTE one = 0x42;
    EXPECT_EQ(PrinterWrite(capture.job(), &one, 1), 1);
    EXPECT_EQ(capture.WriteSizes(), std::vector<std::size_t>{1024});
    EXPECT_EQ(capture.job().outCount, 1);
}

TEST(OutputTest, NothingToSendCallsNoPort) {
    PrinterCapture capture;
    PrinterJob& job = capture.job();
    PrinterClosePort(job);  // no port open: nothing at all
    EXPECT_EQ(job.portHandle, PortKindNone);
    wce::BYTE byte = 1;
    EXPECT_EQ(PrinterWrite(job, nullptr, 5), 0);
    EXPECT_EQ(job.outCount, 0);
    EXPECT_EQ(PrinterWrite(job, &byte, 0), 1);
    EXPECT_EQ(PrinterSend(job), 1);  // empty buffer, no port needed
    ASSERT_TRUE(capture.Open());
    EXPECT_EQ(PrinterSend(job), 1);
    EXPECT_TRUE(capture.WriteSizes().empty());
    EXPECT_EQ(capture.DebugLog(), "");
}

TEST(OutputTest, AfterAFailedSendNothingMoreOfTheDocumentReachesThePort) {
    PrinterCapture capture;
    ASSERT_TRUE(capture.Open());
    PrinterJob& job = capture.job();
    wce::ScriptedMessageBoxes boxes({wce::IDCANCEL});
    capture.device().acceptPlan = {0};  // stalls once, then would take everything
    auto bytes = Counting(1500);
    EXPECT_EQ(PrinterWrite(job, bytes.data(), bytes.size()), 0);
    EXPECT_EQ(boxes.shown().size(), 1u);
    EXPECT_TRUE(job.sendFailed);
    EXPECT_EQ(job.sendError, wce::DWORD(wce::ERROR_CANCELLED));
    // The rest of the write is not kept for a later flush, where it would arrive as
    // the middle of a command.
    EXPECT_EQ(job.outCount, 0);
    EXPECT_EQ(PrinterWrite(job, bytes.data(), 10), 0);
    EXPECT_EQ(job.outCount, 0);
    EXPECT_EQ(PrinterSend(job), 0);
    EXPECT_EQ(PrinterFlushPage(job), 0);
    EXPECT_EQ(PrinterFinishDocument(job), 0);
    EXPECT_EQ(capture.device().writeCalls, 1u);
    EXPECT_EQ(capture.Take(), "");
    // One line for the failed send, none for the sends not tried.
    EXPECT_EQ(capture.DebugLog(), "\tPrinterSend() Failed\r\n");
}

TEST(OutputTest, FlushPageSendsAndRestartsTheRowCounters) {
    PrinterCapture capture;
    ASSERT_TRUE(capture.Open());
    PrinterJob& job = capture.job();
    job.rowParity = 17;
    job.nextRow = 17;
    wce::BYTE bytes[] = {0x1B, 0x4A, 0x02};
    PrinterWrite(job, bytes, sizeof bytes);
    EXPECT_EQ(PrinterFlushPage(job), 1);
    EXPECT_EQ(job.rowParity, 0);
    EXPECT_EQ(job.nextRow, 0);
    EXPECT_EQ(capture.WriteSizes(), std::vector<std::size_t>{3});
}

TEST(OutputTest, OpenReadsTheInkCapabilityAndCloseFlushes) {
    PrinterCapture capture;
    PrinterJob& job = capture.job();
    capture.device().deviceId = "MFG:QX;MODEL:QX-470;CAP:$0C;";  // colour only
    ASSERT_TRUE(capture.Open());
    EXPECT_EQ(job.portHandle, PortKindParallel);
    EXPECT_EQ(job.noBlackInk, 1);

    capture.device().deviceId = "MFG:QX;MODEL:QX-470;CAP:$0B;";
    wce::BYTE bytes[] = {1, 2, 3};
    PrinterWrite(job, bytes, sizeof bytes);
    ASSERT_TRUE(capture.Open());  // the old port is flushed before it closes
    EXPECT_EQ(job.noBlackInk, 0);
    EXPECT_EQ(capture.WriteSizes(), std::vector<std::size_t>{3});

    PrinterWrite(job, bytes, sizeof bytes);
    PrinterClosePort(job);
    EXPECT_EQ(job.portHandle, PortKindNone);
    EXPECT_EQ(capture.WriteSizes(), (std::vector<std::size_t>{3, 3}));
}

TEST(OutputTest, UnopenablePortGivesMinusOne) {
    PrinterCapture capture;
    EXPECT_EQ(PrinterOpenPort(capture.job(), u"LPT7:"), -1);
    EXPECT_EQ(capture.job().portHandle, PortKindNone);
}

}  // namespace
}  // namespace qx470
