#include "job.h"

#include <cstdarg>

#include "cpcl.h"
#include "escpos.h"
#include "output.h"
#include "protocol/commands.h"
#include "wce/base.h"

namespace qx470 {

namespace {

constexpr int kTextBufferChars = 128;

constexpr auto kHeader = qxproto::Widen(qxproto::kCpclLabelHeader);
constexpr auto kGapSense = qxproto::Widen(qxproto::kCpclGapSense);
constexpr auto kBarSense = qxproto::Widen(qxproto::kCpclBarSense);
constexpr auto kJournal = qxproto::Widen(qxproto::kCpclJournal);
constexpr auto kBackfeed = qxproto::Widen(qxproto::kCpclBackfeed);
constexpr auto kFormPrint = qxproto::Widen(qxproto::kCpclFormPrint);
constexpr auto kPrintOnly = qxproto::Widen(qxproto::kCpclPrint);
constexpr auto kTextLine = qxproto::Widen(qxproto::kTextLineFormat);

void WriteStoredImage(PrinterJob& job, int number) {
    auto command = qxproto::PrintStoredImage(static_cast<qxproto::Byte>(number & 0xFF));
    PrinterWrite(job, command.data(), command.size());
}

void PrintEscPos(PrinterJob& job, const DriverSettings& s) {
    for (int copy = 0; copy < s.copies; ++copy) {
        if (s.startLogo != 0) WriteStoredImage(job, s.startLogo);
        PrinterSendText(job, kTextLine.text, s.startDocText);
        SendEscPosPage(job, s.printingLength);
        PrinterSendText(job, kTextLine.text, s.endDocText);
        if (s.endLogo != 0) WriteStoredImage(job, s.endLogo);
        if (s.printingLength == 0)
            PrinterWrite(job, qxproto::kPageTrailer.data(), qxproto::kPageTrailer.size());
    }
}

void PrintCpcl(PrinterJob& job, const DriverSettings& s) {
    PrinterSendText(job, kHeader.text, static_cast<int>(s.paperHeight * 0.8), s.copies);
    if (s.emulation == 2)
        PrinterSendText(job, kBarSense.text);
    else if (s.emulation == 3)
        PrinterSendText(job, kJournal.text);
    else
        PrinterSendText(job, kGapSense.text);
    if (s.backFeed != 0) PrinterSendText(job, kBackfeed.text);
    SendCpclPage(job, s.rotation);
    PrinterSendText(job, s.emulation == 3 ? kPrintOnly.text : kFormPrint.text);
}

// The engine reports the failure of a page or document with the port's error code.
wce::BOOL DocumentResult(const PrinterJob& job) {
    if (!job.sendFailed) return wce::TRUE;
    wce::SetLastError(job.sendError);
    return wce::FALSE;
}

}  // namespace

int& PageCounter() {
    static int pages = 0;
    return pages;
}

void PrinterSendText(PrinterJob& job, wce::LPCWSTR format, ...) {
    wce::WCHAR wide[kTextBufferChars] = {};
    va_list args;
    va_start(args, format);
    wce::FormatWideV(wide, kTextBufferChars, format, args);
    va_end(args);
    wce::BYTE bytes[kTextBufferChars] = {};
    int count = 0;
    while (count < kTextBufferChars - 1 && wide[count]) {
        bytes[count] = static_cast<wce::BYTE>(wide[count] & 0xFF);
        ++count;
    }
    if (count >= 2) PrinterWrite(job, bytes, static_cast<std::size_t>(count));
}

void PrintPage(PrinterJob& job, const DriverSettings& settings) {
    if (settings.emulation == 0)
        PrintEscPos(job, settings);
    else
        PrintCpcl(job, settings);
}

wce::BOOL DrvStartDoc(wce::SURFOBJ*, wce::LPWSTR, wce::DWORD) {
    PrinterJob& job = TheJob();
    PageCounter() = 0;
    PrinterStartDocument(job);
    PrinterWrite(job, qxproto::kDocumentStart.data(), qxproto::kDocumentStart.size());
    PrinterSend(job);
    wce::Sleep(qxproto::kDocumentStartPauseMs);
    return wce::TRUE;
}

// Once a send of the document failed its pages are no longer encoded: nothing of them
// could be sent.
wce::BOOL DrvStartPage(wce::SURFOBJ*) {
    PrinterJob& job = TheJob();
    if (PageCounter()++ != 0 && !job.sendFailed) PrintPage(job, TheSettings());
    PrinterFlushPage(job);
    return DocumentResult(job);
}

wce::BOOL DrvEndDoc(wce::SURFOBJ*, wce::FLONG) {
    PrinterJob& job = TheJob();
    if (!job.sendFailed) PrintPage(job, TheSettings());
    PrinterFlushPage(job);
    PrinterFinishDocument(job);
    return DocumentResult(job);
}

}  // namespace qx470
