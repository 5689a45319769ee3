// CUPS's IPP conformance suites (ipp-1.1.test, ipp-2.0.test and ipp-everywhere.test, as
// Debian's cups-ipp-utils installs them in /usr/share/cups/ipptool/) against the running
// app, on a printer of every driver it has. Each suite runs from a scratch copy of that
// folder with every sample document the suites name beside it, made here at run time
// (Debian ships none): the JPEG pictures, PDF and PostScript pages, and the PWG raster
// pages of the pwg-raster-samples folders, at their 150 to 720 dpi, which ipptool must
// be able to read before it runs a test, though the suite itself skips their print tests
// on a 203 dpi printer; and ours for ipptool's -f, a picture and a raster page of the
// printer's own paper at 203 dpi. So no test is skipped for want of a file. Every
// failure is counted and each suite's counts printed; afterwards the printer must still
// print and the server stop cleanly.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "../../../tests/support/emulator_process.h"
#include "app_support.h"

namespace {

using namespace qxapptest;
namespace fs = std::filesystem;

const char kSuiteDir[] = "/usr/share/cups/ipptool";

struct DriverCase {
    const char* driver;
    const char* address;  // the emulator's, port 9100
    bool modelB;
};

std::ostream& operator<<(std::ostream& out, const DriverCase& c) {
    return out << c.driver;
}

const DriverCase kDrivers[] = {
    {"qx470-escpos", "127.0.76.1", false},    {"qx470-cpcl-gap", "127.0.76.2", false},
    {"qx470-cpcl-mark", "127.0.76.3", false}, {"qx470-cpcl-journal", "127.0.76.4", false},
    {"qx250-escpos", "127.0.76.5", true},
};

// ---- sample documents ----

// A picture as binary PPM: colour bands, a grey wedge and a dark frame.
void WritePpm(const std::string& path, int width, int height) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned char rgb[3];
            bool frame = x < 6 || y < 6 || x >= width - 6 || y >= height - 6;
            if (frame) {
                rgb[0] = rgb[1] = rgb[2] = 0;
            } else if (y < height / 2) {
                int band = x * 6 / width;
                static const unsigned char kBands[6][3] = {{220, 30, 30}, {240, 200, 20},
                                                           {30, 170, 60}, {20, 160, 220},
                                                           {40, 50, 200}, {200, 40, 180}};
                for (int i = 0; i < 3; ++i) rgb[i] = kBands[band][i];
            } else {
                unsigned char g = (unsigned char)(x * 255 / width);
                rgb[0] = rgb[1] = rgb[2] = ((x / 32 + y / 32) % 2) ? g : (unsigned char)(255 - g);
            }
            out.write(reinterpret_cast<const char*>(rgb), 3);
        }
}

// A one-page PDF of that size in points, with its text, and a cross-reference table
// whose offsets are right.
std::string OnePagePdf(int width, int height, const std::string& text) {
    std::string content =
        "BT /F1 24 Tf 36 " + std::to_string(height - 72) + " Td (" + text + ") Tj ET\n";
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(width) + " " +
            std::to_string(height) + "] /Resources << /Font << /F1 4 0 R >> >> /Contents 5 0 R >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
    };
    return PdfFile(objects);
}

