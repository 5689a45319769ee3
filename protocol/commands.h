// Every command the QX system sends to the printer, and what the sender relies on the
// printer to do with it. The driver, the settings utility and the emulator all take
// their bytes from here, so a command is spelled in one place only.
//
// ESC/POS commands are binary; CPCL commands are ASCII text lines. The CPCL texts are
// kept narrow (the exact bytes on the wire); Widen() gives the UTF-16 form the driver
// formats with, since it sends the low 8 bits of each character.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace qxproto {

using Byte = std::uint8_t;

// ---------------------------------------------------------------------------------
// Document framing (driver)

// Four zero bytes precede every document; the printer prints nothing for them. The
// driver then waits before it sends anything else.
inline constexpr std::array<Byte, 4> kDocumentStart = {0x00, 0x00, 0x00, 0x00};
inline constexpr unsigned kDocumentStartPauseMs = 300;

// ---------------------------------------------------------------------------------
// ESC/POS

inline constexpr Byte kEsc = 0x1B;
inline constexpr Byte kFs = 0x1C;
inline constexpr Byte kGs = 0x1D;
inline constexpr Byte kLf = 0x0A;
inline constexpr Byte kCr = 0x0D;

// ESC @: resets the printer. Sent by the image manager before an upload.
inline constexpr std::array<Byte, 2> kInitialize = {kEsc, 0x40};

// FS p n 48: prints stored image n (1 to 255) at normal size. The driver sends it for
// the start and end logos, the image manager for its print-out.
inline constexpr Byte kPrintStoredImageCode = 0x70;
inline constexpr Byte kPrintStoredImageNormal = 0x30;
constexpr std::array<Byte, 4> PrintStoredImage(Byte n) {
    return {kFs, kPrintStoredImageCode, n, kPrintStoredImageNormal};
}

// FS q n, then n image blocks: stores the blocks as images 1 to n, in the order sent.
// Each block is xL xH yL yH (width and height in units of 8 dots) and column data.
inline constexpr Byte kDefineImagesCode = 0x71;
constexpr std::array<Byte, 3> DefineImagesHeader(Byte count) {
    return {kFs, kDefineImagesCode, count};
}
inline constexpr std::size_t kImageBlockHeaderSize = 4;

// FS e: erases every stored image.
inline constexpr std::array<Byte, 2> kEraseStoredImages = {kFs, 0x65};

// GS V 66 1: feeds the paper and cuts. Sent after the image manager's print-out and
// erase.
inline constexpr std::array<Byte, 4> kFeedAndCut = {kGs, 0x56, 0x42, 0x01};

// GS v 0 m=0 xL xH yL yH, then y rows of x bytes: prints a raster image x bytes wide
// and y rows high, most significant bit leftmost, 1 = black. No left offset: every
// row starts at the left edge of the paper.
inline constexpr std::array<Byte, 4> kRasterImage = {kGs, 0x76, 0x30, 0x00};
inline constexpr std::size_t kRasterImageHeaderSize = 8;
constexpr std::array<Byte, kRasterImageHeaderSize> RasterImageHeader(unsigned widthBytes,
                                                                     unsigned rows) {
    return {kRasterImage[0],
            kRasterImage[1],
            kRasterImage[2],
            kRasterImage[3],
            static_cast<Byte>(widthBytes & 0xFF),
            static_cast<Byte>((widthBytes >> 8) & 0xFF),
            static_cast<Byte>(rows & 0xFF),
            static_cast<Byte>((rows >> 8) & 0xFF)};
}

// ESC J n: feeds the paper by n units. Two units are one dot row at 203 dpi, so a run
// of blank rows costs three bytes. One command feeds at most 255 units.
inline constexpr Byte kFeedCode = 0x4A;
inline constexpr unsigned kFeedUnitsPerRow = 2;
inline constexpr unsigned kMaxFeedUnits = 255;
constexpr std::array<Byte, 3> Feed(Byte units) {
    return {kEsc, kFeedCode, units};
}

// A start or end text is printed as one line: its bytes followed by LF.
inline constexpr char kTextLineFormat[] = "%s\n";

// CR LF three times after an ESC/POS page that does not feed its blank rows: feeds
// three lines.
inline constexpr std::array<Byte, 6> kPageTrailer = {kCr, kLf, kCr, kLf, kCr, kLf};

// ---------------------------------------------------------------------------------
// CPCL (label emulations)

// Starts a label: offset 0, 203 dpi both ways, label height in dots, quantity.
inline constexpr char kCpclLabelHeader[] = "! 0 203 203 %d %d\r\n";

// Media words: gap sensing and mark sensing select label stock; JOURNAL selects
// continuous paper.
inline constexpr char kCpclGapSense[] = "LABEL\r\nGAP-SENSE\r\n";
inline constexpr char kCpclBarSense[] = "LABEL\r\nBAR-SENSE\r\n";
inline constexpr char kCpclJournal[] = "JOURNAL\r\n";

// The back-feed command; sent on every page when back-feed is set.
inline constexpr char kCpclBackfeed[] = "BACKFEED\r\n";

