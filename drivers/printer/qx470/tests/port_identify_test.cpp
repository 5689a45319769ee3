// Printer identification: the description and capability flags read from the
// parallel printer's device ID, and PortQuery's size and error rules.
#include <string>

#include "port_test_support.h"
#include "wce/testdevice.h"

namespace qx470 {
namespace {

using namespace qx470::testing;

class IdentifyTest : public ::testing::Test {
  protected:
    void SetUp() override { device_ = wce::RegisterTestParallelDevice(u"LPT1:"); }
    void TearDown() override {
        PortClose(PortKindParallel);
        wce::UnregisterTestParallelDevice(u"LPT1:");
    }
    std::u16string OpenAndName(const std::string& deviceId) {
        device_->deviceId = deviceId;
        if (PortOpen(u"LPT1:") != PortKindParallel) return u"(open failed)";
        std::u16string name = Port().printerName ? Port().printerName.get() : u"(null)";
        PortClose(PortKindParallel);
        return name;
    }
    wce::DWORD Flags(const std::string& deviceId, wce::DWORD* result = nullptr) {
        device_->deviceId = deviceId;
        EXPECT_EQ(PortOpen(u"LPT1:"), PortKindParallel);
        wce::DWORD flags = 0xDEAD;
        wce::DWORD size = sizeof flags;
        wce::DWORD error = PortQuery(PortKindParallel, PortInfoCapabilities, &flags, &size);
        if (result) *result = error;
        PortClose(PortKindParallel);
        return flags;
    }

    TempRegistry registry_;
    std::shared_ptr<wce::TestParallelDevice> device_;
};

TEST_F(IdentifyTest, DescriptionComesFromTheFirstKeyFound) {
    EXPECT_EQ(OpenAndName("MFG:X;MODEL:ABC;DES:Label printer;"), u"Label printer");
    EXPECT_EQ(OpenAndName("DES:Short;DESCRIPTION:Long;"), u"Long");
    EXPECT_EQ(OpenAndName("MODEL:ABC"), u"ABC");
    EXPECT_EQ(OpenAndName("MFG:X;CMD:ESC;"), u"");
    EXPECT_EQ(OpenAndName(""), u"");
    EXPECT_EQ(OpenAndName(std::string("MODEL:AB\0CD;", 12)), u"AB");  // ends at the zero
}

TEST_F(IdentifyTest, ReplyOfAFullBufferWithoutZeroIsReadSafely) {
    EXPECT_EQ(OpenAndName("MODEL:" + std::string(250, 'M')), std::u16string(250, u'M'));
    EXPECT_EQ(OpenAndName(std::string(256, 'Z')), u"");
    // Longer than the 256 bytes asked for: the device gives 256, no zero among them.
    EXPECT_EQ(OpenAndName("DES:" + std::string(400, 'q')), std::u16string(252, u'q'));
    EXPECT_EQ(OpenAndName(std::string(254, 'x') + "$x"), u"");
    EXPECT_EQ(Flags(std::string(254, 'x') + "$x"), 0u);  // "$" near the end reads nothing past it
}

TEST_F(IdentifyTest, UnreadableDeviceIdLeavesAnEmptyName) {
    device_->deviceIdFails = true;
    EXPECT_EQ(OpenAndName("DES:Hidden;"), u"");
}

TEST_F(IdentifyTest, MarkersSetTheFlagsElseTheCapabilityReadDoes) {
    EXPECT_EQ(Flags("MODEL:A;$xB;$yC;"), 3u);
    EXPECT_EQ(Flags("$xC"), 2u);
    EXPECT_EQ(Flags("$B"), 0u);  // "B" must be two characters on

    device_->capabilityReply = std::string("\0\0\0\x11", 4);
    EXPECT_EQ(Flags("MODEL:A;"), 3u);
    EXPECT_EQ(device_->lastCapabilitySelector, 0x20u);
    device_->capabilityReply = std::string("\0\0\0\x01", 4);
    EXPECT_EQ(Flags("MODEL:A;"), 1u);
    device_->capabilityReply = std::string("\xFF\xFF\xFF", 3);  // too short to hold byte 3
    EXPECT_EQ(Flags("MODEL:A;"), 0u);
}

TEST_F(IdentifyTest, DescriptionQueryReportsTheSizeItNeeds) {
    device_->deviceId = "DES:0123456789;";
    ASSERT_EQ(PortOpen(u"LPT1:"), PortKindParallel);
    wce::WCHAR small[2] = {u'!', u'!'};
    wce::DWORD size = sizeof small;
    EXPECT_EQ(PortQuery(PortKindParallel, PortInfoDescription, small, &size), wce::ERROR_MORE_DATA);
    EXPECT_EQ(size, 22u);
    EXPECT_EQ(small[0], u'!');  // nothing stored when it does not fit

    size = 0;
    EXPECT_EQ(PortQuery(PortKindParallel, PortInfoDescription, nullptr, &size), 0u);
    EXPECT_EQ(size, 22u);

    wce::WCHAR text[11] = {};
    size = sizeof text;
    EXPECT_EQ(PortQuery(PortKindParallel, PortInfoDescription, text, &size), 0u);
    EXPECT_EQ(size, 22u);
    EXPECT_EQ(std::u16string(text), u"0123456789");

    device_->deviceIdFails = true;
    EXPECT_EQ(PortQuery(PortKindParallel, PortInfoDescription, text, &size),
              wce::ERROR_INVALID_PRINTER_STATE);
    wce::DWORD flags = 0;
    size = sizeof flags;
    EXPECT_EQ(PortQuery(PortKindParallel, PortInfoCapabilities, &flags, &size),
              wce::ERROR_INVALID_PRINTER_STATE);
    EXPECT_EQ(size, 4u);
}

TEST_F(IdentifyTest, QueryChecksComeInOrder) {
    wce::DWORD flags = 0;
    wce::DWORD size = 4;
    EXPECT_EQ(PortQuery(PortKindNone, 2, &flags, nullptr), wce::ERROR_INVALID_PARAMETER);
    EXPECT_EQ(PortQuery(PortKindNone, 2, &flags, &size), wce::ERROR_UNKNOWN_PORT);
    EXPECT_EQ(PortQuery(PortKindSerial, 2, &flags, &size), wce::ERROR_NOT_SUPPORTED);
    EXPECT_EQ(PortQuery(PortKindNetwork, 1, &flags, &size), wce::ERROR_NOT_SUPPORTED);

    device_->deviceId = "$xB";
    ASSERT_EQ(PortOpen(u"LPT1:"), PortKindParallel);
    EXPECT_EQ(PortQuery(PortKindParallel, 3, &flags, &size), wce::ERROR_INVALID_PARAMETER);
    size = 0;
    EXPECT_EQ(PortQuery(PortKindParallel, 2, nullptr, &size), 0u);
    EXPECT_EQ(size, 4u);
    size = 3;
    EXPECT_EQ(PortQuery(PortKindParallel, 2, &flags, &size), wce::ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);
    size = 8;
    EXPECT_EQ(PortQuery(PortKindParallel, 2, &flags, &size), 0u);
    EXPECT_EQ(flags, 1u);
    EXPECT_EQ(size, 8u);
}

}  // namespace
}  // namespace qx470
