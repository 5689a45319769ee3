// The printer's command decoder for one connection. Bytes arrive in pieces of any
// size; each command is decoded once all of its bytes are there. A job is ESC/POS or
// CPCL, told from its first bytes after the four zero bytes that start a document.
// Malformed or truncated input is logged with its byte offset and the command, and
// decoding goes on with what follows; nothing in the input can make it fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bitmap.h"
#include "device.h"
#include "nv_store.h"

namespace qxemu {

// Largest single command the decoder buffers (raster band, CG or ZCG graphic).
inline constexpr std::size_t kMaxCommandBytes = std::size_t{64} << 20;
// A receipt longer than this many rows (about 32 m) is written out and continued on a
// new one, so a runaway stream cannot exhaust memory.
inline constexpr int kMaxReceiptRows = 262144;
inline constexpr int kMaxLabelRows = 65535;
// Line advance of text: 24-dot characters plus 6 dots of spacing.
inline constexpr int kTextLineRows = 30;

// A CG or ZCG command read up to its last number, and one reading of that number
// (decoder_graphics.cpp).
struct GraphicCommand;
struct GraphicReading;

class Decoder {
  public:
    explicit Decoder(Device& device);

    void Feed(const std::uint8_t* data, std::size_t size);
    // The sender paused: finishes the receipt in progress.
    void Idle();
    // The connection ended: decodes what is left and finishes every page.
    void Finish();

    std::uint64_t Offset() const { return base_ + buffer_.size(); }

  private:
    enum class Mode {
        kStart,  // language not known yet
        kEscPos,
        kCpcl,      // CPCL job, between labels or inside one (label_.open)
        kNvBlocks,  // image blocks of FS q
        kSkip,      // skipping the rest of an oversized command
        kResync,    // CPCL: looking for the next command line after bad data
    };
    enum class Status { kDone, kNeedMore };

    struct Receipt {
        Bitmap paper;
        std::int64_t halfRows = 0;  // paper fed, in ESC J units
        std::string line;           // text waiting for its line feed
        bool used = false;
    };
    struct Label {
        bool open = false;
        Bitmap paper;
        int quantity = 1;
        std::string media;
        std::uint64_t offset = 0;
    };
    struct Upload {
        int announced = 0;
        std::uint64_t offset = 0;
        std::vector<NvImage> images;
    };

    void Run();
    Status Step(const std::uint8_t* p, std::size_t n, std::size_t* used);
    Status StepStart(const std::uint8_t* p, std::size_t n, std::size_t* used);
    // Zero bytes: four start a document, fewer are ignored.
    Status StepZeros(const std::uint8_t* p, std::size_t n, std::size_t* used);
    void DocumentStart();
    std::uint64_t Here() const { return base_ + pos_; }

    // ESC/POS (decoder_escpos.cpp).
    Status StepEscPos(const std::uint8_t* p, std::size_t n, std::size_t* used);
    Status StepEsc(const std::uint8_t* p, std::size_t n, std::size_t* used);
    Status StepFs(const std::uint8_t* p, std::size_t n, std::size_t* used);
    Status StepGs(const std::uint8_t* p, std::size_t n, std::size_t* used);
    Status StepRaster(const std::uint8_t* p, std::size_t n, std::size_t* used);
    Status StepText(const std::uint8_t* p, std::size_t n, std::size_t* used);
    Status StepNvBlock(const std::uint8_t* p, std::size_t n, std::size_t* used);
    Status SkipOutside(const char* name, std::size_t length, std::size_t n, std::size_t* used);
    void PrintStored(int number, int mode);
    void EndUpload(const std::string& why);
    void PrintRows(const std::uint8_t* rows, int widthBytes, int height, int scaleX, int scaleY,
                   const char* what);
    void FeedPaper(std::int64_t halfRows);
    void PrintTextLine();
    void EndReceipt(const char* why);

    // CPCL (decoder_cpcl.cpp).
    Status StepCpcl(const std::uint8_t* p, std::size_t n, std::size_t* used);
    Status StepCpclLine(const std::uint8_t* p, std::size_t n, std::size_t* used);
    Status StepGraphics(const std::uint8_t* p, std::size_t n, std::size_t keyword, bool compressed,
                        std::size_t* used);
    Status RefuseGraphic(const char* name, const std::string& why, std::size_t keyword,
                         std::size_t* used);
    void DrawGraphic(const std::uint8_t* p, const GraphicCommand& g, const GraphicReading& r);
    void DrawCompressedGraphic(const std::uint8_t* p, const GraphicCommand& g,
                               const GraphicReading& r);
    Status StepResync(const std::uint8_t* p, std::size_t n, std::size_t* used);
    void CpclLine(const std::string& line);
    void LabelHeader(const std::string& line);
    void PlaceGraphic(const std::uint8_t* rows, long long w, long long h, long long x, long long y,
                      const char* what);
    void PlaceExpanded(const std::string& line);
    void EndLabel(bool printed);

    Device& device_;
    Log& log_;
    std::vector<std::uint8_t> buffer_;
    std::size_t pos_ = 0;     // next undecoded byte of buffer_
    std::uint64_t base_ = 0;  // stream offset of buffer_[0]
    bool atEnd_ = false;      // no more bytes will come
    bool decideNow_ = false;  // idle: decide with the bytes at hand where waiting is optional
    Mode mode_ = Mode::kStart;
    std::uint64_t skipLeft_ = 0;
    std::uint64_t resyncFrom_ = 0;  // where the bad CPCL data began
    Receipt receipt_;
    Label label_;
    Upload upload_;
};

}  // namespace qxemu
