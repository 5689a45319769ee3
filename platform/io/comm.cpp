// Serial ports: the DCB over termios2 (any bit rate), COMMTIMEOUTS kept with poll.
//
// This file uses the kernel's termios2 and so must not include <termios.h>.
#include <asm/termbits.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>

#include "io_internal.h"
#include "wce/base.h"

namespace wce {

DWORD DcbFlagWord(const DCB& dcb) {
    DWORD flags;
    std::memcpy(&flags, reinterpret_cast<const BYTE*>(&dcb) + 8, sizeof flags);
    return flags;
}

void SetDcbFlagWord(DCB& dcb, DWORD flags) {
    std::memcpy(reinterpret_cast<BYTE*>(&dcb) + 8, &flags, sizeof flags);
}

namespace io {

namespace {

using Clock = std::chrono::steady_clock;

// What termios cannot hold lives here, per device path, as a serial driver keeps a
// port's state between opens.
struct ShadowTable {
    std::mutex lock;
    std::map<std::string, DCB> dcbs;
};

ShadowTable& Shadows() {
    static ShadowTable* table = new ShadowTable;
    return *table;
}

DCB DefaultDcb() {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    return dcb;
}

DCB ShadowFor(const std::string& path) {
    ShadowTable& table = Shadows();
    std::lock_guard guard(table.lock);
    auto it = table.dcbs.try_emplace(path, DefaultDcb()).first;
    return it->second;
}

void StoreShadow(const std::string& path, const DCB& dcb) {
    ShadowTable& table = Shadows();
    std::lock_guard guard(table.lock);
    table.dcbs[path] = dcb;
}

struct StandardRate {
    DWORD rate;
    unsigned code;
};

constexpr StandardRate kStandardRates[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

void SetSpeed(termios2& tio, DWORD rate) {
    unsigned code = BOTHER;
    for (const StandardRate& standard : kStandardRates) {
        if (standard.rate == rate) code = standard.code;
    }
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= code;
    tio.c_ispeed = rate;
    tio.c_ospeed = rate;
}

bool GetTermios(int fd, termios2& tio) {
    return ::ioctl(fd, TCGETS2, &tio) == 0;
}
bool SetTermios(int fd, const termios2& tio) {
    return ::ioctl(fd, TCSETS2, &tio) == 0;
}

// Raising or dropping a line fails on a pseudo-terminal, which has no modem lines.
bool IsNoModemLines(int error) {
    return error == ENOTTY || error == EINVAL;
}

void SetModemLine(int fd, int line, bool raise) {
    ::ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &line);
}

std::shared_ptr<HandleObject> FindSerial(HANDLE handle) {
    std::shared_ptr<HandleObject> object = FindHandle(handle);
    if (object && object->kind != DeviceKind::Serial) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    return object;
}

BYTE ByteSizeOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
        case CS5:
            return 5;
        case CS6:
            return 6;
        case CS7:
            return 7;
        default:
            return 8;
    }
}

void DcbFromTermios(const termios2& tio, DCB& dcb) {
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = tio.c_ospeed;
    dcb.fBinary = 1;
    dcb.fParity = (tio.c_iflag & INPCK) ? 1 : 0;
    dcb.fOutxCtsFlow = (tio.c_cflag & CRTSCTS) ? 1 : 0;
    dcb.fOutX = (tio.c_iflag & IXON) ? 1 : 0;
    dcb.fInX = (tio.c_iflag & IXOFF) ? 1 : 0;
    dcb.ByteSize = ByteSizeOf(tio.c_cflag);
    if (!(tio.c_cflag & PARENB)) {
        dcb.Parity = NOPARITY;
    } else if (tio.c_cflag & CMSPAR) {
        dcb.Parity = (tio.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    } else {
        dcb.Parity = (tio.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    }
    if (!(tio.c_cflag & CSTOPB)) {
        dcb.StopBits = ONESTOPBIT;
    } else if (dcb.StopBits != ONE5STOPBITS) {
        dcb.StopBits = TWOSTOPBITS;
    }
    dcb.XonChar = char(tio.c_cc[VSTART]);
    dcb.XoffChar = char(tio.c_cc[VSTOP]);
}

void SetFlag(tcflag_t& word, tcflag_t flag, bool on) {
    if (on) {
        word |= flag;
    } else {
        word &= ~flag;
    }
}

void TermiosFromDcb(const DCB& dcb, termios2& tio) {
    SetSpeed(tio, dcb.BaudRate);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag = (tio.c_cflag & ~CSIZE) | kSizes[dcb.ByteSize - 5];
    SetFlag(tio.c_cflag, PARENB, dcb.Parity != NOPARITY);
    SetFlag(tio.c_cflag, PARODD, dcb.Parity == ODDPARITY || dcb.Parity == MARKPARITY);
    SetFlag(tio.c_cflag, CMSPAR, dcb.Parity == MARKPARITY || dcb.Parity == SPACEPARITY);
    SetFlag(tio.c_cflag, CSTOPB, dcb.StopBits != ONESTOPBIT);
    SetFlag(tio.c_cflag, CRTSCTS, dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE);
    SetFlag(tio.c_iflag, INPCK, dcb.fParity);
    SetFlag(tio.c_iflag, IXON, dcb.fOutX);
    SetFlag(tio.c_iflag, IXOFF, dcb.fInX);
    if (dcb.XonChar != dcb.XoffChar) {
        tio.c_cc[VSTART] = cc_t(dcb.XonChar);
        tio.c_cc[VSTOP] = cc_t(dcb.XoffChar);
    }
}

bool ValidDcb(const DCB& dcb) {
    return dcb.BaudRate != 0 && dcb.ByteSize >= 5 && dcb.ByteSize <= 8 &&
           dcb.Parity <= SPACEPARITY && dcb.StopBits <= TWOSTOPBITS;
}

// Milliseconds left before the deadline, -1 when there is none.
int RemainingMs(bool limited, Clock::time_point deadline) {
    if (!limited) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? int(left.count()) : 0;
}

// 0 on time-out, > 0 when ready, < 0 on error (errno set).
int WaitFor(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    int ready;
    do {
        ready = ::poll(&entry, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready;
}

}  // namespace

bool PrepareSerial(HandleObject& object) {
    termios2 tio;
    if (!GetTermios(object.fd.Get(), tio)) return false;
    // A Windows comm port is always binary: no line editing, no echo, no output mapping.
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IMAXBEL);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return SetTermios(object.fd.Get(), tio);
}

BOOL SerialWrite(HandleObject& object, const BYTE* bytes, DWORD count, LPDWORD written) {
    const COMMTIMEOUTS& limits = object.timeouts;
    std::uint64_t totalMs = std::uint64_t(limits.WriteTotalTimeoutMultiplier) * count +
                            limits.WriteTotalTimeoutConstant;
    bool limited = totalMs > 0;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(totalMs);
    DWORD done = 0;
    while (done < count) {
        ssize_t n = ::write(object.fd.Get(), bytes + done, count - done);
        if (n > 0) {
            done += DWORD(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            if (written) *written = done;
            SetLastError(ErrorFromErrno(errno));
            return FALSE;
        }
        int ready = WaitFor(object.fd.Get(), POLLOUT, RemainingMs(limited, deadline));
        if (ready == 0) break;  // the time-out: a short count, not an error
        if (ready < 0) {
            if (written) *written = done;
            SetLastError(ErrorFromErrno(errno));
            return FALSE;
        }
    }
    if (written) *written = done;
    return TRUE;
}

BOOL SerialRead(HandleObject& object, BYTE* bytes, DWORD count, LPDWORD read) {
    const COMMTIMEOUTS& limits = object.timeouts;
    bool returnAtOnce = limits.ReadIntervalTimeout == MAXDWORD &&
                        limits.ReadTotalTimeoutMultiplier == 0 &&
                        limits.ReadTotalTimeoutConstant == 0;
    bool returnOnFirst =
        limits.ReadIntervalTimeout == MAXDWORD && limits.ReadTotalTimeoutMultiplier == MAXDWORD;
    std::uint64_t totalMs = returnOnFirst
                                ? limits.ReadTotalTimeoutConstant
                                : std::uint64_t(limits.ReadTotalTimeoutMultiplier) * count +
                                      limits.ReadTotalTimeoutConstant;
    bool limited = totalMs > 0;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(totalMs);
    DWORD interval = limits.ReadIntervalTimeout;
    bool useInterval = interval != 0 && interval != MAXDWORD;
    DWORD done = 0;
    while (done < count) {
        ssize_t n = ::read(object.fd.Get(), bytes + done, count - done);
        if (n > 0) {
            done += DWORD(n);
            if (returnOnFirst) break;
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            if (read) *read = done;
            if (n == 0) return TRUE;
            SetLastError(ErrorFromErrno(errno));
            return FALSE;
        }
        if (returnAtOnce) break;
        int waitMs = RemainingMs(limited, deadline);
        if (useInterval && done > 0 && (waitMs < 0 || DWORD(waitMs) > interval))
            waitMs = int(interval);
        int ready = WaitFor(object.fd.Get(), POLLIN, waitMs);
        if (ready == 0) break;
        if (ready < 0) {
            if (read) *read = done;
            SetLastError(ErrorFromErrno(errno));
            return FALSE;
        }
    }
    if (read) *read = done;
    return TRUE;
}

}  // namespace io

BOOL GetCommState(HANDLE file, DCB* dcb) {
    std::shared_ptr<io::HandleObject> object = io::FindSerial(file);
    if (!object) return FALSE;
    if (!dcb) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    termios2 tio;
    if (!io::GetTermios(object->fd.Get(), tio)) {
        SetLastError(io::ErrorFromErrno(errno));
        return FALSE;
    }
    DCB state = io::ShadowFor(object->path);
    io::DcbFromTermios(tio, state);
    *dcb = state;
    return TRUE;
}

BOOL SetCommState(HANDLE file, DCB* dcb) {
    std::shared_ptr<io::HandleObject> object = io::FindSerial(file);
    if (!object) return FALSE;
    if (!dcb || !io::ValidDcb(*dcb)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int fd = object->fd.Get();
    termios2 tio;
    if (!io::GetTermios(fd, tio)) {
        SetLastError(io::ErrorFromErrno(errno));
        return FALSE;
    }
    io::TermiosFromDcb(*dcb, tio);
    if (!io::SetTermios(fd, tio)) {
        SetLastError(io::ErrorFromErrno(errno));
        return FALSE;
    }
    if (dcb->fDtrControl != DTR_CONTROL_HANDSHAKE) {
        io::SetModemLine(fd, TIOCM_DTR, dcb->fDtrControl == DTR_CONTROL_ENABLE);
    }
    if (dcb->fRtsControl == RTS_CONTROL_ENABLE || dcb->fRtsControl == RTS_CONTROL_DISABLE) {
        io::SetModemLine(fd, TIOCM_RTS, dcb->fRtsControl == RTS_CONTROL_ENABLE);
    }
    DCB stored = *dcb;
    stored.DCBlength = sizeof(DCB);
    io::StoreShadow(object->path, stored);
    return TRUE;
}

BOOL GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts) {
    std::shared_ptr<io::HandleObject> object = io::FindHandle(file);
    if (!object) return FALSE;
    if (!timeouts) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *timeouts = object->timeouts;
    return TRUE;
}

// Parallel handles take the write limits too: a stalled printer then returns a short count.
BOOL SetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts) {
    std::shared_ptr<io::HandleObject> object = io::FindHandle(file);
    if (!object) return FALSE;
    if (!timeouts) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    object->timeouts = *timeouts;
    return TRUE;
}

BOOL SetupComm(HANDLE file, DWORD /*inQueue*/, DWORD /*outQueue*/) {
    // The tty layer sizes its own queues.
    return io::FindSerial(file) ? TRUE : FALSE;
}

BOOL PurgeComm(HANDLE file, DWORD flags) {
    std::shared_ptr<io::HandleObject> object = io::FindSerial(file);
    if (!object) return FALSE;
    bool output = flags & (PURGE_TXABORT | PURGE_TXCLEAR);
    bool input = flags & (PURGE_RXABORT | PURGE_RXCLEAR);
    int which = output && input ? TCIOFLUSH : output ? TCOFLUSH : TCIFLUSH;
    if ((output || input) && ::ioctl(object->fd.Get(), TCFLSH, which) != 0) {
        SetLastError(io::ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL EscapeCommFunction(HANDLE file, DWORD function) {
    std::shared_ptr<io::HandleObject> object = io::FindSerial(file);
    if (!object) return FALSE;
    int fd = object->fd.Get();
    int line = 0;
    int result;
    switch (function) {
        case SETXOFF:
            result = ::ioctl(fd, TCXONC, TCOOFF);
            break;
        case SETXON:
            result = ::ioctl(fd, TCXONC, TCOON);
            break;
        case SETRTS:
            line = TIOCM_RTS;
            result = ::ioctl(fd, TIOCMBIS, &line);
            break;
        case CLRRTS:
            line = TIOCM_RTS;
            result = ::ioctl(fd, TIOCMBIC, &line);
            break;
        case SETDTR:
            line = TIOCM_DTR;
            result = ::ioctl(fd, TIOCMBIS, &line);
            break;
        case CLRDTR:
            line = TIOCM_DTR;
            result = ::ioctl(fd, TIOCMBIC, &line);
            break;
        case SETBREAK:
            result = ::ioctl(fd, TIOCSBRK);
            break;
        case CLRBREAK:
            result = ::ioctl(fd, TIOCCBRK);
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
    }
    if (result != 0 && !io::IsNoModemLines(errno)) {
        SetLastError(io::ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL SetCommMask(HANDLE file, DWORD mask) {
    std::shared_ptr<io::HandleObject> object = io::FindSerial(file);
    if (!object) return FALSE;
    object->commMask = mask;
    return TRUE;
}

BOOL GetCommMask(HANDLE file, LPDWORD mask) {
    std::shared_ptr<io::HandleObject> object = io::FindSerial(file);
    if (!object) return FALSE;
    if (!mask) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *mask = object->commMask;
    return TRUE;
}

}  // namespace wce
