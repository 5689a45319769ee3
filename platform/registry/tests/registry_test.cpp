#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "registry_fixture.h"
#include "wce/registry.h"

using namespace wce;

using RegistryTest = RegistryFileTest;

TEST_F(RegistryTest, OpenMissingKeyIsNotFoundAndCreateReportsDisposition) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Printers\\Ports", 0, KEY_READ, &key), 2);
    EXPECT_EQ(key, nullptr);
    DWORD how = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Printers\\Ports", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, &how),
              0);
    EXPECT_EQ(how, REG_CREATED_NEW_KEY);
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"printers\\PORTS", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, &how),
              0);
    EXPECT_EQ(how, REG_OPENED_EXISTING_KEY);
    RegCloseKey(key);
    // The parent was created on the way and survives in the file.
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Printers", 0, KEY_READ, &key), 0);
    RegCloseKey(key);
    EXPECT_NE(FileText().find("[HKEY_LOCAL_MACHINE\\Printers\\Ports]"), std::string::npos);
}

TEST_F(RegistryTest, QuerySizesAndMoreData) {
    HKEY key = Create(u"K");
    ASSERT_EQ(SetText(key, u"Text", u"LPT1:"), 0);
    DWORD type = 0, size = 0;
    // A null data pointer asks for type and size; a REG_SZ counts its terminator.
    ASSERT_EQ(RegQueryValueExW(key, u"Text", nullptr, &type, nullptr, &size), 0);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 12u);
    BYTE small[4];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExW(key, u"Text", nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 12u);
    char16_t text[6];
    size = sizeof text;
    ASSERT_EQ(RegQueryValueExW(key, u"Text", nullptr, &type, reinterpret_cast<BYTE*>(text), &size),
              0);
    EXPECT_EQ(std::u16string(text), u"LPT1:");
    EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, &type, nullptr, &size), 2);
    EXPECT_EQ(RegQueryValueExW(key, u"Text", nullptr, &type, small, nullptr),
              ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
}

TEST_F(RegistryTest, AccessMasksAreHonoured) {
    HKEY key = Create(u"K");
    SetDword(key, u"V", 7);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"K", 0, KEY_READ, &key), 0);
    EXPECT_EQ(SetDword(key, u"V", 8), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(key, u"V"), ERROR_ACCESS_DENIED);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"K", 0, KEY_WRITE, &key), 0);
    EXPECT_EQ(SetDword(key, u"V", 8), 0);
    DWORD v = 0, size = 4;
    EXPECT_EQ(RegQueryValueExW(key, u"V", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size),
              ERROR_ACCESS_DENIED);
    DWORD count = 0;
    EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_ACCESS_DENIED);
    RegCloseKey(key);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, EnumerationKeepsInsertionOrderAndDeletionShiftsUp) {
    HKEY key = Create(u"Printers\\Ports");
    SetText(key, u"Port1", u"COM1:");
    SetText(key, u"Port2", u"LPT1:");
    SetText(key, u"Port3", u"192.168.0.9");
    SetText(key, u"Port2", u"COM2: 9600");  // rewriting keeps the place
    auto nameAt = [&](DWORD i, LONG& r) {
        char16_t name[32];
        DWORD chars = 32;
        r = RegEnumValueW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr);
        return r == 0 ? std::u16string(name, chars) : std::u16string();
    };
    LONG r;
    EXPECT_EQ(nameAt(0, r), u"Port1");
    EXPECT_EQ(nameAt(1, r), u"Port2");
    EXPECT_EQ(nameAt(2, r), u"Port3");
    nameAt(3, r);
    EXPECT_EQ(r, ERROR_NO_MORE_ITEMS);
    ASSERT_EQ(RegDeleteValueW(key, u"Port1"), 0);
    EXPECT_EQ(nameAt(0, r), u"Port2");
    EXPECT_EQ(nameAt(1, r), u"Port3");
    EXPECT_EQ(RegDeleteValueW(key, u"Port1"), 2);
    // Too small a name buffer: more data.
    char16_t tiny[3];
    DWORD chars = 3;
    EXPECT_EQ(RegEnumValueW(key, 0, tiny, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    DWORD values = 0, maxName = 0, maxData = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                               &maxName, &maxData, nullptr, nullptr),
              0);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(maxName, 5u);
    EXPECT_EQ(maxData, 24u);  // "192.168.0.9" and its terminator
    RegCloseKey(key);
}