std::string OnePagePostScript(int width, int height, const std::string& text) {
    return "%!PS-Adobe-3.0\n%%BoundingBox: 0 0 " + std::to_string(width) + " " +
           std::to_string(height) + "\n%%Pages: 1\n%%EndComments\n%%Page: 1 1\n<< /PageSize [" +
           std::to_string(width) + " " + std::to_string(height) +
           "] >> setpagedevice\n/Helvetica findfont 24 scalefont setfont\n36 " +
           std::to_string(height - 72) + " moveto (" + text + ") show\nshowpage\n%%EOF\n";
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// ImageMagick's convert turns the PPM into PNG or JPEG files that say 203 dpi.
bool Convert(const std::string& from, const std::string& to, const std::string& options,
             const std::string& dir) {
    CommandRun r = Shell(
        "convert '" + from + "' " + options + " -units PixelsPerInch -density 203 '" + to + "'",
        dir);
    EXPECT_EQ(r.status, 0) << "convert " << to << ": " << r.err;
    return r.status == 0 && fs::exists(to);
}

// A one-page PWG raster file of the suites' pwg-raster-samples folders, as its name
// says: "NAME-TYPE-RESdpi.pwg" with NAME ending in a4, letter or 4x6 and TYPE black-1,
// cmyk-8, sgray-8, srgb-8 or srgb-16. The page is white with a dark band across its
// top; its rows are written run-length coded, as PWG 5102.4 has them, so that even a
// letter page at 720 dpi is a few kilobytes made at once.
bool WriteSampleRaster(const std::string& path) {
    std::string name = fs::path(path).stem().string();  // color.jpg-4x6-sgray-8-150dpi
    size_t dpiAt = name.rfind('-');
    int dpi = std::atoi(name.c_str() + dpiAt + 1);
    size_t typeAt = name.rfind('-', name.rfind('-', dpiAt - 1) - 1);
    std::string type = name.substr(typeAt + 1, dpiAt - typeAt - 1);  // sgray-8
    std::string base = name.substr(0, typeAt);
    const char* media = base.ends_with("a4")       ? "iso_a4_210x297mm"
                        : base.ends_with("letter") ? "na_letter_8.5x11in"
                        : base.ends_with("4x6")    ? "na_index-4x6_4x6in"
                                                   : nullptr;
    std::string pwgType = type;
    pwgType[pwgType.find('-')] = '_';
    pwg_media_t* size = media ? pwgMediaForPWG(media) : nullptr;
    cups_page_header2_t h;
    if (!size || dpi <= 0 ||
        !cupsRasterInitPWGHeader(&h, size, pwgType.c_str(), dpi, dpi, "one-sided", nullptr))
        return false;
    // One unit is a pixel, or 8 pixels of a 1-bit page.
    unsigned unitBytes = h.cupsBitsPerPixel < 8 ? 1 : h.cupsBitsPerPixel / 8;
    unsigned units = h.cupsBytesPerLine / unitBytes;
    bool additive = h.cupsColorSpace == CUPS_CSPACE_SW || h.cupsColorSpace == CUPS_CSPACE_SRGB;
    std::string white(unitBytes, additive ? '\xff' : '\0');
    std::string dark(unitBytes, additive ? '\0' : '\xff');
    if (h.cupsColorSpace == CUPS_CSPACE_CMYK) dark = std::string("\0\0\0\xff", 4);
    auto line = [&](const std::string& unit) {
        std::string out;
        for (unsigned left = units; left > 0;) {
            unsigned run = std::min(left, 128u);
            out += char(run - 1);
            out += unit;
            left -= run;
        }
        return out;
    };
    std::string body;
    auto rows = [&](unsigned count, const std::string& unit) {
        std::string coded = line(unit);
        for (unsigned left = count; left > 0;) {
            unsigned repeat = std::min(left, 256u);
            body += char(repeat - 1);
            body += coded;
            left -= repeat;
        }
    };
    unsigned band = h.cupsHeight / 8;
    rows(band, dark);
    rows(h.cupsHeight - band, white);

    fs::create_directories(fs::path(path).parent_path());
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    cups_raster_t* r = cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG);
    h.cupsInteger[0] = 1;  // total pages
    bool ok = r && cupsRasterWriteHeader2(r, &h);
    if (r) cupsRasterClose(r);  // the sync word and the header are out; the rows follow
    ok = ok && ::write(fd, body.data(), body.size()) == ssize_t(body.size());
    return ::close(fd) == 0 && ok;
}

// Every document the suites name in a FILE line (not ipptool's -f file, $filename).
std::vector<std::string> FilesNamed(const std::string& suites) {
    std::vector<std::string> names;
    for (const char* suite : {"ipp-1.1.test", "ipp-2.0.test", "ipp-everywhere.test"}) {
        std::istringstream lines(ReadFile(suites + "/" + suite));
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line);
            std::string word, file;
            if (words >> word >> file && word == "FILE" && file[0] != '$' &&
                std::find(names.begin(), names.end(), file) == names.end())
                names.push_back(file);
        }
    }
    return names;
}

// ---- the suites' reports ----

struct SuiteRun {
    int tests = 0, passed = 0, failed = 0, skipped = 0;  // counted from the report's lines
    std::string summary;                // ipptool's own summary line, when it prints one
    std::vector<std::string> failures;  // each failed test with ipptool's reasons
    std::string output;
};

