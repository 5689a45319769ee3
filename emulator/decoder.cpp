#include "decoder.h"

#include <algorithm>

#include "protocol/commands.h"

namespace qxemu {

namespace {

// Decoded bytes are dropped from the front of the buffer once this many gathered.
constexpr std::size_t kCompactAt = 1 << 16;

}  // namespace

Decoder::Decoder(Device& device) : device_(device), log_(device.GetLog()) {
    receipt_.paper = Bitmap(device.PaperWidth(), 0);
}

void Decoder::Feed(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return;
    if (mode_ == Mode::kSkip && pos_ == buffer_.size()) {
        // An oversized command is skipped as it streams in, never buffered.
        std::size_t skip = static_cast<std::size_t>(std::min<std::uint64_t>(skipLeft_, size));
        skipLeft_ -= skip;
        base_ += buffer_.size() + skip;
        buffer_.clear();
        pos_ = 0;
        data += skip;
        size -= skip;
        if (skipLeft_ == 0) mode_ = Mode::kEscPos;
    }
    buffer_.insert(buffer_.end(), data, data + size);
    Run();
}

void Decoder::Run() {
    while (pos_ < buffer_.size()) {
        std::size_t used = 0;
        Mode before = mode_;
        Status status = Step(buffer_.data() + pos_, buffer_.size() - pos_, &used);
        pos_ += std::min(used, buffer_.size() - pos_);
        if (status == Status::kNeedMore) break;
        // Every step either consumes bytes or changes the mode; anything else would
        // loop forever, so one byte is given up instead.
        if (used == 0 && mode_ == before) {
            log_.Error(Here(), "decoder", "no progress; byte skipped");
            ++pos_;
        }
    }
    if (pos_ >= kCompactAt || pos_ == buffer_.size()) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(pos_));
        base_ += pos_;
        pos_ = 0;
    }
}

Decoder::Status Decoder::Step(const std::uint8_t* p, std::size_t n, std::size_t* used) {
    switch (mode_) {
        case Mode::kStart:
            return StepStart(p, n, used);
        case Mode::kEscPos:
            return StepEscPos(p, n, used);
        case Mode::kCpcl:
            return StepCpcl(p, n, used);
        case Mode::kNvBlocks:
            return StepNvBlock(p, n, used);
        case Mode::kResync:
            return StepResync(p, n, used);
        case Mode::kSkip: {
            std::size_t skip = static_cast<std::size_t>(std::min<std::uint64_t>(skipLeft_, n));
            skipLeft_ -= skip;
            *used = skip;
            if (skipLeft_ == 0) mode_ = Mode::kEscPos;
            return Status::kDone;
        }
    }
    return Status::kDone;
}

Decoder::Status Decoder::StepStart(const std::uint8_t* p, std::size_t n, std::size_t* used) {
    if (p[0] == 0x00) return StepZeros(p, n, used);
    if (p[0] == '!') {
        mode_ = Mode::kCpcl;
        log_.Command(Here(), "job", "CPCL (starts with '!')");
    } else {
        mode_ = Mode::kEscPos;
        log_.Command(Here(), "job", "ESC/POS");
    }
    return Status::kDone;
}

Decoder::Status Decoder::StepZeros(const std::uint8_t* p, std::size_t n, std::size_t* used) {
    const auto& start = qxproto::kDocumentStart;
    std::size_t zeros = 0;
    while (zeros < n && zeros < start.size() && p[zeros] == start[zeros]) ++zeros;
    if (zeros == start.size()) {
        *used = zeros;
        DocumentStart();
        return Status::kDone;
    }
    if (zeros == n && !atEnd_ && !decideNow_) return Status::kNeedMore;
    *used = zeros;
    log_.Command(Here(), "NUL", std::to_string(zeros) + " zero byte(s) ignored");
    return Status::kDone;
}

void Decoder::DocumentStart() {
    // Each document is its own print-out: whatever came before is finished first.
    if (label_.open) {
        log_.Error(Here(), "CPCL",
                   "label started at @" + std::to_string(label_.offset) +
                       " has no PRINT before the next document");
        EndLabel(false);
    }
    if (mode_ == Mode::kNvBlocks) EndUpload("a document start came");
    EndReceipt("document start");
    log_.Command(Here(), "00 00 00 00", "document start");
    mode_ = Mode::kStart;
}

void Decoder::Idle() {
    decideNow_ = true;
    Run();
    decideNow_ = false;
    if (mode_ == Mode::kNvBlocks && pos_ == buffer_.size()) EndUpload("the sender paused");
    if (mode_ == Mode::kEscPos || mode_ == Mode::kStart) EndReceipt("idle gap");
}

void Decoder::Finish() {
    atEnd_ = true;
    Run();
    if (pos_ < buffer_.size()) {
        log_.Error(Here(), "decoder",
                   std::to_string(buffer_.size() - pos_) + " byte(s) left undecoded at the end");
        pos_ = buffer_.size();
    }
    if (mode_ == Mode::kSkip && skipLeft_ > 0) {
        log_.Error(
            Here(), "decoder",
            "stream ended " + std::to_string(skipLeft_) + " byte(s) short of the skipped command");
    }
    if (mode_ == Mode::kNvBlocks) EndUpload("the stream ended");
    if (label_.open) {
        log_.Error(Here(), "CPCL",
                   "stream ended inside the label started at @" + std::to_string(label_.offset) +
                       " (no PRINT)");
        EndLabel(false);
    }
    EndReceipt("end of stream");
    log_.Line("-- end of stream after " + std::to_string(Offset()) + " bytes");
}

}  // namespace qxemu
