// The test page: a greeting, the time, and what the driver is set up with.
#include "test_page.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <ctime>

#include "wce/gdi.h"
#include "wce/text.h"
#include "wce/ui.h"

namespace setup {

using namespace wce;

namespace {

constexpr int kDotsPerInch = 203;
constexpr int kTenthsPerInch = 254;
constexpr DWORD kPrintDialogSize = 68;

LocalTime SystemTime() {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

Clock& CurrentClock() {
    static Clock clock = SystemTime;
    return clock;
}

std::u16string FieldText(PageField field, const SettingsRecord& record,
                         const std::u16string& time) {
    switch (field) {
        case PageField::Time:
            return time;
        case PageField::Emulation:
            return record.loadedEmulation == 0 ? u"Emulation : ESC/POS" : u"Emulation : CPCL";
        case PageField::Port:
            return record.portName;
        case PageField::Driver:
            return record.driverName;
        case PageField::None:
            break;
    }
    return {};
}

void DrawPage(HDC dc, const SetupModel& model, const TestPageLayout& layout,
              const SettingsRecord& record) {
    LOGFONTW lf{};
    lf.lfHeight = 24;
    lf.lfWidth = 12;
    lf.lfCharSet = DEFAULT_CHARSET;
    WideCopy(lf.lfFaceName, sizeof lf.lfFaceName / sizeof lf.lfFaceName[0], layout.faceName);
    HFONT font = CreateFontIndirectW(&lf);
    HGDIOBJ previous = SelectObject(dc, font);
    RECT area{0, 0, model.pageRight, model.pageBottom(StoredHeight(model, record))};
    std::u16string time = TimeText(layout, ReadClock());
    for (const TestPageLine& line : layout.lines) {
        std::u16string text =
            line.field == PageField::None
                ? std::u16string(line.text)
                : FormatWideString(line.text, FieldText(line.field, record, time).c_str());
        DrawTextW(dc, text.c_str(), -1, &area, DT_WORDBREAK);
        area.top += line.advance;
    }
    SelectObject(dc, previous);
    DeleteObject(font);
}

}  // namespace

Clock SetTestPageClock(Clock clock) {
    Clock old = CurrentClock();
    CurrentClock() = clock ? std::move(clock) : Clock(SystemTime);
    return old;
}

LocalTime ReadClock() {
    return CurrentClock()();
}

std::u16string TimeText(const TestPageLayout& layout, const LocalTime& t) {
    bool afternoon = t.hour >= 12;
    int hour = t.hour % 12 == 0 ? 12 : t.hour % 12;
    const char16_t* format = afternoon ? layout.afternoon : layout.morning;
    if (layout.yearFirst)
        return FormatWideString(format, hour, t.minute, t.second, t.year, t.month, t.day);
    return FormatWideString(format, hour, t.minute, t.second, t.month, t.day, t.year);
}

int PageBottom(int heightTenths) {
    return heightTenths / kTenthsPerInch * kDotsPerInch;
}

int PageBottomFromMillimetres(int heightMm) {
    constexpr double kInchesPerMm = 0.03937007874015748;
    double dots = std::trunc(heightMm * kInchesPerMm * kDotsPerInch);
    // Any stored number gives a rectangle, even one no paper has.
    return int(std::clamp(dots, double(INT_MIN), double(INT_MAX)));
}

void DrawTestPage(HDC dc, const SetupModel& model, const SettingsRecord& record, UINT codePage) {
    DrawPage(dc, model, model.testPage[Language(codePage)], record);
}

void RunTestPage(const SetupModel& model, const SettingsRecord& record, UINT codePage) {
    const TestPageLayout& layout = model.testPage[Language(codePage)];
    // The page shows what the driver now reads: settings that could not be written
    // would be printed as the user's when they are not.
    if (LONG error = SaveSettings(model, record)) {
        static const char16_t* const kNotSaved[2] = {
            u"The driver settings could not be saved\n(registry error %d).\nThe test page is not "
            u"printed.",
            u"드라이버 설정을 저장하지 못했습니다\n(레지스트리 오류 %d).\n테스트 페이지를 인쇄하지 "
            u"않습니다.",
        };
        MessageBoxW(nullptr, FormatWideString(kNotSaved[Language(codePage)], int(error)).c_str(),
                    layout.errorCaption, MB_OK | MB_ICONERROR);
        return;
    }

    PRINTDLGW print{};
    print.cbStruct = kPrintDialogSize;
    print.dwFlags = PD_RETURNDEFAULT;
    PrintDlgW(&print);
    if (!print.hdc) {
        MessageBoxW(nullptr, layout.errorText, layout.errorCaption, MB_OK);
        return;
    }
    DOCINFOW doc{int(sizeof(DOCINFOW)), u"PrintTestPage", nullptr, nullptr, 0};
    StartDocW(print.hdc, &doc);
    StartPage(print.hdc);
    DrawPage(print.hdc, model, layout, record);
    EndPage(print.hdc);
    EndDoc(print.hdc);
    DeleteDC(print.hdc);
}

}  // namespace setup
