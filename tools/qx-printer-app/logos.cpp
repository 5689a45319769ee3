#include "logos.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>

#include "pappl_driver.h"
#include "qx_models.h"
#include "worker.h"

namespace qxapp {

namespace {

// ---- the server's side ----

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

std::string LogoFolder(pappl_printer_t* printer) {
    return WorkDir() + "/logos-" + std::to_string(papplPrinterGetID(printer));
}

// The logos to store, in the order they become images 1, 2, 3 ...
std::vector<std::string> StagedLogos(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(dir)) {
            std::string name = e->d_name;
            if (name.size() == 7 && name.compare(3, 4, ".bmp") == 0) names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Base64(const std::string& bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t v = std::uint32_t(std::uint8_t(bytes[i])) << 16;
        if (i + 1 < bytes.size()) v |= std::uint32_t(std::uint8_t(bytes[i + 1])) << 8;
        if (i + 2 < bytes.size()) v |= std::uint8_t(bytes[i + 2]);
        for (int k = 0; k < 4; ++k)
            out +=
                i * 8 + size_t(k) * 6 < bytes.size() * 8 ? kDigits[(v >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

struct LogoPrinter {
    pappl_printer_t* printer;
    std::string port, device;
};

// Each action in a worker of its own, as a job's: the image manager's link and the
// engine's loader never run in the server.
std::string Act(const LogoPrinter& p, const std::string& action, int count, cups_option_t* form) {
    std::string folder = LogoFolder(p.printer);
    ::mkdir(folder.c_str(), 0700);
    Worker worker;
    std::string reason;
    std::string own =
        WorkDir() + "/printer-" + std::to_string(papplPrinterGetID(p.printer)) + ".reg";
    if (!worker.Spawn(SharedRegistry(), own, &reason)) return "No worker: " + reason;
    std::vector<std::string> staged = StagedLogos(folder);
    if (action == "upload") {
        std::string said;
        int next = staged.empty() ? 1 : std::atoi(staged.back().c_str()) + 1;
        for (int i = 1; i <= 4; ++i) {
            const char* file = cupsGetOption(("logo" + std::to_string(i)).c_str(), count, form);
            if (!file || !*file) continue;
            char name[24];
            std::snprintf(name, sizeof name, "/%03d.bmp", next);
            if (next > 255) {
                said += "File " + std::to_string(i) + ": the printer keeps at most 255 logos. ";
            } else if (worker.MakeLogo(file, folder + name, &reason)) {
                ++next;
            } else {
                said += "File " + std::to_string(i) + " is not taken: " + reason + ". ";
            }
        }
        return said.empty() ? "Uploaded." : said;
    }
    if (action.rfind("remove-", 0) == 0) {
        std::string name = action.substr(7);
        if (std::find(staged.begin(), staged.end(), name) == staged.end()) return "No such logo.";
        ::unlink((folder + "/" + name).c_str());
        return "Removed.";
    }
    pappl_device_t* device = papplPrinterOpenDevice(p.printer);
    if (!device) return "The printer is busy; try again when it has printed its jobs.";
    bool ok = false;
    std::string done;
    if (action == "store") {
        std::vector<std::string> files;
        for (const std::string& name : staged) files.push_back(folder + "/" + name);
        ok = !files.empty() && worker.SendLogos(p.port, p.device, files, &reason);
        if (files.empty()) reason = "there is no logo to store";
        if (ok) {
            std::ofstream(folder + "/stored") << staged.size() << "\n";
            done = "Stored " + std::to_string(staged.size()) +
                   " logos in the printer as images 1 to " + std::to_string(staged.size()) + ".";
        }
    } else if (action == "print" || action == "erase") {
        ok = worker.LogoCommand(action == "print" ? 'O' : 'X', p.port, p.device, &reason);
        if (ok && action == "erase") ::unlink((folder + "/stored").c_str());
        done = action == "print" ? "The printer prints every logo it holds."
                                 : "The printer's logos are erased.";
    } else {
        reason = "no such action";
    }
    papplPrinterCloseDevice(p.printer);
    if (!ok && !reason.empty())
        reason[0] = char(std::toupper(static_cast<unsigned char>(reason[0])));
    return ok ? done : reason + ".";
}

void ShowPage(pappl_client_t* client, pappl_printer_t* printer, const std::string& status) {
    std::string folder = LogoFolder(printer);
    std::vector<std::string> staged = StagedLogos(folder);
    std::string stored = ReadAll(folder + "/stored");
    papplClientHTMLPrinterHeader(client, printer, "Logos", 0, nullptr, nullptr);
    if (!status.empty()) {
        papplClientHTMLPuts(client, "<div class=\"banner\">");
        papplClientHTMLEscape(client, status.c_str(), 0);
        papplClientHTMLPuts(client, "</div>\n");
    }
    papplClientHTMLPrintf(
        client, "<p>%s</p>\n",
        stored.empty() ? "The printer holds no logo stored from here."
                       : ("The printer holds the " + std::to_string(std::atoi(stored.c_str())) +
                          " logos stored from here last.")
                             .c_str());
    papplClientHTMLPuts(client, "<table class=\"list\"><tbody>\n");
    int number = 0;
    for (const std::string& name : staged) {
        std::string bytes = ReadAll(folder + "/" + name);
        int width =
            bytes.size() > 26 ? int(std::uint8_t(bytes[18]) | std::uint8_t(bytes[19]) << 8) : 0;
        int height =
            bytes.size() > 26 ? int(std::uint8_t(bytes[22]) | std::uint8_t(bytes[23]) << 8) : 0;
        ++number;
        papplClientHTMLPrintf(
            client,
            "<tr><td>Image %d</td><td><img alt=\"Image %d\" style=\"border:1px solid #ccc\" "
            "src=\"data:image/bmp;base64,",
            number, number);
        papplClientHTMLPuts(client, Base64(bytes).c_str());
        papplClientHTMLPrintf(client, "\"></td><td>%d x %d dots</td><td>", width, height);
        papplClientHTMLStartForm(client, papplClientGetURI(client), false);
        papplClientHTMLPrintf(client,
                              "<input type=\"hidden\" name=\"action\" value=\"remove-%s\">"
                              "<input type=\"submit\" value=\"Remove\"></form></td></tr>\n",
                              name.c_str());
    }
    papplClientHTMLPuts(client, "</tbody></table>\n<h2 class=\"title\">Add logos</h2>\n");
    papplClientHTMLStartForm(client, papplClientGetURI(client), true);
    papplClientHTMLPuts(client, "<input type=\"hidden\" name=\"action\" value=\"upload\">\n");
    for (int i = 1; i <= 4; ++i)
        papplClientHTMLPrintf(
            client,
            "<p><input type=\"file\" name=\"logo%d\" accept=\".bmp,.png,.jpg,.jpeg\"></p>\n", i);
    papplClientHTMLPuts(
        client,
        "<p><input type=\"submit\" value=\"Upload\"> BMP (1, 4, 8, 16 or 24 bits a dot), "
        "PNG or JPEG; each becomes a one-bit picture, black where it is dark.</p></form>\n"
        "<h2 class=\"title\">The printer's memory</h2>\n");
    for (auto [action, label] :
         {std::pair{"store", "Store in the printer"}, {"print", "Print Out"}, {"erase", "Erase"}}) {
        papplClientHTMLStartForm(client, papplClientGetURI(client), false);
        papplClientHTMLPrintf(client,
                              "<input type=\"hidden\" name=\"action\" value=\"%s\">"
                              "<input type=\"submit\" value=\"%s\"></form> ",
                              action, label);
    }
    papplClientHTMLPrinterFooter(client);
}

bool LogoPage(pappl_client_t* client, void*) {
    // "/NAME/logos": the printer of that name, if it is still there.
    std::string uri = papplClientGetURI(client);
    std::string name = uri.substr(1, uri.rfind('/') - 1);
    pappl_printer_t* printer = papplSystemFindPrinter(papplClientGetSystem(client),
                                                      ("/ipp/print/" + name).c_str(), 0, nullptr);
    if (!printer) {
        papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
        return true;
    }
    if (!papplClientHTMLAuthorize(client)) return true;
    std::string status;
    if (papplClientGetMethod(client) == HTTP_STATE_POST) {
        cups_option_t* form = nullptr;
        int count = papplClientGetForm(client, &form);
        const char* action = cupsGetOption("action", count, form);
        if (count <= 0 || !action) {
            status = "Invalid form data.";
        } else if (!papplClientIsValidForm(client, count, form)) {
            status = "Invalid form submission.";
        } else {
            PortName port = PortFromDeviceUri(papplPrinterGetDeviceURI(printer));
            status = Act({printer, port.name, port.device}, action, count, form);
        }
        cupsFreeOptions(count, form);
    }
    ShowPage(client, printer, status);  // its header answers the request
    return true;
}

}  // namespace

void AddLogoPage(pappl_printer_t* printer) {
    const DriverInfo* driver = FindDriver(papplPrinterGetDriverName(printer));
    if (!driver || driver->emulation != 0) return;  // stored logos are ESC/POS's
    char path[256];
    papplPrinterGetPath(printer, "logos", path, sizeof path);
    papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", LogoPage,
                                   nullptr);
    papplPrinterAddLink(printer, "Logos", path,
                        pappl_loptions_t(PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS));
}

}  // namespace qxapp