// ipptool -t writes a line a test, ending in [PASS], [FAIL] or [SKIP] (a test it repeats
// also has lines ending in its try's number). Its "Summary:" line counts the tests of
// the file it was given, not those of the files that one includes, so the counts are
// taken from the lines.
SuiteRun ParseReport(const std::string& output) {
    SuiteRun run;
    run.output = output;
    std::istringstream lines(output);
    std::string line;
    std::string* failure = nullptr;
    auto ends = [&](const char* tag) {
        std::string t(tag);
        return line.size() >= t.size() && line.compare(line.size() - t.size(), t.size(), t) == 0;
    };
    while (std::getline(lines, line)) {
        if (line.rfind("Summary:", 0) == 0) {
            run.summary = line;
            failure = nullptr;
        } else if (ends("[FAIL]")) {
            ++run.failed;
            run.failures.push_back(line.substr(0, line.find_last_not_of(' ', line.size() - 7) + 1));
            failure = &run.failures.back();
        } else if (ends("[PASS]") || ends("[SKIP]")) {
            ++(ends("[PASS]") ? run.passed : run.skipped);
            failure = nullptr;
        } else if (failure && !line.empty() && line[0] == ' ') {
            *failure += "\n" + line;
        }
    }
    run.tests = run.passed + run.failed + run.skipped;
    return run;
}

// "[PASS]", "[FAIL]" or "[SKIP]" for the first test of that name in a report (a test
// ipptool repeats, as a Print-Job answered server-error-busy, has a line for each try).
std::string Outcome(const std::string& output, const std::string& test) {
    for (size_t at = output.find(test); at != std::string::npos; at = output.find(test, at + 1)) {
        size_t end = output.find('\n', at);
        std::string line =
            output.substr(at, end == std::string::npos ? std::string::npos : end - at);
        std::string tag = line.size() >= 6 ? line.substr(line.size() - 6) : line;
        if (tag == "[PASS]" || tag == "[FAIL]" || tag == "[SKIP]") return tag;
    }
    return "not run";
}

class ConformanceTest : public ServerFixture<::testing::TestWithParam<DriverCase>> {
  protected:
    // The scratch copy of the suites' folder, with the documents they print beside them:
    // the suites' own names (color.jpg, gray.jpg, document-a4/letter.pdf and .ps) and
    // ours, of the printer's paper at 203 dpi, for ipptool's -f.
    std::string MakeSuiteFolder(const DriverCase& c) {
        std::string suites = dir_ + "/ipptool";
        fs::create_directories(suites);
        for (const auto& entry : fs::directory_iterator(kSuiteDir))
            if (entry.is_regular_file())
                fs::copy_file(entry.path(), suites + "/" + entry.path().filename().string());
        std::string ppm = dir_ + "/picture.ppm";
        // 4 x 6 inches at 203 dpi, as the suites' JPEG tests are named for.
        WritePpm(ppm, 812, 1218);
        // ipptool reads every FILE of a suite before it runs one test, skipped or not, and
        // stops at the first it cannot read: each is made here.
        std::vector<std::string> named = FilesNamed(suites);
        for (const std::string& file : named) {
            std::string path = suites + "/" + file, base = fs::path(file).stem().string();
            std::string ext = fs::path(file).extension().string();
            std::string text = "QX conformance sample, " + base;
            bool letter = base.ends_with("letter");
            if (ext == ".pwg")
                EXPECT_TRUE(WriteSampleRaster(path)) << file;
            else if (ext == ".pdf")
                WriteText(path, OnePagePdf(letter ? 612 : 595, letter ? 792 : 842, text));
            else if (ext == ".ps")
                WriteText(path, OnePagePostScript(letter ? 612 : 595, letter ? 792 : 842, text));
            else if (ext == ".jpg")
                Convert(ppm, path, base == "gray" ? "-colorspace Gray -quality 80" : "-quality 80",
                        dir_);
            EXPECT_TRUE(fs::exists(path)) << "no sample document of ours for " << file;
        }
        EXPECT_GE(named.size(), 150u);  // the suites of cups-ipp-utils 2.4 name 151
        // Ours: the dots the printer prints across, 2 inches long; the raster of the
        // printer's default paper (80 x 50.8 mm, or model B's 58 x 80 mm).
        std::string small = dir_ + "/small.ppm";
        WritePpm(small, c.modelB ? 384 : 576, 406);
        EXPECT_TRUE(Convert(small, suites + "/sample.png", "", dir_));
        EXPECT_TRUE(Convert(small, suites + "/sample.jpg", "-quality 85", dir_));
        EXPECT_TRUE(
            WriteRaster(suites + "/sample.pwg", c.modelB ? 5800 : 8000, c.modelB ? 8000 : 5080, 1));
        return suites;
    }

