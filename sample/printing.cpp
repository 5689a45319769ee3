// What the three print buttons draw: a heading and five lines of text, a bitmap from a
// file under a heading of its own, or both on one page. Device units are the printer's
// dots; every device context, font and bitmap made here is released before returning.
#include "print_demo.h"

using namespace wce;

namespace printdemo {

namespace {

constexpr RECT kTextRect{0, 0, 576, 1000};
constexpr int kHeadingStep = 54;
constexpr int kLineStep = 27;

const char* const kLabelHeading = "Print Driver Sample Print";
const char* const kLabelLines[] = {"TEST Line 1", "TEST Line 2", "TEST Line 3", "TEST Line 4",
                                   "TEST Line 5"};
const char* const kBitmapHeading = "Print Bitmap";

// The default printer's device context, or null when none could be made.
HDC GetPrinterDC() {
    PRINTDLGW pd{};
    pd.cbStruct = 68;  // the record's size on the handheld
    pd.dwFlags = PD_RETURNDEFAULT;
    PrintDlgW(&pd);
    return pd.hdc;
}

void ShowNoPrinter() {
    MessageBoxW(nullptr, u"Failed to Creating DC", u"ERROR", MB_OK);
}

// One document of one page on a printer device context, which it owns from the start.
class PrinterPage {
  public:
    explicit PrinterPage(HDC dc) : dc_(dc) {}
    PrinterPage(const PrinterPage&) = delete;
    PrinterPage& operator=(const PrinterPage&) = delete;
    ~PrinterPage() {
        if (oldFont_) SelectObject(dc_, oldFont_);
        DeleteDC(dc_);
        if (font_) DeleteObject(font_);
    }

    // Starts the document and its page, and makes the text font current.
    void Start(const char16_t* docName) {
        DOCINFOW doc{};
        doc.cbSize = 20;  // the record's size on the handheld
        doc.lpszDocName = docName;
        StartDocW(dc_, &doc);
        StartPage(dc_);
        SetTextColor(dc_, RGB(0, 0, 0));  // black, the default, whatever came before
        rect_ = kTextRect;
        LOGFONTW lf{};
        lf.lfHeight = 24;
        lf.lfWidth = 12;
        lf.lfCharSet = DEFAULT_CHARSET;
        std::char_traits<char16_t>::copy(lf.lfFaceName, u"Arial", 6);
        font_ = CreateFontIndirectW(&lf);
        oldFont_ = SelectObject(dc_, font_);
    }

    // Draws one line at the current top, then moves the top down by step.
    void Line(const char* text, int step) {
        WCHAR wide[64];
        MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 64);
        DrawTextW(dc_, wide, -1, &rect_, DT_WORDBREAK);
        rect_.top += step;
    }

    void Label() {
        Line(kLabelHeading, kHeadingStep);
        for (const char* line : kLabelLines) Line(line, kLineStep);
    }

    // Copies the file's bitmap at its own size below the text and ends the page. A
    // file the loader cannot read leaves the page open: the document's end prints it
    // without a bitmap.
    void Bitmap(const std::u16string& path) {
        HBITMAP bitmap = SHLoadDIBitmap(path.c_str());
        if (!bitmap) return;
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        ReleaseDC(nullptr, screen);
        HGDIOBJ old = SelectObject(memory, bitmap);
        BITMAP bm{};
        GetObjectW(bitmap, sizeof bm, &bm);
        StretchBlt(dc_, 0, rect_.top, bm.bmWidth, bm.bmHeight, memory, 0, 0, bm.bmWidth,
                   bm.bmHeight, SRCCOPY);
        EndPage(dc_);
        SelectObject(memory, old);
        DeleteDC(memory);
        DeleteObject(bitmap);
    }

    void EndPageAndDocument() {
        EndPage(dc_);
        EndDoc(dc_);
    }
    void EndDocument() { EndDoc(dc_); }

  private:
    HDC dc_;
    HFONT font_ = nullptr;
    HGDIOBJ oldFont_ = nullptr;
    RECT rect_ = kTextRect;
};

}  // namespace

void PrintLabel() {
    HDC dc = GetPrinterDC();
    if (!dc) return ShowNoPrinter();
    PrinterPage page(dc);
    page.Start(u"PrintDemo");
    page.Label();
    page.EndPageAndDocument();
}

void PrintBitmap(const std::u16string& path) {
    HDC dc = GetPrinterDC();
    if (!dc) return ShowNoPrinter();
    PrinterPage page(dc);
    page.Start(u"PrintDemo");
    page.Line(kBitmapHeading, kLineStep);
    page.Bitmap(path);
    page.EndDocument();
}

void PrintSampleLabel(const std::u16string& path) {
    HDC dc = GetPrinterDC();
    if (!dc) return ShowNoPrinter();
    PrinterPage page(dc);
    page.Start(u"Sample");
    page.Label();
    page.Bitmap(path);
    page.EndDocument();
}

}  // namespace printdemo
