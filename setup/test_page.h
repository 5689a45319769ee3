// The test page, printed through the default printer's driver.
#pragma once

#include <functional>
#include <string>

#include "model.h"
#include "settings_record.h"
#include "wce/gdi.h"

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

// The lines every model's page has; a model adds the lines naming it.
namespace page_lines {
constexpr TestPageLine kCongratulations{u"Congratulations!", 54};
constexpr TestPageLine kBelow{
    u"The information below describes your printer driver and port settings.", 81};
constexpr TestPageLine kSubmitted{u"Submitted Time :", 27};
constexpr TestPageLine kTime{u"    %s", 27, PageField::Time};
constexpr TestPageLine kEmulation{u"%s", 27, PageField::Emulation};
constexpr TestPageLine kColour{u"Color support : No", 27};
constexpr TestPageLine kPort{u"Port name(s) : %s", 27, PageField::Port};
constexpr TestPageLine kFormat{u"Data format : RAW", 27};
constexpr TestPageLine kDriver{u"Driver name : %s", 27, PageField::Driver};
constexpr TestPageLine kVersion{u"Driver version : 1.00", 27};
constexpr TestPageLine kEnvironment{u"Environment : Windows CE 5.x over", 81};
constexpr TestPageLine kEnd{u"This is the end of the printer test page.", 0};

constexpr TestPageLine kKoreanBelow{u"아래 정보는 프린터 드라이버와 포트 설정에 대해 설명합니다.",
                                    81};
constexpr TestPageLine kKoreanSubmitted{u"제출한 시간 :", 27};
constexpr TestPageLine kKoreanColour{u"컬러인쇄 : 불가능", 27};
constexpr TestPageLine kKoreanPort{u"포트 이름 : %s", 27, PageField::Port};
constexpr TestPageLine kKoreanFormat{u"데이터 형식 : RAW", 27};
constexpr TestPageLine kKoreanDriver{u"드라이버 이름 : %s", 27, PageField::Driver};
constexpr TestPageLine kKoreanVersion{u"드라이버 버전 : 1.00", 27};
constexpr TestPageLine kKoreanEnvironment{u"환경 : Windows CE 5.x 이상", 44};
constexpr TestPageLine kKoreanEnd{u"프린터 테스트 페이지의 끝입니다.", 0};
}  // namespace page_lines

// The page's fonts, time formats and message, the same for every model.
constexpr TestPageLayout EnglishTestPage(std::span<const TestPageLine> lines) {
    return {u"Arial",
            lines,
            u"%02d:%02d:%02d AM %02d/%02d/%04d",
            u"%02d:%02d:%02d PM %02d/%02d/%04d",
            false,
            u"Error Creating DC",
            u"Error"};
}
constexpr TestPageLayout KoreanTestPage(std::span<const TestPageLine> lines) {
    return {u"굴림",
            lines,
            u"오전 %02d:%02d:%02d %04d-%02d-%02d",
            u"오후 %02d:%02d:%02d %04d-%02d-%02d",
            true,
            u"프린터 DC 생성 에러",
            u"에러"};
}

// Draws the page, in the language of the code page, on a printer device context whose
// page has started (another program's job prints it so).
void DrawTestPage(wce::HDC dc, const SetupModel& model, const SettingsRecord& record,
                  wce::UINT codePage);

// Writes the record to the driver key, then prints the page on the default printer.
// A printer that gives no device context gets the layout's message box.
void RunTestPage(const SetupModel& model, const SettingsRecord& record, wce::UINT codePage);

}  // namespace setup