TEST_F(RegistryTest, EveryTypeRoundTripsThroughTheFile) {
    HKEY key = Create(u"Types");
    const BYTE qword[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const BYTE odd[3] = {'a', 0, 'b'};
    SetDword(key, u"Four", 0x1F);
    RegSetValueExW(key, u"Eight", 0, REG_DWORD, qword, 8);
    RegSetValueExW(key, u"Bin", 0, REG_BINARY, qword, 8);
    RegSetValueExW(key, u"Empty", 0, REG_BINARY, nullptr, 0);
    RegSetValueExW(key, u"OddText", 0, REG_SZ, odd, 3);
    RegSetValueExW(key, u"Odd\"Name\\", 0, 0x1234, odd, 3);
    SetText(key, u"Korean", u"\uAD74\uB9BC \"quoted\" back\\slash");
    SetText(key, u"Lines", u"one\r\ntwo");
    std::vector<BYTE> big(5000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = BYTE(i * 7);
    RegSetValueExW(key, u"Big", 0, REG_MULTI_SZ, big.data(), DWORD(big.size()));
    RegCloseKey(key);
    std::string text = FileText();
    EXPECT_NE(text.find("\"Four\"=dword:0000001f"), std::string::npos);
    EXPECT_NE(text.find("\"Eight\"=hex(4):01,02,03,04,05,06,07,08"), std::string::npos);

    // A second parse of the file (the cache is bypassed by rewriting it byte for byte).
    WriteFileText(text + "\n");
    key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Types", 0, KEY_READ, &key), 0);
    auto get = [&](const char16_t* name, DWORD& type) {
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExW(key, name, nullptr, &type, nullptr, &size), 0);
        std::vector<BYTE> data(size);
        RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
        return data;
    };
    DWORD type;
    EXPECT_EQ(get(u"Four", type).size(), 4u);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(get(u"Eight", type), std::vector<BYTE>(qword, qword + 8));
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(get(u"Bin", type), std::vector<BYTE>(qword, qword + 8));
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_TRUE(get(u"Empty", type).empty());
    EXPECT_EQ(get(u"OddText", type), std::vector<BYTE>(odd, odd + 3));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(get(u"Odd\"Name\\", type).size(), 3u);
    EXPECT_EQ(type, 0x1234u);
    auto korean = get(u"Korean", type);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(korean.data())),
              u"\uAD74\uB9BC \"quoted\" back\\slash");
    auto lines = get(u"Lines", type);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(lines.data())), u"one\r\ntwo");
    EXPECT_EQ(get(u"Big", type), big);
    RegCloseKey(key);
}

TEST_F(RegistryTest, OverlongAndUnstorableNamesAreRefused) {
    HKEY key = Create(u"K");
    std::u16string longKey(256, u'k'), okKey(255, u'k');
    HKEY sub = nullptr;
    EXPECT_EQ(RegCreateKeyExW(key, longKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub,
                              nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(
        RegCreateKeyExW(key, okKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
        0);
    RegCloseKey(sub);
    std::u16string longName(16384, u'v'), okName(16383, u'v');
    EXPECT_EQ(SetDword(key, longName.c_str(), 1), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SetDword(key, okName.c_str(), 1), 0);
    EXPECT_EQ(SetDword(key, u"new\nline", 1), ERROR_INVALID_PARAMETER);
    const char16_t lone[] = {u'a', 0xD800, 0};
    EXPECT_EQ(SetDword(key, lone, 1), ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
}

TEST_F(RegistryTest, UnparsableFileFailsEveryCallAndIsNeverOverwritten) {
    const std::string broken =
        "Windows Registry Editor Version "
        "5.00\n\n[HKEY_LOCAL_MACHINE\\Printers]\n\"A\"=dword:00000001\n\"B\"=bogus\n";
    WriteFileText(broken);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Printers", 0, KEY_READ, &key), ERROR_BADDB);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Other", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_BADDB);
    EXPECT_EQ(SetDword(HKEY_LOCAL_MACHINE, u"X", 1), ERROR_BADDB);
    EXPECT_EQ(FileText(), broken);
    std::string debug = DebugText();
    EXPECT_NE(debug.find(path_ + " line 5"), std::string::npos) << debug;
    // Mended by hand, the file works again.
    WriteFileText(
        "Windows Registry Editor Version "
        "5.00\n\n[HKEY_LOCAL_MACHINE\\Printers]\n\"A\"=dword:00000001\n");
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Printers", 0, KEY_READ, &key), 0);
    RegCloseKey(key);
}

TEST_F(RegistryTest, GarbageInputsNeverCrash) {
    std::vector<std::string> inputs = {
        "", "\n\n\n", std::string(1 << 20, 'x'), std::string("\0\0\xff\xfe garbage", 12),
        "Windows Registry Editor Version 5.00\n\"v\"=dword:00000001\n",
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n",
        "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\X]\n\"v\"=hex:0,1\n",
        "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\X]\n\"v\"=hex:01,\\\n",
        "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\X]\n\"unterminated=\"x\n",
        "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\\\X]\n",
        // Found by fuzzing: an unterminated name ending in a backslash.
        "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\X]\n\"Start\\\n  05,06\n"};
    for (const auto& in : inputs) {
        WriteFileText(in);
        HKEY key = nullptr;
        LONG r = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"X", 0, KEY_READ, &key);
        EXPECT_TRUE(r == ERROR_BADDB || r == ERROR_FILE_NOT_FOUND) << r;
        EXPECT_EQ(FileText(), in);
    }
}

TEST_F(RegistryTest, FileCutShortIsRefusedAndKept) {
    const std::string head =
        "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Printers\\QX-470 Driver]\n"
        "\"Port\"=\"COM1:\"\n";
    // Cut inside a value, or just before the last line end; short dwords are cut too.
    const std::vector<std::pair<std::string, int>> damaged = {
        {head + "\"Copies\"=dword:00", 5},
        {head + "\"Copies\"=dword:00000001", 5},
        {head + "\"Copies\"=dword:0000001\n", 5},
        {head + "\"Copies\"=dword:000000001\n", 5},
        {head + "\"StartDocText\"=\"Wel", 5},
        {head + "\"Logo\"=hex:01,02,\\\n  03", 6},
        {head + "[HKEY_LOCAL_MACHINE\\Printers\\QX", 5},
    };
    for (const auto& [text, line] : damaged) {
        WriteFileText(text);
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Printers\\QX-470 Driver", 0, KEY_READ, &key),
                  ERROR_BADDB)
            << text;
        EXPECT_EQ(SetDword(HKEY_LOCAL_MACHINE, u"Copies", 1), ERROR_BADDB) << text;
        EXPECT_EQ(FileText(), text);
        EXPECT_NE(DebugText().find(path_ + " line " + std::to_string(line)), std::string::npos)
            << text << "\n"
            << DebugText();
    }
    // Whole lines, with either line end, read as before.
    for (const char* end : {"\n", "\r\n"}) {
        WriteFileText(head + "\"Copies\"=dword:00000003" + end);
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Printers\\QX-470 Driver", 0, KEY_READ, &key),
                  0);
        DWORD copies = 0, size = 4;
        EXPECT_EQ(RegQueryValueExW(key, u"Copies", nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(&copies), &size),
                  0);
        EXPECT_EQ(copies, 3u);
        RegCloseKey(key);
    }
}

