// What the image manager sends to the printer over the utility's own link: opening and
// closing the link, the upload of bitmap files into the printer's image memory, the
// print-out of every stored image and the erase.
#pragma once

#include <string>
#include <vector>

#include "printer_link.h"
#include "wce/types.h"

namespace qxsetup {

enum class NvLinkKind { kSerial, kNetwork };

// The printer keeps images 1 to 255, and the define-images header counts them in one
// byte.
inline constexpr int kMaxNvImages = 255;
// How long a network send may wait for the printer to take more before the block is
// given up.
inline constexpr wce::DWORD kSendStallMs = 30000;

// The link the image manager uses: which kind it opened last, over the utility's two
// links.
struct NvPrinterLink {
    NvLinkKind kind = NvLinkKind::kSerial;
    NetworkLink* network = &TheNetworkLink();
    SerialLink* serial = &TheSerialLink();
    wce::DWORD sendStallMs = kSendStallMs;
};

// A port string beginning with "COM" opens that serial port; anything else is the
// printer's IPv4 address. rate: the bit rate for a serial port, the TCP port otherwise.
bool OpenPrinterLink(NvPrinterLink& link, wce::LPCWSTR port, wce::DWORD rate);
void ClosePrinterLink(NvPrinterLink& link);

// True when the link took the whole of bytes. A network socket that takes part of them
// is given the rest as it becomes writable, for as long as it keeps taking bytes.
bool SendToPrinter(NvPrinterLink& link, const wce::BYTE* bytes, int count);

// Initialise, a pause, then the define-images header for count images.
bool SendDefineHeader(NvPrinterLink& link, int count);
// Converts one file and sends its image block: 0, or -1 when the file was refused (the
// user is told why) and nothing was sent for it.
int UploadImageFile(NvPrinterLink& link, wce::LPCWSTR path);
// The whole upload of the listed files, in list order. More files than the printer
// holds are refused with a message, before anything is sent. Every file is converted
// first: each refused one is named in its message, and the header counts only the
// files that follow it. False when nothing was sent.
bool UploadNvImages(NvPrinterLink& link, const std::vector<std::u16string>& paths);
// Asks for every image number, 1 to 255, then feeds and cuts.
bool PrintAllNvImages(NvPrinterLink& link);
// Erases the image memory, then feeds and cuts.
bool EraseNvImages(NvPrinterLink& link);

}  // namespace qxsetup