// Places an uncompressed graphic: width in bytes, height in rows, x in dots, y in
// rows; then width x height bytes, rows top to bottom, MSB leftmost, 1 = black. The
// binary data follows the last number directly; CR LF ends the command.
inline constexpr char kCpclGraphics[] = "CG %d %d %d %d";
// Same with LZW data: the fifth number counts the 4-byte little-endian uncompressed
// size plus the compressed bytes (see the LZW codes below). The printer's decoder
// inverts the driver's coder exactly.
inline constexpr char kCpclCompressedGraphics[] = "ZCG %d %d %d %d %d";
inline constexpr std::array<Byte, 2> kCpclGraphicsEnd = {kCr, kLf};
inline constexpr std::size_t kCpclLengthFieldSize = 4;

// Ends and prints the page: FORM first moves to the next label; continuous paper
// only prints.
inline constexpr char kCpclFormPrint[] = "FORM\r\nPRINT\r\n";
inline constexpr char kCpclPrint[] = "PRINT\r\n";

// The words those lines are made of, as a receiver reads them a line at a time.
inline constexpr std::string_view kCpclWordHeader = "!";
inline constexpr std::string_view kCpclWordLabel = "LABEL";
inline constexpr std::string_view kCpclWordGapSense = "GAP-SENSE";
inline constexpr std::string_view kCpclWordBarSense = "BAR-SENSE";
inline constexpr std::string_view kCpclWordJournal = "JOURNAL";
inline constexpr std::string_view kCpclWordBackfeed = "BACKFEED";
inline constexpr std::string_view kCpclWordGraphics = "CG";
inline constexpr std::string_view kCpclWordCompressedGraphics = "ZCG";
inline constexpr std::string_view kCpclWordForm = "FORM";
inline constexpr std::string_view kCpclWordPrint = "PRINT";

// True when text is exactly the given words, each on a line ended by CR LF.
constexpr bool IsCpclLines(std::string_view text, std::initializer_list<std::string_view> words) {
    for (std::string_view word : words) {
        if (text.substr(0, word.size()) != word || text.substr(word.size(), 2) != "\r\n")
            return false;
        text.remove_prefix(word.size() + 2);
    }
    return text.empty();
}
static_assert(IsCpclLines(kCpclGapSense, {kCpclWordLabel, kCpclWordGapSense}));
static_assert(IsCpclLines(kCpclBarSense, {kCpclWordLabel, kCpclWordBarSense}));
static_assert(IsCpclLines(kCpclJournal, {kCpclWordJournal}));
static_assert(IsCpclLines(kCpclBackfeed, {kCpclWordBackfeed}));
static_assert(IsCpclLines(kCpclFormPrint, {kCpclWordForm, kCpclWordPrint}));
static_assert(IsCpclLines(kCpclPrint, {kCpclWordPrint}));
static_assert(std::string_view(kCpclGraphics).substr(0, 3) == "CG " &&
              std::string_view(kCpclCompressedGraphics).substr(0, 4) == "ZCG " &&
              std::string_view(kCpclLabelHeader).substr(0, 2) == "! ");

// ---------------------------------------------------------------------------------
// ZCG data: 12-bit LZW codes, packed least significant bit first into 32-bit
// little-endian words; the stream is always a whole number of words.

inline constexpr int kLzwCodeBits = 12;
inline constexpr int kLzwMaxByteCode = 255;    // 0 to 255: the byte itself
inline constexpr int kLzwLastEntryCode = 256;  // the entry added most recently
inline constexpr int kLzwResetCode = 257;      // reset; always followed by code 0
inline constexpr int kLzwEndCode = 258;        // end of data
inline constexpr int kLzwFirstRunCode = 259;   // 257 + k: k x 4 zero bytes
inline constexpr int kLzwLongRunCode = 511;    // 254 x 4 zero bytes
inline constexpr int kLzwRunBase = 257;
inline constexpr int kLzwRunUnit = 4;  // zero runs count 32-bit words
inline constexpr int kLzwMinRunWords = 2;
inline constexpr int kLzwMaxRunWords = 254;
inline constexpr int kLzwFirstStringCode = 512;  // first dictionary string
inline constexpr int kLzwCodeLimit = 4096;       // one past the last string code

constexpr int LzwRunLength(int code) {
    return (code - kLzwRunBase) * kLzwRunUnit;
}

// ---------------------------------------------------------------------------------
// The UTF-16 form of a command text, for formatting with wide printf-style
// functions. Every character is ASCII, so the low bytes equal the narrow text.

template <std::size_t N>
struct WideText {
    char16_t text[N] = {};
    constexpr const char16_t* c_str() const { return text; }
};

template <std::size_t N>
constexpr WideText<N> Widen(const char (&narrow)[N]) {
    WideText<N> wide;
    for (std::size_t i = 0; i < N; ++i) {
        wide.text[i] = static_cast<char16_t>(static_cast<unsigned char>(narrow[i]));
    }
    return wide;
}

}  // namespace qxproto
