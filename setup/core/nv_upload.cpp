#include "nv_upload.h"

#include <new>

#include "mono_image.h"
#include "protocol/commands.h"
#include "wce/base.h"
#include "wce/winsock.h"

namespace qxsetup {

using namespace wce;

namespace {

constexpr DWORD kHeaderPauseMs = 100;

int SerialRateCode(DWORD rate) {
    for (int code = 3; code <= 10; ++code) {
        if (SerialRate(code) == rate) return code;
    }
    return 0;
}

bool StartsWithCom(LPCWSTR port) {
    return port && port[0] == u'C' && port[1] == u'O' && port[2] == u'M';
}

template <std::size_t N>
bool SendCommand(NvPrinterLink& link, const std::array<qxproto::Byte, N>& command) {
    return SendToPrinter(link, command.data(), int(N));
}

// Waits until the socket takes bytes again, at most stallMs.
bool WaitWritable(SOCKET socket, DWORD stallMs) {
    wce::fd_set writable;
    FD_ZERO(&writable);
    FD_SET(socket, &writable);
    wce::timeval limit{LONG(stallMs / 1000), LONG(stallMs % 1000 * 1000)};
    return select(0, nullptr, &writable, nullptr, &limit) > 0;
}

// The socket does not wait, so a full send buffer takes part of a block or none of it.
// The rest goes as the printer reads; only a printer that takes nothing for the whole
// stall time, or a broken connection, fails the block.
bool SendAllOnNetwork(NvPrinterLink& link, const BYTE* bytes, int count) {
    NetworkLink& network = *link.network;
    int done = 0;
    while (done < count) {
        int sent = network.Send(bytes + done, count - done);
        if (sent > 0) {
            done += sent;
            continue;
        }
        if (sent == 0 || WSAGetLastError() != WSAEWOULDBLOCK) return false;
        if (!WaitWritable(network.tcpSocket, link.sendStallMs)) return false;
    }
    return true;
}

}  // namespace

bool OpenPrinterLink(NvPrinterLink& link, LPCWSTR port, DWORD rate) {
    if (!StartsWithCom(port)) {
        link.kind = NvLinkKind::kNetwork;
        if (link.network->Connect(port, u_short(rate))) return true;
        link.network->Close();
        return false;
    }
    link.kind = NvLinkKind::kSerial;
    if (link.serial->Open(port, SerialRateCode(rate))) return true;
    link.serial->Close();
    return false;
}

void ClosePrinterLink(NvPrinterLink& link) {
    if (link.kind == NvLinkKind::kSerial) {
        link.serial->Close();
    } else {
        link.network->Close();
    }
}

bool SendToPrinter(NvPrinterLink& link, const BYTE* bytes, int count) {
    if (link.kind == NvLinkKind::kSerial) return link.serial->Write(bytes, count);
    return SendAllOnNetwork(link, bytes, count);
}

bool SendDefineHeader(NvPrinterLink& link, int count) {
    if (!SendCommand(link, qxproto::kInitialize)) return false;
    Sleep(kHeaderPauseMs);
    return SendCommand(link, qxproto::DefineImagesHeader(qxproto::Byte(count)));
}

int UploadImageFile(NvPrinterLink& link, LPCWSTR path) {
    MonoImage image;
    if (!LoadMonoImage(path, &image)) return -1;
    std::vector<std::uint8_t> block;
    try {
        block = BuildNvImageBlock(image);
    } catch (const std::bad_alloc&) {
        ShowAppMessage(u"The image is too large to convert");
        return -1;
    }
    // The printer is not asked whether it took the block: the next file follows anyway.
    SendToPrinter(link, block.data(), int(qxproto::kImageBlockHeaderSize));
    SendToPrinter(link, block.data() + qxproto::kImageBlockHeaderSize,
                  int(block.size() - qxproto::kImageBlockHeaderSize));
    return 0;
}

namespace {

// Every listed file converted before anything is sent: the header must count only the
// blocks that follow it, or the printer takes the next command as image data.
std::vector<std::vector<std::uint8_t>> ConvertFiles(const std::vector<std::u16string>& paths) {
    std::vector<std::vector<std::uint8_t>> blocks;
    for (const std::u16string& path : paths) {
        MonoImage image;
        std::u16string message;
        bool converted = ReadMonoImage(path.c_str(), &image, &message);
        if (converted) {
            try {
                blocks.push_back(BuildNvImageBlock(image));
            } catch (const std::bad_alloc&) {
                converted = false;
                message = u"The image is too large to convert";
            }
        }
        if (!converted)
            ShowAppMessage(
                FormatWideString(u"%s is not uploaded:\n%s", path.c_str(), message.c_str())
                    .c_str());
    }
    return blocks;
}

}  // namespace

bool UploadNvImages(NvPrinterLink& link, const std::vector<std::u16string>& paths) {
    if (paths.size() > std::size_t(kMaxNvImages)) {
        // The header counts in one byte: 256 files would announce none at all.
        ShowAppMessage(FormatWideString(u"The printer stores at most %d images; %d files are "
                                        u"listed. Delete some files and upload again.",
                                        kMaxNvImages, int(paths.size()))
                           .c_str());
        return false;
    }
    std::vector<std::vector<std::uint8_t>> blocks = ConvertFiles(paths);
    if (blocks.empty()) return false;  // nothing to store; the printer keeps its images
    // The blocks follow even when the header send failed.
    SendDefineHeader(link, int(blocks.size()));
    for (const std::vector<std::uint8_t>& block : blocks) {
        SendToPrinter(link, block.data(), int(qxproto::kImageBlockHeaderSize));
        SendToPrinter(link, block.data() + qxproto::kImageBlockHeaderSize,
                      int(block.size() - qxproto::kImageBlockHeaderSize));
    }
    return true;
}

bool PrintAllNvImages(NvPrinterLink& link) {
    for (int k = 1; k <= kMaxNvImages; ++k) {
        if (!SendCommand(link, qxproto::PrintStoredImage(qxproto::Byte(k)))) return false;
    }
    return SendCommand(link, qxproto::kFeedAndCut);
}

bool EraseNvImages(NvPrinterLink& link) {
    if (!SendCommand(link, qxproto::kEraseStoredImages)) return false;
    return SendCommand(link, qxproto::kFeedAndCut);
}

}  // namespace qxsetup