TEST_F(RegistryTest, WriteKeepsModeAndOwnerAndFollowsLinks) {
    // The settings live in real/registry.reg; the registry path is a relative link to it.
    std::filesystem::create_directory(dir_ + "/real");
    const std::string target = dir_ + "/real/registry.reg";
    std::ofstream(target) << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K]\n"
                             "\"Old\"=dword:00000001\n";
    ASSERT_EQ(::symlink("real/registry.reg", path_.c_str()), 0);
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    struct stat before;
    ASSERT_EQ(::stat(target.c_str(), &before), 0);
    // Root may keep a file that belongs to someone else; others only their own.
    uid_t owner = ::geteuid() == 0 ? 4242 : before.st_uid;
    gid_t group = ::geteuid() == 0 ? 4343 : before.st_gid;
    ASSERT_EQ(::chown(target.c_str(), owner, group), 0);
    HKEY key = Create(u"K");
    ASSERT_EQ(SetDword(key, u"New", 7), 0);
    RegCloseKey(key);
    struct stat link, after;
    ASSERT_EQ(::lstat(path_.c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    ASSERT_EQ(::stat(target.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0600u);
    EXPECT_EQ(after.st_uid, owner);
    EXPECT_EQ(after.st_gid, group);
    EXPECT_NE(ReadFile(target).find("\"New\"=dword:00000007"), std::string::npos);
    EXPECT_NE(ReadFile(target).find("\"Old\"=dword:00000001"), std::string::npos);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_))
        EXPECT_EQ(entry.path().filename().string().find(".tmp."), std::string::npos)
            << entry.path();
    // A new file gets the usual mode.
    ::unlink(path_.c_str());
    key = Create(u"Fresh");
    RegCloseKey(key);
    struct stat fresh;
    ASSERT_EQ(::lstat(path_.c_str(), &fresh), 0);
    EXPECT_TRUE(S_ISREG(fresh.st_mode));
    // Links that go round in a loop are refused and left as they are.
    ::unlink(path_.c_str());
    ASSERT_EQ(::symlink("loop", path_.c_str()), 0);
    ASSERT_EQ(::symlink("registry.reg", (dir_ + "/loop").c_str()), 0);
    EXPECT_EQ(SetDword(HKEY_LOCAL_MACHINE, u"X", 1), ERROR_CANTWRITE);
    ASSERT_EQ(::lstat(path_.c_str(), &fresh), 0);
    EXPECT_TRUE(S_ISLNK(fresh.st_mode));
    EXPECT_NE(DebugText().find(path_ + ": its symbolic links go round in a loop"),
              std::string::npos);
}

