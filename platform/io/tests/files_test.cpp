// Files, device-name resolution and the in-process parallel printer.
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "temp_dir.h"
#include "wce/base.h"
#include "wce/io.h"
#include "wce/testdevice.h"
#include "wce/text.h"

namespace wce {
namespace {

class FilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.ok());
        dir_ = folder_.path();
        ::setenv("QX_REGISTRY", (dir_ + "/registry.reg").c_str(), 1);
    }
    std::u16string Path(const char* name) { return Utf8ToWide(dir_ + "/" + name); }

    qxtest::TempDir folder_{"qxfiles"};
    std::string dir_;
};

TEST_F(FilesTest, CreationModesBehaveAsOnWindows) {
    std::u16string path = Path("out.bin");
    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "hello", 5, &written, nullptr));
    EXPECT_EQ(written, 5u);
    ASSERT_TRUE(CloseHandle(file));
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

    file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    char buffer[16] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "hello");
    EXPECT_FALSE(WriteFile(file, "x", 1, &written, nullptr));  // opened for reading only
    CloseHandle(file);

    file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(file);
    EXPECT_EQ(std::filesystem::file_size(dir_ + "/out.bin"), 0u);
}

TEST_F(FilesTest, BadNamesAndHandlesFailClearly) {
    EXPECT_EQ(CreateFileW(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CreateFileW(u"", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    const char16_t broken[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(CreateFileW(broken, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, "x", 1, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(FilesTest, DeviceNamesNeverReachTheFileSystem) {
    std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    for (const char16_t* name : {u"COM0:", u"LPT0:", u"ABC1:", u"COMx:"}) {
        EXPECT_EQ(CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    }
    std::filesystem::current_path(before);
    EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

TEST_F(FilesTest, TestParallelDeviceTakesWritesAndAnswersControls) {
    auto device = RegisterTestParallelDevice(u"LPT3:");
    device->deviceId = "MODEL:T;";
    device->acceptPlan = {2, 0};
    device->bytesPerWrite = 10;
    device->statusWords = {CE_OOP, CE_DNS};
    HANDLE port =
        CreateFileW(u"lpt3:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    for (DWORD expected : {2u, 0u, 4u}) {
        ASSERT_TRUE(WriteFile(port, "abcd", 4, &written, nullptr));
        EXPECT_EQ(written, expected);
    }
    EXPECT_EQ(device->received, "ababcd");
    EXPECT_EQ(device->writes.size(), 2u);
    EXPECT_EQ(device->writeCalls, 3u);

    char id[4] = {};
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(port, IOCTL_PARALLEL_GETDEVICEID, nullptr, 0, id, sizeof id,
                                &returned, nullptr));
    EXPECT_EQ(std::string(id, returned), "MODE");  // cut to the buffer
    DWORD word = 0;
    for (DWORD expected : {CE_OOP, CE_DNS, CE_DNS}) {  // the last reply repeats
        ASSERT_TRUE(
            DeviceIoControl(port, IOCTL_PARALLEL_STATUS, nullptr, 0, &word, 4, &returned, nullptr));
        EXPECT_EQ(word, expected);
    }
    EXPECT_FALSE(
        DeviceIoControl(port, IOCTL_PARALLEL_STATUS, nullptr, 0, &word, 2, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(DeviceIoControl(port, 0x00160000, nullptr, 0, &word, 4, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    CloseHandle(port);

    UnregisterTestParallelDevice(u"LPT3:");
    EXPECT_EQ(CreateFileW(u"LPT3:", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
}

}  // namespace
}  // namespace wce
