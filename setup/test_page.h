// The test page, printed through the default printer's driver.
#pragma once

#include <functional>
#include <string>

#include "model.h"
#include "settings_record.h"

namespace setup {

struct LocalTime {
    int year, month, day, hour, minute, second;
};

// The clock the page reads; tests put a fixed one in. Returns the previous one.
using Clock = std::function<LocalTime()>;
Clock SetTestPageClock(Clock clock);
LocalTime ReadClock();

// The time line's text in 12-hour form: 00:30 is 12:30 AM, 12:30 is 12:30 PM.
std::u16string TimeText(const TestPageLayout& layout, const LocalTime& time);

// Bottom of the drawing rectangle: the paper height in whole inches, in dots.
int PageBottom(int heightTenths);
// The same from a height in whole millimetres, not rounded to inches:
// trunc(mm / 25.4 * 203) in floating point.
int PageBottomFromMillimetres(int heightMm);

// The page's fonts, time formats and message, the same for every model.
constexpr TestPageLayout EnglishTestPage(std::span<const TestPageLine> lines) {
    return {u"Arial", lines, u"%02d:%02d:%02d AM %02d/%02d/%04d", u"%02d:%02d:%02d PM %02d/%02d/%04d", false,
            u"Error Creating DC", u"Error"};
}
constexpr TestPageLayout KoreanTestPage(std::span<const TestPageLine> lines) {
    return {u"굴림", lines, u"오전 %02d:%02d:%02d %04d-%02d-%02d", u"오후 %02d:%02d:%02d %04d-%02d-%02d", true,
            u"프린터 DC 생성 에러", u"에러"};
}

// Writes the record to the driver key, then prints the page on the default printer.
// A printer that gives no device context gets the layout's message box.
void RunTestPage(const SetupModel& model, const SettingsRecord& record, wce::UINT codePage);

}  // namespace setup
