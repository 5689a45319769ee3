// PDF and plain text jobs as IPP clients send them: the real server on a free loopback
// port, printers whose device is the emulator, each page rendered by the worker and sent
// through the driver, the emulator's paper compared with goldens; bad files refused with
// a reason the client can read.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "../../../tests/support/emulator_process.h"
#include "app_support.h"
#include "golden_page.h"
#include "png_io.h"

namespace {

using namespace qxapptest;

// One page of a PDF: its media box, further entries of its dictionary, its drawing.
struct PdfPage {
    std::string box;
    std::string extra;
    std::string content;
};

// A PDF written out by hand, with the cross-reference table of its objects' offsets:
// the catalog (1), the page tree (2), Helvetica (3), each page and its contents, then
// any further objects; trailerExtra goes into the trailer.
std::string MakePdf(const std::vector<PdfPage>& pages, const std::vector<std::string>& further = {},
                    const std::string& trailerExtra = "") {
    std::vector<std::string> objects{"<< /Type /Catalog /Pages 2 0 R >>", "",
                                     "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
    std::string kids;
    for (size_t i = 0; i < pages.size(); ++i) {
        size_t page = 4 + 2 * i;
        kids += std::to_string(page) + " 0 R ";
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [" + pages[i].box +
                          "] /Resources << /Font << /F1 3 0 R >> >> /Contents " +
                          std::to_string(page + 1) + " 0 R " + pages[i].extra + ">>");
        objects.push_back("<< /Length " + std::to_string(pages[i].content.size()) +
                          " >>\nstream\n" + pages[i].content + "\nendstream");
    }
    objects[1] =
        "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>";
    objects.insert(objects.end(), further.begin(), further.end());
    return PdfFile(objects, trailerExtra);
}

// Two pages of a receipt's shape (3 by 2 inches): the second stored upright and turned
// a quarter by its /Rotate, so it too prints wide.
std::string TwoPagePdf() {
    return MakePdf({{"0 0 216 144", "",
                     "4 w 4 4 208 136 re S 0.5 g 16 16 56 56 re f 0 g 16 84 56 44 re f "
                     "BT /F1 22 Tf 88 96 Td (Page one) Tj /F1 12 Tf 0 -30 Td (Total 12.00) Tj ET"},
                    {"0 0 144 216", "/Rotate 90 ",
                     "2 w 8 8 128 200 re S 16 24 m 128 24 l 72 120 l f "
                     "BT /F1 20 Tf 24 150 Td (Page two) Tj ET"}});
}

// A page of A4, longer than any label is: it is made smaller to fit the label's length.
std::string A4Pdf() {
    return MakePdf({{"0 0 595 842", "",
                     "12 w 20 20 555 802 re S 0.3 g 100 300 395 242 re f 0 g "
                     "BT /F1 72 Tf 140 600 Td (A4 page) Tj ET"}});
}

// A document a password protects: the standard handler's check values match no password.
std::string EncryptedPdf() {
    std::string hex32(64, 'A');
    return MakePdf(
        {{"0 0 216 144", "", "BT /F1 22 Tf 20 60 Td (Secret) Tj ET"}},
        {"<< /Filter /Standard /V 1 /R 2 /O <" + hex32 + "> /U <" + hex32 + "> /P -4 >>"},
        "/Encrypt 6 0 R /ID [<0123456789ABCDEF0123456789ABCDEF> "
        "<0123456789ABCDEF0123456789ABCDEF>] ");
}

// A receipt's words in Korean and English: a line too long for the paper, and enough
// lines that the text fills a second page.
std::string KoreanText() {
    std::string text = "QX 영수증 테스트\n상품명          수량     금액\n";
    text += "A line long enough that it must be broken in two on 80 mm paper.\n";
    for (int i = 1; i <= 16; ++i)
        text += "품목 " + std::to_string(i) + "번   1개   " + std::to_string(i * 500) + "원\n";
    text += "합계 68,000원\n감사합니다!\n";
    return text;
}

size_t CountOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A CUPS scheduler of the test's own: its folders, socket and loopback port, no other
// queue; run as nobody when the test runs as root, so it holds no privilege. It is
// stopped with SIGTERM at the end, and killed when it takes over 10 s.
class PrivateCups {
  public:
    explicit PrivateCups(std::string dir) : dir_(std::move(dir)) {}
    ~PrivateCups() {
        if (cupsd_.Running()) cupsd_.Stop(SIGTERM, 10s);
    }
    static bool Installed() {
        return ::access("/usr/sbin/cupsd", X_OK) == 0 && ::access("/usr/bin/lp", X_OK) == 0;
    }
    bool Start(const std::string& address, int port) {
        for (const char* sub : {"", "/spool", "/cache", "/state", "/tmp"})
            ::mkdir((dir_ + sub).c_str(), 0755);
        std::ofstream(dir_ + "/cupsd.conf")
            << "Listen " << address << ":" << port << "\nListen " << Socket()
            << "\nLogLevel debug\nBrowsing Off\nWebInterface No\n"
               "<Location />\n Order allow,deny\n Allow all\n</Location>\n";
        std::ofstream(dir_ + "/cups-files.conf")
            << "ServerRoot " << dir_ << "\nRequestRoot " << dir_ << "/spool\nCacheDir " << dir_
            << "/cache\nStateDir " << dir_ << "/state\nTempDir " << dir_ << "/tmp\nAccessLog "
            << dir_ << "/access_log\nErrorLog " << dir_ << "/error_log\nPageLog " << dir_
            << "/page_log\nServerBin /usr/lib/cups\nDataDir /usr/share/cups\n";
        const bool root = ::getuid() == 0;
        // nobody must reach its folder through the test's own.
        if (root)
            Shell("chown -R 65534:65534 '" + dir_ + "' && chmod 711 '" + dir_ + "/..'",
                  dir_ + "/..");
        qxtest::ChildProgram cupsd;
        if (root) cupsd.argv = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        cupsd.argv.insert(cupsd.argv.end(), {"/usr/sbin/cupsd", "-f", "-c", dir_ + "/cupsd.conf",
                                             "-s", dir_ + "/cups-files.conf"});
        cupsd.outputPath = dir_ + "/cupsd.stdout";
        cupsd.errorsPath = dir_ + "/cupsd.out";
        return cupsd_.Start(cupsd) &&
               WaitFor([&] { return Lp("lpstat -r").out.find("is running") != std::string::npos; },
                       30);
    }
    // A CUPS client command, sent to this scheduler.
    CommandRun Lp(const std::string& command) {
        return Shell("CUPS_SERVER='" + Socket() + "' " + command, dir_ + "/..");
    }
    std::string Socket() const { return dir_ + "/cups.sock"; }
    std::string Log() const { return ReadFile(dir_ + "/error_log"); }

  private:
    std::string dir_;
    qxtest::ChildProcess cupsd_;
};

class DocumentsTest : public ServerFixture<> {
  protected:
    std::string Write(const std::string& name, const std::string& bytes) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // Print-Job by ipptool, then the job's end.
    JobState Print(const std::string& printer, const std::string& file, const std::string& format) {
        std::string err;
        int id = server_->PrintJob(printer, file, format, "successful-ok", &err);
        EXPECT_GT(id, 0) << err;
        return id > 0 ? server_->WaitJob(printer, id) : JobState{};
    }
    void ExpectGolden(const std::string& png, const std::string& name) {
        auto outcome =
            qxtest::CheckPngGolden(png, std::string(QX_APP_TEST_DIR) + "/golden/" + name + ".png",
                                   dir_ + "/" + name + "-diff.png");
        EXPECT_TRUE(outcome.matched) << name << ": " << outcome.message;
    }
};

TEST_F(DocumentsTest, PdfAndUtf8TextPrintAsTheGoldenImages) {
    qxtest::EmulatorProcess modelA(QX_EMULATOR_BIN), modelB(QX_EMULATOR_BIN);
    std::string outA = dir_ + "/out-a", outB = dir_ + "/out-b";
    ASSERT_TRUE(modelA.Start({"--tcp", "127.0.85.1:9100", "--out", outA, "--idle-ms", "0"}));
    ASSERT_TRUE(
        modelB.Start({"--model", "b", "--tcp", "127.0.85.2:9100", "--out", outB, "--idle-ms", "0"}))
        << modelB.firstLine;
    Add("receipt", "127.0.85.1", "qx470-escpos");
    Add("label", "127.0.85.1", "qx470-cpcl-gap");
    Add("receipt58", "127.0.85.2", "qx250-escpos");
    std::string pdf = Write("two-pages.pdf", TwoPagePdf());
    std::string text = Write("receipt.txt", KoreanText());
    struct Job {
        const char* printer;
        std::string file;
        const char* format;
    };
    // A PDF sent as data of no stated kind is recognised by the server.
    for (const Job& j :
         {Job{"receipt", pdf, "application/pdf"}, Job{"receipt", text, "text/plain"},
          Job{"label", Write("a4.pdf", A4Pdf()), "application/octet-stream"},
          Job{"receipt58", pdf, "application/pdf"}, Job{"receipt58", text, "text/plain"}}) {
        JobState job = Print(j.printer, j.file, j.format);
        EXPECT_EQ(job.state, "completed") << j.printer << " " << j.file << ": " << job.message;
    }
    modelA.Stop();
    modelB.Stop();
    // A receipt's pages follow one another on the roll: one picture a job.
    auto pngsA = qxtest::PngFiles(outA), pngsB = qxtest::PngFiles(outB);
    ASSERT_EQ(pngsA.size(), 3u) << ReadFile(outA + "/emulator.log");
    ASSERT_EQ(pngsB.size(), 2u) << ReadFile(outB + "/emulator.log");
    // Each page of a receipt ends with the driver's three line feeds: the PDF's two
    // pages, then the text's two on 80 mm paper and its one on 58 mm (a longer page).
    std::string logA = ReadFile(outA + "/emulator.log"), logB = ReadFile(outB + "/emulator.log");
    EXPECT_EQ(CountOf(logA, "LF               line feed"), 3u * 4) << logA;
    EXPECT_EQ(CountOf(logB, "LF               line feed"), 3u * 3) << logB;
    EXPECT_NE(logA.find("label 406 rows, quantity 1"), std::string::npos) << logA;
    ExpectGolden(outA + "/receipt-0001.png", "doc-receipt-pdf");
    ExpectGolden(outA + "/receipt-0002.png", "doc-receipt-text-ko");
    ExpectGolden(outA + "/label-0001.png", "doc-label-a4-pdf");
    ExpectGolden(outB + "/receipt-0001.png", "doc-modelb-pdf");
    ExpectGolden(outB + "/receipt-0002.png", "doc-modelb-text-ko");
}

TEST_F(DocumentsTest, BadDocumentsAreRefusedWithTheirReasonsAndTheNextPrints) {
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    std::string out = dir_ + "/out";
    ASSERT_TRUE(emulator.Start({"--tcp", "127.0.85.3:9100", "--out", out, "--idle-ms", "0"}));
    Add("receipt", "127.0.85.3", "qx470-escpos");
    std::string good = TwoPagePdf();
    struct Bad {
        const char* name;
        std::string bytes;
        const char* format;
        const char* reason;
    };
    const Bad bad[] = {
        {"damaged.pdf", "%PDF-1.4\n" + std::string(2000, 'x') + "\n", "application/pdf",
         "the pdf is damaged"},
        // Recognised as PDF by its first bytes, then refused as damaged.
        {"damaged.bin", "%PDF-1.7\n1 0 obj <<< endobj\n", "application/octet-stream",
         "the pdf is damaged"},
        {"encrypted.pdf", EncryptedPdf(), "application/pdf", "encrypted with a password"},
        {"no-pages.pdf", MakePdf({}), "application/pdf", "the pdf has no pages"},
        {"latin1.txt", "caf\xE9 au lait\n", "text/plain",
         "not utf-8: a byte that is not utf-8 at byte 4 (line 1)"},
        {"overlong.txt", "ok\nslash \xC0\xAF\n", "text/plain", "at byte 10 (line 2)"},
        {"nul.txt", std::string("a\0b", 3), "text/plain", "not utf-8: a nul byte at byte 2"},
    };
    for (const Bad& b : bad) {
        JobState job = Print("receipt", Write(b.name, b.bytes), b.format);
        EXPECT_EQ(job.state, "aborted") << b.name;
        EXPECT_NE(Lower(job.message).find(b.reason), std::string::npos)
            << b.name << ": " << job.message;
    }
    // An empty document is refused by the server before it is a job.
    for (const char* format : {"application/pdf", "text/plain"}) {
        std::string err;
        EXPECT_EQ(server_->PrintJob("receipt", Write("empty", ""), format,
                                    "client-error-bad-request", &err),
                  0)
            << format << ": " << err;
    }
    // None of them made the printer look offline or left it unable to print.
    EXPECT_EQ(server_->PrinterReasons("receipt").find("offline"), std::string::npos);
    JobState last = Print("receipt", Write("ok.txt", "\xEF\xBB\xBFStill printing\n"), "text/plain");
    EXPECT_EQ(last.state, "completed") << last.message;
    emulator.Stop();
    EXPECT_EQ(qxtest::PngFiles(out).size(), 1u) << ReadFile(out + "/emulator.log");
}

// A CUPS queue of the app's printer: the scheduler hands PDF and text on as they are,
// and the pages come out as over IPP.
TEST_F(DocumentsTest, PdfAndTextPrintThroughACupsQueueAsOverIpp) {
    if (!PrivateCups::Installed())
        GTEST_SKIP() << "CUPS's scheduler and lp are not installed (make deps)";
    qxtest::EmulatorProcess emulator(QX_EMULATOR_BIN);
    std::string out = dir_ + "/out";
    ASSERT_TRUE(emulator.Start({"--tcp", "127.0.85.4:9100", "--out", out, "--idle-ms", "0"}));
    Add("receipt", "127.0.85.4", "qx470-escpos");
    PrivateCups cups(dir_ + "/cups");
    ASSERT_TRUE(cups.Start("127.0.85.5", FreePort()))
        << ReadFile(dir_ + "/cups/cupsd.out") << cups.Log();
    CommandRun r = cups.Lp("lpadmin -p qx-receipt -E -v " + server_->Uri("receipt"));
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::string pdf = Write("two-pages.pdf", TwoPagePdf()),
                text = Write("receipt.txt", KoreanText());
    // One after the other, so the pictures come in the order of the goldens.
    size_t printed = 0;
    for (const std::string& file : {pdf, text}) {
        r = cups.Lp("lp -d qx-receipt '" + file + "'");
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        ++printed;
        EXPECT_TRUE(WaitFor([&] { return qxtest::PngFiles(out).size() == printed; }, 90))
            << cups.Log();
    }
    EXPECT_TRUE(WaitFor([&] { return cups.Lp("lpstat -o qx-receipt").out.empty(); }, 30))
        << cups.Log();
    emulator.Stop();
    auto pngs = qxtest::PngFiles(out);
    ASSERT_EQ(pngs.size(), 2u) << ReadFile(out + "/emulator.log") << cups.Log();
    ExpectGolden(pngs[0], "doc-receipt-pdf");
    ExpectGolden(pngs[1], "doc-receipt-text-ko");
}

}  // namespace
