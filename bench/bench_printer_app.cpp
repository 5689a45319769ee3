// Whole printer applications side by side: ours (qx-printer-app) and LPrint, each a
// real server on loopback printing into byte sinks that take the printers' place.
//
// The figures are wall-clock times of whole servers and their job workers, from the
// first Print-Job sent to the last byte a sink read, so this is a plain program that
// prints a table rather than a Google Benchmark loop. Each run measures both servers;
// the table shows the median of the runs (and their range). Options:
//   --runs=N         runs (2; each takes a minute or two, mostly our 100 one-page jobs)
//   --ours-only      skip LPrint (also when it is not installed)
//   --keep           keep the servers' folders (logs, spool) for a look afterwards
//   --quick          skip the 50-job and the 10-client figures
// QX_LPRINT names another lprint binary. --benchmark_* options are ignored, so
// `make bench` can run it with the others.
#include <png.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "printer_app_bench.h"

namespace {

using namespace qxappbench;

struct Document {
    std::string file, format;
    int pages = 1;
};

struct Job {
    int printer = 0;
    const Document* document = nullptr;
};

// One measurement: seconds from the first Print-Job to the last byte any sink read.
struct Figure {
    double seconds = NAN;
    double cpuSeconds = NAN;  // of all the server's processes
    int pages = 0;
    std::uint64_t bytes = 0;
    Memory memory;  // idle, or the peak under load
    std::string failure;
};

// Print-Job, sent again while the printer answers that it is busy: a raster job streams
// to the printer as it comes, so the printer takes a second one only after the first,
// and CUPS's ipp backend retries in the same way. The job's id; 0 when refused, -1 when
// the server did not answer.
int SubmitJob(Client& c, Server& server, const Job& job) {
    std::string printer = server.Printer(job.printer);
    auto until = Clock::now() + std::chrono::seconds(kBusySeconds);
    for (;;) {
        ipp_t* r = c.Request(IPP_OP_PRINT_JOB, printer);
        ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                     job.document->format.c_str());
        if (job.document->format == "image/png")
            ippAddString(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "media", nullptr,
                         server.peer().media.c_str());
        Response answer = c.Do(r, printer, job.document->file);
        if (Client::Ok(answer)) {
            ipp_attribute_t* id = ippFindAttribute(answer.get(), "job-id", IPP_TAG_INTEGER);
            return id ? ippGetInteger(id, 0) : 0;
        }
        if (answer && ippGetStatusCode(answer.get()) == IPP_STATUS_ERROR_BUSY &&
            Clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        // A server that dropped the connection may be on its way down.
        qxapptest::WaitFor([&] { return !server.Alive(); }, 2);
        if (!answer) return -1;
        if (server.Alive())
            std::fprintf(stderr, "%s: Print-Job refused: %s\n", server.peer().title.c_str(),
                         ippErrorString(ippGetStatusCode(answer.get())));
        return 0;
    }
}

// The job's state; with `why`, also its reasons and message.
int JobState(Client& c, const Server& server, int printer, int id, std::string* why = nullptr) {
    std::string resource = server.Printer(printer);
    ipp_t* r = c.Request(IPP_OP_GET_JOB_ATTRIBUTES, resource);
    ippAddInteger(r, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
    const char* wanted[] = {"job-state", "job-state-reasons", "job-state-message"};
    ippAddStrings(r, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", why ? 3 : 1,
                  nullptr, wanted);
    Response answer = c.Do(r, resource);
    ipp_attribute_t* state =
        answer ? ippFindAttribute(answer.get(), "job-state", IPP_TAG_ENUM) : nullptr;
    if (why && answer) {
        char text[512] = "";
        for (const char* name : {"job-state-reasons", "job-state-message"})
            if (ipp_attribute_t* a = ippFindAttribute(answer.get(), name, IPP_TAG_ZERO)) {
                ippAttributeString(a, text, sizeof text);
                *why += std::string(" ") + text;
            }
    }
    return state ? ippGetInteger(state, 0) : 0;
}

// Waits for every job to end, asking about one job at a time: a printer need not take
// its jobs in the order they came. Then every job must have completed.
// A server that neither answers nor sends a byte for kStallSeconds is given up on.
std::string WaitJobs(Client& c, Server& server, const std::map<int, std::vector<int>>& ids) {
    auto progress = Clock::now();
    std::uint64_t bytes = 0;
    for (const auto& [printer, list] : ids) {
        for (int id : list) {
            int state;
            while ((state = JobState(c, server, printer, id)) < IPP_JSTATE_CANCELED) {
                if (!server.Alive()) return server.Death();
                std::uint64_t now = 0;
                for (int i = 0; i < kPrinters; ++i) now += server.sink(i).bytes();
                if (now != bytes) progress = Clock::now(), bytes = now;
                if (Clock::now() - progress > std::chrono::seconds(kStallSeconds))
                    return state ? "stalled" : "hung (no answer)";
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            progress = Clock::now();
        }
    }
    for (const auto& [printer, list] : ids)
        for (int id : list) {
            std::string why;
            if (JobState(c, server, printer, id, &why) == IPP_JSTATE_COMPLETED) continue;
            if (!server.Alive()) return server.Death();
            std::fprintf(stderr, "%s: job %d did not complete:%s\n", server.peer().title.c_str(),
                         id, why.c_str());
            return "job failed";
        }
    return {};
}

Figure Finish(Server& server, Clock::time_point start, const std::vector<Job>& jobs,
              const std::string& failure) {
    Figure f;
    f.failure = failure;
    Clock::time_point last = start;
    for (int i = 0; i < kPrinters; ++i) {
        f.bytes += server.sink(i).bytes();
        last = std::max(last, server.sink(i).last());
    }
    for (const Job& j : jobs) f.pages += j.document->pages;
    if (failure.empty()) f.seconds = Seconds(last - start);
    return f;
}

// Each client sends its jobs one after another on a connection of its own, all clients
// at once. The ids of each printer's jobs, or why not.
std::string SubmitAll(Server& server, const std::vector<std::vector<Job>>& clients,
                      std::map<int, std::vector<int>>* ids) {
    std::vector<std::map<int, std::vector<int>>> got(clients.size());
    std::vector<std::string> failures(clients.size());
    std::vector<std::thread> threads;
    for (size_t k = 0; k < clients.size(); ++k)
        threads.emplace_back([&, k] {
            Client c(server.port());
            for (const Job& j : clients[k]) {
                int id = SubmitJob(c, server, j);
                if (id <= 0)
                    return void(failures[k] = !server.Alive() ? server.Death()
                                              : id < 0        ? "hung (no answer)"
                                                              : "refused");
                got[k][j.printer].push_back(id);
            }
        });
    for (std::thread& t : threads) t.join();
    for (const auto& m : got)
        for (const auto& [printer, list] : m)
            (*ids)[printer].insert((*ids)[printer].end(), list.begin(), list.end());
    for (const std::string& f : failures)
        if (!f.empty()) return f;
    return {};
}

// The clients' jobs from the first Print-Job to the last byte, and with `sample` the
// peak memory of the server and its workers meanwhile.
Figure RunClients(Server& server, const std::vector<std::vector<Job>>& clients,
                  bool sample = false) {
    for (int i = 0; i < kPrinters; ++i) server.sink(i).Reset();
    std::atomic<bool> done{false};
    Memory peak;
    std::thread sampler([&] {
        while (sample && !done) {
            Memory now = TreeMemory(server.pid());
            peak.rssKb = std::max(peak.rssKb, now.rssKb);
            peak.pssKb = std::max(peak.pssKb, now.pssKb);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    std::vector<Job> jobs;
    for (const auto& list : clients) jobs.insert(jobs.end(), list.begin(), list.end());
    std::map<int, std::vector<int>> ids;
    const double cpuBefore = TreeCpuSeconds(server.pid());
    Clock::time_point start = Clock::now();
    std::string failure = SubmitAll(server, clients, &ids);
    if (failure.empty()) {
        // One poller for all, so polling does not load the server once per client.
        Client c(server.port());
        failure = WaitJobs(c, server, ids);
    }
    done = true;
    sampler.join();
    Figure f = Finish(server, start, jobs, failure);
    f.memory = peak;
    f.cpuSeconds = TreeCpuSeconds(server.pid()) - cpuBefore;
    return f;
}

// A client for each printer, as each printer's own users would send: a job that streams
// keeps its client waiting until it has printed, so one client for all printers would
// print one job at a time.
Figure RunJobs(Server& server, const std::vector<Job>& jobs) {
    std::map<int, std::vector<Job>> byPrinter;
    for (const Job& j : jobs) byPrinter[j.printer].push_back(j);
    std::vector<std::vector<Job>> clients;
    for (auto& [printer, list] : byPrinter) clients.push_back(list);
    return RunClients(server, clients);
}

// The measurements of one run, by name, in the order of the table.
using Run = std::vector<std::pair<std::string, Figure>>;

struct Documents {
    Document label, raster20, raster20Text, raster200, labelRaster;
};

bool WritePng(const std::string& path, int width, int height) {
    std::vector<unsigned char> page = qxapptest::TestPage(width, height, 0, width);
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(out);
        return false;
    }
    png_init_io(png, out);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_pHYs(png, info, 7992, 7992, PNG_RESOLUTION_METER);  // 203 dpi
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) png_write_row(png, &page[size_t(y) * size_t(width)]);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(out) == 0;
}

// Untimed: the first job of each printer, so no figure carries a server's first start-up.
bool WarmUp(Server& server, const Documents& docs) {
    std::vector<Job> jobs;
    for (int i = 0; i < kPrinters; ++i) jobs.push_back({i, &docs.labelRaster});
    return RunJobs(server, jobs).failure.empty();
}

// The parallel and the many-client figures use one-page PWG raster jobs, as CUPS queues
// send them: LPrint crashes often on PNG jobs back to back, which would leave those
// figures without its side. The memory under load is taken in the first run only.
Run MeasureOnce(Server& server, const Documents& docs, bool withClients, bool quick) {
    Run run;
    std::string why;
    if (!server.Alive() && (!server.Start(&why) || !WarmUp(server, docs))) {
        std::fprintf(stderr, "%s: %s\n", server.peer().title.c_str(), why.c_str());
        return run;
    }
    // Idle: once the workers our server keeps between a printer's jobs have gone (3 s).
    std::this_thread::sleep_for(std::chrono::milliseconds(4500));
    Figure idle;
    idle.memory = TreeMemory(server.pid());
    run.emplace_back("idle", idle);
    auto ready = [&] { return server.Alive() || (server.Start(&why) && WarmUp(server, docs)); };
    auto record = [&](const std::string& name, const Figure& f) {
        run.emplace_back(name, f);
        if (f.failure.rfind("hung", 0) == 0 || f.failure == "stalled") server.Kill();
    };
    auto measure = [&](const std::string& name, const std::vector<Job>& jobs) {
        if (ready()) record(name, RunJobs(server, jobs));
    };
    measure("label", {{0, &docs.label}});
    measure("raster20", {{0, &docs.raster20}});
    measure("raster20Text", {{0, &docs.raster20Text}});
    measure("raster200", {{0, &docs.raster200}});
    if (!quick) {
        measure("fifty", std::vector<Job>(50, {0, &docs.label}));
        measure("fiftyPwg", std::vector<Job>(50, {0, &docs.labelRaster}));
    }
    measure("one10", std::vector<Job>(10, {0, &docs.labelRaster}));
    std::vector<Job> forty;
    for (int n = 0; n < 10; ++n)
        for (int i = 0; i < kPrinters; ++i) forty.push_back({i, &docs.labelRaster});
    measure("four10", forty);
    // Ten clients at once, each sending ten jobs, client k to printer k mod 4.
    std::vector<std::vector<Job>> clients;
    for (int k = 0; k < 10; ++k) clients.emplace_back(10, Job{k % kPrinters, &docs.labelRaster});
    if (withClients && !quick && ready()) record("clients", RunClients(server, clients, true));
    return run;
}

// Median and range of one measurement over the runs, with how many runs failed.
struct Summary {
    std::vector<Figure> ok;
    std::map<std::string, int> failures;
    int runs = 0;
    double Median(double Figure::*field) const {
        std::vector<double> v;
        for (const Figure& f : ok) v.push_back(f.*field);
        std::sort(v.begin(), v.end());
        return v.empty()      ? NAN
               : v.size() % 2 ? v[v.size() / 2]
                              : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    }
};

Summary Summarise(const std::vector<Run>& runs, const std::string& name) {
    Summary s;
    for (const Run& run : runs) {
        auto it =
            std::find_if(run.begin(), run.end(), [&](const auto& p) { return p.first == name; });
        // The many-client load is only in the first run.
        if (it == run.end() && name == "clients" && &run != &runs.front()) continue;
        ++s.runs;
        if (it == run.end())
            ++s.failures["not run"];
        else if (!it->second.failure.empty())
            ++s.failures[it->second.failure];
        else
            s.ok.push_back(it->second);
    }
    return s;
}

std::string FailureText(const Summary& s) {
    std::string text;
    for (const auto& [why, n] : s.failures)
        text += (text.empty() ? "" : ", ") + why + " in " + std::to_string(n) + " of " +
                std::to_string(s.runs);
    return text;
}

std::string Cell(const std::vector<Run>& runs, const std::string& name) {
    Summary s = Summarise(runs, name);
    char text[160] = "";
    if (!s.ok.empty()) {
        auto [lo, hi] = std::minmax_element(
            s.ok.begin(), s.ok.end(),
            [](const Figure& a, const Figure& b) { return a.seconds < b.seconds; });
        double seconds = s.Median(&Figure::seconds);
        int pages = s.ok.front().pages;
        const Memory& m = s.ok.front().memory;
        if (name == "idle")
            std::snprintf(text, sizeof text, "%.1f MB (PSS %.1f MB)", m.rssKb / 1024.0,
                          m.pssKb / 1024.0);
        else if (name == "clients")
            std::snprintf(text, sizeof text, "%.1f MB (PSS %.1f MB) peak; %.1f s", m.rssKb / 1024.0,
                          m.pssKb / 1024.0, seconds);
        else
            std::snprintf(text, sizeof text, "%.3f s (%.3f-%.3f), %.1f pages/s", seconds,
                          lo->seconds, hi->seconds, pages / seconds);
    }
    std::string cell = text;
    if (!s.failures.empty()) cell += (cell.empty() ? "" : "; ") + FailureText(s);
    return cell;
}

// Memory idle and under load: the largest of the runs, as a limit is about the worst.
void MaxMemory(std::vector<Run>& runs, const std::string& name) {
    Memory most;
    for (Run& run : runs)
        for (auto& [n, f] : run)
            if (n == name && f.failure.empty()) {
                most.rssKb = std::max(most.rssKb, f.memory.rssKb);
                most.pssKb = std::max(most.pssKb, f.memory.pssKb);
            }
    for (Run& run : runs)
        for (auto& [n, f] : run)
            if (n == name) f.memory = most;
}

std::string BytesCell(const std::vector<Run>& runs, const std::string& name) {
    Summary s = Summarise(runs, name);
    return s.ok.empty() ? "-" : std::to_string(s.ok.front().bytes) + " bytes";
}

// What a page costs once a job is under way: the 200-page job against the 20-page one,
// both with the same grey pages, so that the document's start is counted out. In time on
// the clock, or in processor time of all the server's processes: the work a page costs,
// however much of it ran side by side.
std::string PerPageCell(const std::vector<Run>& runs, double Figure::*field, const char* unit) {
    Summary few = Summarise(runs, "raster20"), many = Summarise(runs, "raster200");
    double a = few.Median(field), b = many.Median(field);
    if (std::isnan(a) || std::isnan(b)) return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f ms %s", (b - a) * 1000 / 180, unit);
    return text;
}

std::string RatioCell(const std::vector<Run>& runs) {
    Summary one = Summarise(runs, "one10"), four = Summarise(runs, "four10");
    double a = one.Median(&Figure::seconds), b = four.Median(&Figure::seconds);
    if (std::isnan(a) || std::isnan(b)) return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f x one printer's time", b / a);
    return text;
}

void PrintTable(const std::vector<Peer>& peers, std::vector<std::vector<Run>>& results, int runs) {
    const std::pair<const char*, const char*> rows[] = {
        {"label", "one label (PNG), submit to last byte"},
        {"raster20", "one job of 20 PWG raster pages"},
        {"raster20Text", "the same, pages of black text and bars"},
        {"raster200", "one job of 200 PWG raster pages"},
        {"perPage", "each page beyond 20 (200 against 20)"},
        {"cpuPerPage", "the same, the server's processor time"},
        {"fifty", "50 one-page PNG jobs, one printer"},
        {"fiftyPwg", "50 one-page PWG raster jobs, one printer"},
        {"one10", "1 printer, 10 PWG jobs"},
        {"four10", "4 printers, 10 PWG jobs each"},
        {"ratio", "4 printers against 1 (median times)"},
        {"bytes", "device bytes of the 20-page job"},
        {"idle", "resident memory, server idle"},
        {"clients", "10 clients x 10 PWG jobs, all processes"},
        {"note", "(RSS summed; PSS splits shared pages)"},
    };
    std::printf(
        "\nPrinter applications, %d run(s): median (fastest-slowest) from the first Print-Job to "
        "the\n"
        "last byte at the printer's sink. Memory: resident, idle the largest of the runs, under\n"
        "load the peak of the first run.\n\n",
        runs);
    std::printf("%-40s", "work");
    for (const Peer& p : peers) std::printf(" | %-48s", p.title.c_str());
    std::printf("\n");
    for (auto& r : results) {
        MaxMemory(r, "idle");
        MaxMemory(r, "clients");
    }
    for (auto [name, label] : rows) {
        std::printf("%-40s", label);
        for (size_t i = 0; i < peers.size(); ++i) {
            const std::string row = name;
            std::string cell =
                row == "note"      ? ""
                : row == "ratio"   ? RatioCell(results[i])
                : row == "perPage" ? PerPageCell(results[i], &Figure::seconds, "a page")
                : row == "cpuPerPage"
                    ? PerPageCell(results[i], &Figure::cpuSeconds, "of processor time a page")
                : row == "bytes" ? BytesCell(results[i], "raster20")
                                 : Cell(results[i], name);
            std::printf(" | %-48s", cell.c_str());
        }
        std::printf("\n");
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 2;
    bool oursOnly = false, keep = false, quick = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--runs=", 7) == 0)
            runs = std::max(1, std::atoi(argv[i] + 7));
        else if (std::strcmp(argv[i], "--ours-only") == 0)
            oursOnly = true;
        else if (std::strcmp(argv[i], "--keep") == 0)
            keep = true;
        else if (std::strcmp(argv[i], "--quick") == 0)
            quick = true;
    }
    ::signal(SIGPIPE, SIG_IGN);
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qxbench-app.XXXXXX";
    if (!::mkdtemp(pattern.data())) return 1;
    const std::string dir = pattern;

    Documents docs;
    // 80 x 50.8 mm at 203 dpi: the printed 576 dots across, 406 rows.
    docs.label = {dir + "/label.png", "image/png", 1};
    docs.raster20 = {dir + "/pages.pwg", "image/pwg-raster", 20};
    docs.raster20Text = {dir + "/text-pages.pwg", "image/pwg-raster", 20};
    docs.raster200 = {dir + "/many-pages.pwg", "image/pwg-raster", 200};
    docs.labelRaster = {dir + "/label.pwg", "image/pwg-raster", 1};
    if (!WritePng(docs.label.file, 576, 406) ||
        !qxapptest::WriteRaster(docs.raster20.file, 8000, 5080, 20) ||
        !qxapptest::WriteRaster(docs.raster20Text.file, 8000, 5080, 20, qxapptest::TextPage) ||
        !qxapptest::WriteRaster(docs.raster200.file, 8000, 5080, 200) ||
        !qxapptest::WriteRaster(docs.labelRaster.file, 8000, 5080, 1)) {
        std::fprintf(stderr, "cannot write the documents in %s\n", dir.c_str());
        return 1;
    }

    std::vector<Peer> peers = {{"qx-printer-app (qx470-cpcl-gap)", QX_PRINTER_APP_BIN,
                                "qx470-cpcl-gap", "127.0.90.", true, "om_qx-80x51_80x50.8mm"}};
    const char* lprint = std::getenv("QX_LPRINT");
    std::string lprintBin = lprint && *lprint ? lprint : "/usr/bin/lprint";
    if (!oursOnly && ::access(lprintBin.c_str(), X_OK) == 0)
        // LPrint has no 80 mm printer: its 4-inch 203 dpi ZPL printer, with its label nearest
        // ours (82.6 x 50.8 mm).
        peers.push_back({"LPrint (zpl_4inch-203dpi-dt)", lprintBin, "zpl_4inch-203dpi-dt",
                         "127.0.91.", false, "oe_3.25x2-label_3.25x2in"});
    else if (!oursOnly)
        std::fprintf(stderr, "%s is not installed: measuring ours alone\n", lprintBin.c_str());

    // Each run measures every peer in turn, so both meet the same load of the machine.
    std::vector<std::vector<Run>> results(peers.size());
    {
        std::vector<std::unique_ptr<Server>> servers;
        for (size_t p = 0; p < peers.size(); ++p)
            servers.push_back(
                std::make_unique<Server>(peers[p], dir + "/server" + std::to_string(p)));
        for (int r = 0; r < runs; ++r)
            for (size_t p = 0; p < peers.size(); ++p) {
                std::fprintf(stderr, "%s: run %d of %d\n", peers[p].title.c_str(), r + 1, runs);
                results[p].push_back(MeasureOnce(*servers[p], docs, r == 0, quick));
            }
    }
    PrintTable(peers, results, runs);
    std::error_code ignored;
    if (!keep)
        std::filesystem::remove_all(dir, ignored);
    else
        std::fprintf(stderr, "servers' folders kept in %s\n", dir.c_str());
    return 0;
}
