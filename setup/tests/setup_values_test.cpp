// Numbers as the fields read them, and the test page's time line and page bottom.
#include <gtest/gtest.h>

#include <climits>

#include "number_text.h"
#include "test_page.h"

namespace {

using setup::LeadingInt;
using setup::TruncatedTenths;

TEST(TypedNumbers, CopiesTakeTheLeadingNumberAndHoldAtTheIntRange) {
    EXPECT_EQ(LeadingInt(u"2x"), 2);
    EXPECT_EQ(LeadingInt(u"abc"), 0);
    EXPECT_EQ(LeadingInt(u"-3"), -3);
    EXPECT_EQ(LeadingInt(u"  +7"), 7);
    EXPECT_EQ(LeadingInt(u""), 0);
    EXPECT_EQ(LeadingInt(u"99999999999999999999"), INT_MAX);
    EXPECT_EQ(LeadingInt(u"-99999999999999999999"), INT_MIN);
}

TEST(TypedNumbers, HeightsAreCutToTenthsAndNonsenseGivesNothing) {
    EXPECT_EQ(TruncatedTenths(u"50.8"), 508);
    EXPECT_EQ(TruncatedTenths(u"101.6"), 1016);
    EXPECT_EQ(TruncatedTenths(u"45.5"), 455);
    EXPECT_EQ(TruncatedTenths(u"45.57"), 455);
    EXPECT_EQ(TruncatedTenths(u"60"), 600);
    EXPECT_EQ(TruncatedTenths(u"60.25"), 602);
    EXPECT_EQ(TruncatedTenths(u" 7.1mm"), 71);
    EXPECT_EQ(TruncatedTenths(u"abc"), std::nullopt);
    EXPECT_EQ(TruncatedTenths(u"-4"), std::nullopt);
    EXPECT_EQ(TruncatedTenths(u"1e300"), std::nullopt);
    EXPECT_EQ(TruncatedTenths(u"inf"), std::nullopt);
    EXPECT_EQ(TruncatedTenths(u"\u0665"), std::nullopt);  // a digit, but not one of ours
}

TEST(TestPageTime, TwelveHourTimeAsPeopleReadIt) {
    const setup::TestPageLayout& en = setup::ModelA().testPage[0];
    const setup::TestPageLayout& ko = setup::ModelA().testPage[1];
    EXPECT_EQ(TimeText(en, {2010, 3, 5, 0, 30, 5}), u"12:30:05 AM 03/05/2010");
    EXPECT_EQ(TimeText(en, {2010, 3, 5, 11, 59, 59}), u"11:59:59 AM 03/05/2010");
    EXPECT_EQ(TimeText(en, {2010, 3, 5, 12, 30, 5}), u"12:30:05 PM 03/05/2010");
    EXPECT_EQ(TimeText(en, {2010, 3, 5, 13, 30, 5}), u"01:30:05 PM 03/05/2010");
    EXPECT_EQ(TimeText(ko, {2010, 3, 5, 0, 30, 5}), u"오전 12:30:05 2010-03-05");
    EXPECT_EQ(TimeText(ko, {2010, 3, 5, 12, 30, 5}), u"오후 12:30:05 2010-03-05");
    EXPECT_EQ(TimeText(ko, {2010, 3, 5, 13, 30, 5}), u"오후 01:30:05 2010-03-05");
}

TEST(TestPageTime, ThePageEndsAtTheLastWholeInch) {
    EXPECT_EQ(setup::PageBottom(508), 406);
    EXPECT_EQ(setup::PageBottom(1000), 609);
    EXPECT_EQ(setup::PageBottom(1016), 812);
    EXPECT_EQ(setup::PageBottom(253), 0);
}

}  // namespace