TEST_F(RegistryTest, ReadOnlyFileIsRefusedAndLeftAsItIs) {
    const std::string text =
        "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K]\n"
        "\"Old\"=dword:00000001\n";
    std::ofstream(path_) << text;
    ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"K", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key, u"New", 7), LONG(ERROR_ACCESS_DENIED));
    EXPECT_EQ(RegDeleteValueW(key, u"Old"), LONG(ERROR_ACCESS_DENIED));
    DWORD value = 0, size = sizeof value;
    EXPECT_EQ(
        RegQueryValueExW(key, u"Old", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size), 0);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(RegQueryValueExW(key, u"New", nullptr, nullptr, nullptr, nullptr),
              LONG(ERROR_FILE_NOT_FOUND));
    RegCloseKey(key);
    EXPECT_EQ(ReadFile(path_), text);
    struct stat after;
    ASSERT_EQ(::stat(path_.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0444u);
    EXPECT_NE(DebugText().find(path_ + ": the file is read-only for this user"), std::string::npos);
    // Made writable again, it takes writes as before.
    ASSERT_EQ(::chmod(path_.c_str(), 0644), 0);
    key = Create(u"K");
    EXPECT_EQ(SetDword(key, u"New", 7), 0);
    RegCloseKey(key);
}

// A print job's registry, made afresh for each job: its writes stay in the process until
// RegFlushKey puts them all in the file at once; a file replaced meanwhile (the next
// job's copy) wins over what was not flushed.
TEST_F(RegistryTest, AScratchRegistryKeepsItsWritesUntilFlushed) {
    setenv("QX_REGISTRY_SCRATCH", "1", 1);
    struct Unset {
        ~Unset() { unsetenv("QX_REGISTRY_SCRATCH"); }
    } unset;
    WriteFileText(
        "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Printers\\A]\n"
        "\"Copies\"=dword:00000001\n");
    const std::string before = FileText();
    HKEY key = Create(u"Printers\\A");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(SetDword(key, u"Copies", 3), ERROR_SUCCESS);
    EXPECT_EQ(SetText(key, u"Port", u"COM1:"), ERROR_SUCCESS);
    EXPECT_EQ(FileText(), before);
    DWORD copies = 0, size = sizeof copies;
    EXPECT_EQ(
        RegQueryValueExW(key, u"Copies", nullptr, nullptr, reinterpret_cast<BYTE*>(&copies), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(copies, 3u);

    EXPECT_EQ(RegFlushKey(key), ERROR_SUCCESS);
    EXPECT_NE(FileText().find("\"Copies\"=dword:00000003"), std::string::npos) << FileText();
    EXPECT_NE(FileText().find("\"Port\"=\"COM1:\""), std::string::npos);
    EXPECT_EQ(RegFlushKey(key), ERROR_SUCCESS);  // nothing new: nothing written

    // The next job's copy replaces the file: the unflushed write goes with the old job.
    EXPECT_EQ(SetDword(key, u"Copies", 9), ERROR_SUCCESS);
    std::ofstream(path_ + ".new") << before << "\"Rotation\"=dword:00000002\n";
    ASSERT_EQ(std::rename((path_ + ".new").c_str(), path_.c_str()), 0);
    copies = 0;
    size = sizeof copies;
    EXPECT_EQ(
        RegQueryValueExW(key, u"Copies", nullptr, nullptr, reinterpret_cast<BYTE*>(&copies), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(copies, 1u);
    EXPECT_EQ(RegFlushKey(key), ERROR_SUCCESS);
    EXPECT_EQ(FileText().find("00000009"), std::string::npos);

    // A file made read-only takes the writes in memory; the flush is what fails, and the
    // file stays as it was.
    ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
    const std::string kept = FileText();
    EXPECT_EQ(SetDword(key, u"Copies", 4), ERROR_SUCCESS);
    EXPECT_EQ(RegFlushKey(key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(FileText(), kept);
    ::chmod(path_.c_str(), 0644);
    EXPECT_EQ(RegFlushKey(reinterpret_cast<HKEY>(0x1234)), ERROR_INVALID_HANDLE);
    RegCloseKey(key);
}

// Any other registry is written at every change, as before.
TEST_F(RegistryTest, WritesReachASharedRegistryFileAtOnce) {
    HKEY key = Create(u"Printers\\A");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(SetDword(key, u"Copies", 3), ERROR_SUCCESS);
    EXPECT_NE(FileText().find("\"Copies\"=dword:00000003"), std::string::npos);
    EXPECT_EQ(RegFlushKey(key), ERROR_SUCCESS);
    RegCloseKey(key);
}
