#include "nv_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace qxemu {

namespace {

constexpr char kMagic[8] = {'Q', 'X', 'N', 'V', 'M', 'E', 'M', '1'};

std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

std::uint32_t ReadU32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void PutU16(std::vector<std::uint8_t>& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    PutU16(out, v & 0xFFFF);
    PutU16(out, v >> 16);
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
    static const std::array<std::uint32_t, 256> table = MakeCrcTable();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

Bitmap NvImageToBitmap(const NvImage& image) {
    Bitmap bitmap(image.widthUnits * 8, image.heightUnits * 8);
    const std::size_t expected = static_cast<std::size_t>(image.widthUnits) * 8 * image.heightUnits;
    if (image.columns.size() < expected) return bitmap;
    for (int x = 0; x < image.widthUnits * 8; ++x) {
        const std::uint8_t* column =
            image.columns.data() + static_cast<std::size_t>(x) * image.heightUnits;
        for (int j = 0; j < image.heightUnits; ++j) {
            for (int k = 0; k < 8; ++k) {
                if (column[j] & (0x80 >> k)) bitmap.SetDot(x, j * 8 + k);
            }
        }
    }
    return bitmap;
}

const NvImage* NvStore::Find(int number) const {
    if (number < 1 || number > Count()) return nullptr;
    return &images_[static_cast<std::size_t>(number - 1)];
}

bool NvStore::Parse(const std::vector<std::uint8_t>& bytes, std::string* message) {
    if (bytes.size() < 16 || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
        *message = "not an image memory file (bad header)";
        return false;
    }
    std::size_t end = bytes.size() - 4;
    if (Crc32(bytes.data(), end) != ReadU32(bytes.data() + end)) {
        *message = "checksum mismatch";
        return false;
    }
    std::uint32_t count = ReadU32(bytes.data() + 8);
    if (count > kMaxNvImages) {
        *message = "image count " + std::to_string(count) + " above 255";
        return false;
    }
    std::vector<NvImage> images;
    std::size_t pos = 12;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (end - pos < 4) {
            *message = "image " + std::to_string(i + 1) + " truncated";
            return false;
        }
        NvImage image;
        image.widthUnits = bytes[pos] | (bytes[pos + 1] << 8);
        image.heightUnits = bytes[pos + 2] | (bytes[pos + 3] << 8);
        pos += 4;
        std::size_t size = static_cast<std::size_t>(image.widthUnits) * 8 * image.heightUnits;
        if (end - pos < size) {
            *message = "image " + std::to_string(i + 1) + " truncated";
            return false;
        }
        image.columns.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                             bytes.begin() + static_cast<std::ptrdiff_t>(pos + size));
        pos += size;
        images.push_back(std::move(image));
    }
    if (pos != end) {
        *message = "trailing bytes after the last image";
        return false;
    }
    images_ = std::move(images);
    return true;
}

bool NvStore::Load(std::string* message) {
    images_.clear();
    std::ifstream in(path_, std::ios::binary);
    if (!in) return true;
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (Parse(bytes, message)) return true;
    std::string aside = path_ + ".bad";
    std::rename(path_.c_str(), aside.c_str());
    *message = path_ + ": " + *message + "; kept as " + aside + ", image memory starts empty";
    return false;
}

bool NvStore::Save(std::string* error) const {
    std::vector<std::uint8_t> out(kMagic, kMagic + sizeof kMagic);
    PutU32(out, static_cast<std::uint32_t>(images_.size()));
    for (const NvImage& image : images_) {
        PutU16(out, static_cast<unsigned>(image.widthUnits));
        PutU16(out, static_cast<unsigned>(image.heightUnits));
        out.insert(out.end(), image.columns.begin(), image.columns.end());
    }
    PutU32(out, Crc32(out.data(), out.size()));
    std::string tmp = path_ + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = "cannot create " + tmp + ": " + std::strerror(errno);
        return false;
    }
    bool ok = WriteAll(fd, out.data(), out.size()) && ::fsync(fd) == 0;
    int savedErrno = errno;
    ::close(fd);
    if (ok && std::rename(tmp.c_str(), path_.c_str()) != 0) {
        savedErrno = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        *error = "cannot write " + path_ + ": " + std::strerror(savedErrno);
    }
    return ok;
}

}  // namespace qxemu
