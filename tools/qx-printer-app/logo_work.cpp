// The logo memory's work in the job's worker process: pictures made one-bit bitmaps as
// the image manager converts them, and the image manager's commands over the port.
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>

#include "engine_job.h"
#include "logos.h"
#include "mono_image.h"
#include "nv_upload.h"
#include "wce/base.h"
#include "wce/gdi.h"
#include "wce/text.h"

namespace qxapp {

namespace {

void Put16(std::string& b, std::uint32_t v) {
    b += char(v & 0xFF), b += char((v >> 8) & 0xFF);
}
void Put32(std::string& b, std::uint32_t v) {
    Put16(b, v & 0xFFFF), Put16(b, v >> 16);
}

// A Windows bitmap of the given depth and palette around rows already padded to 4 bytes.
std::string BitmapFile(int width, int height, int bits, const std::string& palette,
                       const std::string& rows) {
    std::string file = "BM";
    std::uint32_t offset = 14 + 40 + std::uint32_t(palette.size());
    Put32(file, offset + std::uint32_t(rows.size()));
    Put32(file, 0);
    Put32(file, offset);
    Put32(file, 40);
    Put32(file, std::uint32_t(width));
    Put32(file, std::uint32_t(height));  // bottom-up
    Put16(file, 1);
    Put16(file, std::uint32_t(bits));
    for (int i = 0; i < 6; ++i) Put32(file, i == 4 ? std::uint32_t(palette.size() / 4) : 0);
    return file + palette + rows;
}

// The one-bit bitmap of a converted logo: palette entry 0 white, 1 black, as the image
// manager reads a 1 bit as a printed dot.
std::string OneBitFile(const qxsetup::MonoImage& image) {
    size_t stride = (size_t(image.width) + 31) / 32 * 4;
    std::string rows(stride * size_t(image.height), '\0');
    for (int y = 0; y < image.height; ++y)
        std::memcpy(&rows[size_t(y) * stride], &image.bits[size_t(y) * size_t(image.rowBytes)],
                    size_t(image.rowBytes));
    return BitmapFile(image.width, image.height, 1, std::string("\xFF\xFF\xFF\0\0\0\0\0", 8), rows);
}

// A picture of another kind, loaded by the engine's loader as qx-print loads it, as a
// 24-bit bitmap the image manager converts by brightness.
bool PictureAsBitmap(const std::string& path, std::string* file, std::string* reason) {
    wce::HBITMAP bitmap = wce::SHLoadDIBitmap(wce::Utf8ToWide(path).c_str());
    wce::BITMAP bm{};
    if (!bitmap || wce::GetObjectW(bitmap, sizeof bm, &bm) != int(sizeof bm) ||
        bm.bmBitsPixel != 32) {
        if (bitmap) wce::DeleteObject(bitmap);
        *reason = "the picture is damaged, too large or of a kind that cannot be read";
        return false;
    }
    size_t stride = (size_t(bm.bmWidth) * 3 + 3) / 4 * 4;
    std::string rows(stride * size_t(bm.bmHeight), '\0');
    for (int y = 0; y < bm.bmHeight; ++y) {
        auto* from = reinterpret_cast<const std::uint32_t*>(static_cast<const char*>(bm.bmBits) +
                                                            size_t(y) * bm.bmWidthBytes);
        char* to = &rows[size_t(bm.bmHeight - 1 - y) * stride];
        for (int x = 0; x < bm.bmWidth; ++x) {
            to[x * 3] = char(from[x] & 0xFF);
            to[x * 3 + 1] = char((from[x] >> 8) & 0xFF);
            to[x * 3 + 2] = char((from[x] >> 16) & 0xFF);
        }
    }
    *file = BitmapFile(bm.bmWidth, bm.bmHeight, 24, {}, rows);
    wce::DeleteObject(bitmap);
    return true;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

// The image manager's link to the printer's port: a COMn: at 115200 bit/s, else the
// printer's address, TCP port 9100.
bool OpenLink(qxsetup::NvPrinterLink& link, const std::string& port, const std::string& device,
              std::string* reason) {
    bool serial = port.rfind("COM", 0) == 0;
    if (!device.empty() && !MapPort(port, device))
        return *reason = "the port's device cannot be mapped", false;
    std::string name = serial ? port.substr(0, port.find(':') + 1) : port;
    TakeMessageBox();
    if (qxsetup::OpenPrinterLink(link, wce::Utf8ToWide(name).c_str(), serial ? 115200 : 9100))
        return true;
    std::string box = TakeMessageBox();
    *reason = "the printer's port " + name + " does not open" + (box.empty() ? "" : ": " + box);
    return false;
}

}  // namespace

bool MakeLogo(const std::string& from, const std::string& to, std::string* reason) {
    std::string bytes = ReadAll(from);
    if (bytes.compare(0, 2, "BM") != 0 && !PictureAsBitmap(from, &bytes, reason)) return false;
    qxsetup::MonoImage image;
    std::u16string message;
    if (!qxsetup::DecodeMonoImage(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                                  &image, &message)) {
        *reason = message.empty() ? "the bitmap cannot be read" : wce::WideToUtf8(message.c_str());
        return false;
    }
    std::ofstream out(to, std::ios::binary);
    out << OneBitFile(image);
    return bool(out.flush()) || (*reason = "the logo cannot be written to " + to, false);
}

bool SendLogos(const std::string& port, const std::string& device,
               const std::vector<std::string>& files, std::string* reason) {
    qxsetup::NvPrinterLink link;
    if (!OpenLink(link, port, device, reason)) return false;
    std::vector<std::u16string> paths;
    for (const std::string& f : files) paths.push_back(wce::Utf8ToWide(f));
    bool ok = qxsetup::UploadNvImages(link, paths);
    std::string box = TakeMessageBox();
    qxsetup::ClosePrinterLink(link);
    if (!ok) *reason = "the logos were not stored" + (box.empty() ? std::string() : ": " + box);
    return ok;
}

bool LogoCommand(char what, const std::string& port, const std::string& device,
                 std::string* reason) {
    qxsetup::NvPrinterLink link;
    if (!OpenLink(link, port, device, reason)) return false;
    bool ok = what == 'O' ? qxsetup::PrintAllNvImages(link) : qxsetup::EraseNvImages(link);
    std::string box = TakeMessageBox();
    qxsetup::ClosePrinterLink(link);
    if (!ok)
        *reason =
            "the printer did not take the command" + (box.empty() ? std::string() : ": " + box);
    return ok;
}

}  // namespace qxapp