    SuiteRun RunSuite(const std::string& suites, const std::string& suite,
                      const std::string& document, const DriverCase& c) {
        // -I: on past a failed test, so that every failure of the suite is counted.
        CommandRun r = Shell(
            "ipptool -I -t -T 30 -f '" + document + "' " + server_->Uri("p") + " '" + suite + "'",
            suites);
        SuiteRun run = ParseReport(r.out);
        std::cout << suite << " (-f " << document << ") on " << c.driver << ": " << run.tests
                  << " tests, " << run.passed << " passed, " << run.failed << " failed, "
                  << run.skipped << " skipped"
                  << (run.summary.empty() ? "" : " (ipptool: " + run.summary + ")") << "\n";
        for (const std::string& f : run.failures) std::cout << "  FAIL " << f << "\n";
        // ipptool's words on standard error: a file it could not read, a test it could
        // not send; its status is not 0 after any failure or error.
        if (!r.err.empty()) std::cout << "  ipptool: " << r.err;
        EXPECT_TRUE(run.failed == 0 && r.status == 0 && r.err.empty() && run.passed > 0)
            << suite << " on " << c.driver << ": " << run.failed << " failed, ipptool's status "
            << r.status << "\n"
            << r.out << r.err;
        return run;
    }
};

TEST_P(ConformanceTest, CupsSuitesPassAndThePrinterStillPrints) {
    const DriverCase& c = GetParam();
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    std::string out = dir_ + "/out";
    std::vector<std::string> args = {
        "--tcp", std::string(c.address) + ":9100", "--out", out, "--idle-ms", "0"};
    if (c.modelB) args.insert(args.begin(), {"--model", "b"});
    ASSERT_TRUE(emulator.Start(args)) << emulator.firstLine;
    CommandRun add = server_->App(std::string("add -d p -v qx:") + c.address + " -m " + c.driver);
    ASSERT_EQ(add.status, 0) << add.out << add.err;
    std::string suites = MakeSuiteFolder(c);

    // Each suite prints a document of another format of ours, so that the three formats
    // the app takes all go through a suite's print tests.
    struct Run {
        const char* suite;
        const char* document;
    };
    const Run runs[] = {{"ipp-1.1.test", "sample.jpg"},
                        {"ipp-2.0.test", "sample.png"},
                        {"ipp-everywhere.test", "sample.pwg"}};
    int failed = 0;
    for (const Run& run : runs) {
        SCOPED_TRACE(run.suite);
        SuiteRun result = RunSuite(suites, run.suite, run.document, c);
        failed += result.failed;
        // The suites' own print tests that a 203 dpi label or receipt printer can take
        // ran with our documents and passed (those for A4, letter or 4x6 paper, PDF,
        // PostScript, Print-URI and the other resolutions the suites skip themselves).
        std::vector<std::string> mustPass = {"RFC 8011 section 4.2.1: Print-Job Operation",
                                             "RFC 8011 section 4.3.1: Send-Document Operation",
                                             "RFC 8011 section 4.3.3: Cancel-Job Operation",
                                             "Print-Job with job-hold-until", "Release-Job"};
        // PWG raster is streamed: one copy a job, so the suites skip copies for it.
        if (std::string(run.document) != "sample.pwg") mustPass.push_back("Print-Job with copies");
        for (const std::string& test : mustPass)
            EXPECT_EQ(Outcome(result.output, test), "[PASS]") << test;
    }
    std::cout << c.driver << ": " << failed << " failures in the three suites\n";

    // The server is left healthy: a job prints into the emulator.
    std::string err;
    int id =
        server_->PrintJob("p", suites + "/sample.pwg", "image/pwg-raster", "successful-ok", &err);
    ASSERT_GT(id, 0) << err;
    JobState job = server_->WaitJob("p", id, 90);
    EXPECT_EQ(job.state, "completed") << job.message;
    emulator.Stop();
    size_t pages = 0;
    if (fs::exists(out))
        for (const auto& entry : fs::directory_iterator(out))
            pages += entry.path().extension() == ".png";
    EXPECT_GE(pages, 4u) << ReadFile(out + "/emulator.log");
}

INSTANTIATE_TEST_SUITE_P(EveryDriver, ConformanceTest, ::testing::ValuesIn(kDrivers),
                         [](const ::testing::TestParamInfo<DriverCase>& info) {
                             std::string name = info.param.driver;
                             for (char& ch : name)
                                 if (ch == '-') ch = '_';
                             return name;
                         });

}  // namespace
