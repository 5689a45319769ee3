#include "pappl_driver.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "documents.h"
#include "ipp_attributes.h"
#include "local_devices.h"
#include "logos.h"
#include "qx_models.h"
#include "test_page_job.h"
#include "worker.h"

namespace qxapp {

namespace {

std::string workDir = "/tmp";

// What a job carries between PAPPL's callbacks.
struct RasterJob {
    const DriverInfo* driver = nullptr;
    int copies = 1;
    std::string rotation, port, name;
    JobSettings commands;  // the texts, logos and back-feed around the document
    std::unique_ptr<Worker> worker;
    int printerId = 0;
    bool started = false;  // the document (with the first page)
    Worker::StopCheck stop;
    std::uint8_t* page = nullptr;  // 8-bit grey, 0 black, in the worker's page room
    int width = 0, height = 0;
    unsigned bitsPerPixel = 8;
    bool inverted = false;  // device black: 0 is white
    unsigned lastPage = 0;
    int rows = 0;  // of the page so far: a page cut short lacks its last
    bool replica = false;
};

RasterJob* Data(pappl_job_t* job) {
    return static_cast<RasterJob*>(papplJobGetData(job));
}

std::string ReadCommands(pappl_pr_options_t* options, JobSettings* to);
void TakeCommands(JobSettings& to, const JobSettings& from);

// The job's data, with its worker started; made by the image filter or the first
// raster callback, whichever comes first.
RasterJob* Prepare(pappl_job_t* job, std::string* reason) {
    if (RasterJob* data = Data(job)) return data;
    auto data = std::make_unique<RasterJob>();
    pappl_system_t* system = papplPrinterGetSystem(papplJobGetPrinter(job));
    data->stop = [job, system] { return papplJobIsCanceled(job) || !papplSystemIsRunning(system); };
    data->printerId = papplPrinterGetID(papplJobGetPrinter(job));
    std::string own = workDir + "/printer-" + std::to_string(data->printerId) + ".reg";
    data->worker = TakeWorker(data->printerId, SharedRegistry(), own, reason);
    if (!data->worker) return nullptr;
    papplJobSetData(job, data.get());
    return data.release();
}

// Ends a job that cannot go on: its reason for the client, the worker and its device
// context gone (the next job must not wait for it), the printer marked offline when its
// port failed.
// Whether a job's failure is the printer's: all but the driver's settings that could not
// be written (the document's start is answered with the pages after it).
bool PortTrouble(const std::string& reason) {
    return reason.find("registry") == std::string::npos;
}

bool Fail(pappl_job_t* job, std::string reason, bool portTrouble) {
    if (reason == "stopped") {
        portTrouble = false;
        reason = papplJobIsCanceled(job)
                     ? "canceled while printing"
                     : "the server stopped while the job was printing; it was not finished";
    }
    if (!reason.empty()) reason[0] = char(std::toupper(static_cast<unsigned char>(reason[0])));
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", reason.c_str());
    papplJobSetMessage(job, "%s", reason.c_str());
    if (portTrouble)
        papplPrinterSetReasons(papplJobGetPrinter(job), PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
    delete Data(job);
    papplJobSetData(job, nullptr);
    return false;
}

PortName PortOf(pappl_job_t* job, pappl_device_t* device) {
    if (device)
        if (auto* port = static_cast<PortName*>(papplDeviceGetData(device))) return *port;
    return PortFromDeviceUri(papplPrinterGetDeviceURI(papplJobGetPrinter(job)));
}

bool StartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
    pappl_printer_t* printer = papplJobGetPrinter(job);
    std::string reason;
    RasterJob* data = Prepare(job, &reason);
    if (!data) return Fail(job, reason, false);
    data->driver = FindDriver(papplPrinterGetDriverName(printer));
    if (!data->driver)
        return Fail(job, "the printer's driver is not one of this application's", false);
    const char* rotation = cupsGetOption("qx-rotation", options->num_vendor, options->vendor);
    data->rotation = rotation ? rotation : "";
    data->copies = options->copies;
    SettingsResult s =
        SettingsFor(*data->driver, options->media.size_length, data->copies, data->rotation);
    if (!s.error.empty()) return Fail(job, s.error, false);
    if (std::string bad = ReadCommands(options, &data->commands); !bad.empty())
        return Fail(job, bad, false);
    PortName port = PortOf(job, device);
    data->port = port.name;
    data->commands.portDevice = port.device;
    data->name = papplJobGetName(job) ? papplJobGetName(job) : "";
    return true;
}

// The driver's page length comes from the first page itself: a PWG raster document
// carries its own page size, whatever media the job named.
bool StartEngine(pappl_job_t* job, RasterJob& data, const cups_page_header2_t& h) {
    int length = int(std::lround(h.cupsHeight * 2540.0 / kDpi));
    SettingsResult s = SettingsFor(*data.driver, length, data.copies, data.rotation);
    if (!s.error.empty()) return Fail(job, s.error, false);
    TakeCommands(s.settings, data.commands);
    std::string reason;
    if (!data.worker->StartDocument(data.port, s.settings, data.name, data.stop, &reason)) {
        return Fail(job, reason, PortTrouble(reason));
    }
    data.started = true;
    return true;
}

// The page's raster as PAPPL delivers it; anything but 8-bit or 1-bit grey at 203 dpi,
// or longer than the model's longest paper, is refused rather than printed wrongly.
std::string CheckHeader(const cups_page_header2_t& h, const PrinterModel& model) {
    if (h.HWResolution[0] != kDpi || h.HWResolution[1] != kDpi)
        return "the page is at " + std::to_string(h.HWResolution[0]) + "x" +
               std::to_string(h.HWResolution[1]) + " dpi; this printer prints at 203 dpi";
    bool grey = h.cupsColorSpace == CUPS_CSPACE_SW || h.cupsColorSpace == CUPS_CSPACE_W ||
                h.cupsColorSpace == CUPS_CSPACE_K;
    if (!grey || (h.cupsBitsPerPixel != 8 && h.cupsBitsPerPixel != 1))
        return "the page is in colour space " + std::to_string(int(h.cupsColorSpace)) + " at " +
               std::to_string(h.cupsBitsPerPixel) + " bits a dot; this printer takes grey pages";
    if (h.cupsWidth == 0 || h.cupsHeight == 0 || h.cupsWidth > 4096 ||
        h.cupsHeight > unsigned(model.maxLengthMm * kDpi / 25.4) + 1)
        return "the page of " + std::to_string(h.cupsWidth) + "x" + std::to_string(h.cupsHeight) +
               " dots is not one this printer's media holds";
    return {};
}

bool StartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned page) {
    RasterJob* data = Data(job);
    if (!data) return false;
    if (data->stop()) {
        std::string ignored;
        if (data->started) data->worker->Finish(true, data->stop, &ignored);
        return Fail(job, "stopped", false);
    }
    // PAPPL hands an image over once per copy, under the same page number; the driver
    // makes the copies itself, so a page seen before is not drawn again.
    data->replica = page <= data->lastPage;
    if (data->replica) return true;
    data->lastPage = page;
    const cups_page_header2_t& h = options->header;
    if (std::string bad = CheckHeader(h, *data->driver->model); !bad.empty())
        return Fail(job, bad, false);
    if (!data->started && !StartEngine(job, *data, h)) return false;
    data->width = int(h.cupsWidth);
    data->height = int(h.cupsHeight);
    data->bitsPerPixel = h.cupsBitsPerPixel;
    data->inverted = h.cupsColorSpace == CUPS_CSPACE_K;
    data->rows = 0;
    std::string reason;
    if (!data->worker->StartPage(data->stop, &reason))
        return Fail(job, reason, PortTrouble(reason));
    const size_t size = size_t(data->width) * size_t(data->height);
    data->page = data->worker->PageRoom(size, &reason);
    if (!data->page) return Fail(job, reason, false);
    return true;
}

bool WriteLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned y,
               const unsigned char* line) {
    RasterJob* data = Data(job);
    if (!data) return false;
    if (data->replica || y >= unsigned(data->height)) return true;
    if (!data->page) return false;  // the page never started
    // Rows come in order; any passed over would be white, and a row again is drawn over.
    if (y > unsigned(data->rows))
        std::memset(data->page + size_t(data->rows) * size_t(data->width), 255,
                    size_t(y - unsigned(data->rows)) * size_t(data->width));
    data->rows = std::max(data->rows, int(y) + 1);
    std::uint8_t* row = data->page + size_t(y) * size_t(data->width);
    if (data->bitsPerPixel == 8) {
        if (data->inverted)
            for (int x = 0; x < data->width; ++x) row[x] = std::uint8_t(255 - line[x]);
        else
            std::memcpy(row, line, size_t(data->width));
        return true;
    }
    for (int x = 0; x < data->width; ++x) {
        bool set = line[x / 8] & (0x80 >> (x % 8));
        row[x] = (set == data->inverted) ? 0 : 255;
    }
    return true;
}

bool EndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
    RasterJob* data = Data(job);
    if (!data) return false;
    if (data->replica) return true;
    if (data->rows < data->height)
        return Fail(job,
                    "page " + std::to_string(data->lastPage) +
                        " was cut short: " + std::to_string(data->rows) + " of its " +
                        std::to_string(data->height) + " rows arrived",
                    false);
    // The paper's margins are outside the dots the printer prints (576 or 384).
    int left = std::max(0, (data->width - data->driver->model->printedDots) / 2);
    std::string reason;
    if (!data->worker->EndPage(data->width, data->height, left, data->stop, &reason))
        return Fail(job, reason, PortTrouble(reason));
    return true;
}

bool EndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
    RasterJob* data = Data(job);
    if (!data) return false;
    std::string reason;
    bool cancelled = papplJobIsCanceled(job);
    if (!cancelled && data->stop()) return Fail(job, "stopped", false);
    if (data->started && !data->worker->Finish(cancelled, data->stop, &reason))
        return Fail(job, reason, true);
    if (!cancelled) KeepWorker(data->printerId, std::move(data->worker));
    delete data;
    papplJobSetData(job, nullptr);
    if (!cancelled)
        papplPrinterSetReasons(papplJobGetPrinter(job), PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
    return true;
}

// ---- the "qx:" devices: the driver opens the port itself when the job's device
// context is made, so the device only carries the port's name ----

bool DeviceOpen(pappl_device_t* device, const char* uri, const char*) {
    PortName port = PortFromDeviceUri(uri);
    if (!port.error.empty()) {
        papplDeviceError(device, "%s", port.error.c_str());
        return false;
    }
    papplDeviceSetData(device, new PortName(port));
    return true;
}

void DeviceClose(pappl_device_t* device) {
    delete static_cast<PortName*>(papplDeviceGetData(device));
}

bool ListDevices(pappl_device_cb_t found, void* data, pappl_deverror_cb_t, void*) {
    for (const LocalDevice& d : ListLocalDevices())
        if (found(d.info.c_str(), d.uri.c_str(), "", data)) return true;
    return false;
}

ssize_t DeviceRead(pappl_device_t*, void*, size_t) {
    return 0;
}
ssize_t DeviceWrite(pappl_device_t*, const void*, size_t bytes) {
    return ssize_t(bytes);
}
pappl_preason_t DeviceStatus(pappl_device_t*) {
    return PAPPL_PREASON_NONE;
}

// The media size names of a range: custom_min_80x10mm and custom_max_80x1000mm for
// labels, roll_... for a roll. PAPPL keeps the pointers, so the texts live on.
const char* RangeName(const PrinterModel& model, bool label, bool max) {
    static std::mutex lock;
    static std::set<std::string> names;
    char name[64];
    std::snprintf(name, sizeof name, "%s_%s_%dx%dmm", label ? "custom" : "roll",
                  max ? "max" : "min", model.paperWidthMm,
                  max ? model.maxLengthMm : model.minLengthMm);
    std::lock_guard g(lock);
    return names.insert(name).first->c_str();
}

void FillMedia(const DriverInfo& driver, pappl_pr_driver_data_t* d) {
    const PrinterModel& model = *driver.model;
    for (const PaperPreset& p : model.presets) d->media[d->num_media++] = p.media;
    d->media[d->num_media++] = RangeName(model, driver.label, false);
    d->media[d->num_media++] = RangeName(model, driver.label, true);

    const PaperPreset& preset = model.presets[size_t(model.defaultPreset)];
    pappl_media_col_t& m = d->media_default;
    std::snprintf(m.size_name, sizeof m.size_name, "%s", preset.media);
    m.size_width = model.paperWidthMm * 100;
    m.size_length = preset.height * 100 / model.heightUnitsPerMm;
    m.left_margin = m.right_margin = model.marginHundredthsMm;
    m.top_margin = m.bottom_margin = 0;
    std::snprintf(m.source, sizeof m.source, "main-roll");
    std::snprintf(m.type, sizeof m.type, driver.label ? "labels" : "continuous");
    m.tracking = driver.emulation == 1   ? PAPPL_MEDIA_TRACKING_GAP
                 : driver.emulation == 2 ? PAPPL_MEDIA_TRACKING_MARK
                                         : PAPPL_MEDIA_TRACKING_CONTINUOUS;
    d->media_ready[0] = m;
    d->num_source = 1;
    d->source[0] = "main-roll";
    d->num_type = 1;
    d->type[0] = driver.label ? "labels" : "continuous";
    d->tracking_supported = m.tracking;
}

// PAPPL's own readers of PNG and JPEG files, which draw the picture on the media once
// our loader has taken the file.
extern "C" bool _papplJobFilterPNG(pappl_job_t* job, pappl_device_t* device, void* data);
extern "C" bool _papplJobFilterJPEG(pappl_job_t* job, pappl_device_t* device, void* data);

struct ImageFilter {
    pappl_mime_filter_cb_t draw;
};
const ImageFilter kPng{_papplJobFilterPNG};
const ImageFilter kJpeg{_papplJobFilterJPEG};

// A PNG or JPEG file is first loaded in the job's worker with the engine's loader, which
// refuses damaged files, pictures larger than it may allocate and decompression bombs
// at once, so that no such file reaches a reader that might spin on it.
bool CheckedImage(pappl_job_t* job, pappl_device_t* device, void* filter) {
    std::string reason;
    RasterJob* data = Prepare(job, &reason);
    if (!data) return Fail(job, reason, false);
    const char* file = papplJobGetFilename(job);
    if (!file) return Fail(job, "the job's document is gone", false);
    if (!data->worker->CheckImage(file, data->stop, &reason)) return Fail(job, reason, false);
    bool ok = static_cast<const ImageFilter*>(filter)->draw(job, device, nullptr);
    // A reader that gave up before the job started leaves the worker behind.
    if (RasterJob* left = Data(job)) {
        delete left;
        papplJobSetData(job, nullptr);
    }
    return ok;
}

// A document the worker lays out itself (PDF, text): the job's settings from its
// options and media, the document started, every page drawn by the worker, ended.
bool WorkerDocument(pappl_job_t* job, pappl_device_t* device, void* format) {
    std::string reason;
    RasterJob* data = Prepare(job, &reason);
    if (!data) return Fail(job, reason, false);
    const char* file = papplJobGetFilename(job);
    if (!file) return Fail(job, "the job's document is gone", false);
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 0, false);
    bool ok = options && StartJob(job, options, device);
    data = Data(job);
    if (ok && data) {
        SettingsResult s =
            SettingsFor(*data->driver, options->media.size_length, data->copies, data->rotation);
        TakeCommands(s.settings, data->commands);
        if (!s.error.empty()) {
            ok = Fail(job, s.error, false);
        } else if (!data->worker->StartDocument(data->port, s.settings, data->name, data->stop,
                                                &reason)) {
            ok = Fail(job, reason, PortTrouble(reason));
        } else {
            data->started = true;
            int pages = 0;
            if (!data->worker->PrintDocument(file, static_cast<const char*>(format), data->stop,
                                             &reason, &pages)) {
                ok = Fail(job, reason, reason.find("printer") != std::string::npos);
            } else {
                papplJobSetImpressions(job, pages);
                papplJobSetImpressionsCompleted(job, pages);
                ok = EndJob(job, options, device);
            }
        }
    }
    papplJobDeletePrintOptions(options);
    if (RasterJob* left = Data(job)) {
        delete left;
        papplJobSetData(job, nullptr);
    }
    return ok;
}

// The printer's commands around each document, which its settings utility keeps, as
// options of the printer's (xxx-default, xxx-supported, set with Set-Printer-Attributes
// or on the printer's web page) and of a job: texts and stored logos for every
// model; back-feed and rotation for CPCL labels, which the driver turns half a turn itself.
void AddCommandOptions(const DriverInfo& driver, pappl_pr_driver_data_t* d, ipp_t** attrs) {
    if (!*attrs) *attrs = ippNew();
    for (const char* text : {"qx-start-text", "qx-end-text"}) {
        d->vendor[d->num_vendor++] = text;
        ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_TEXT,
                     (std::string(text) + "-default").c_str(), nullptr, "");
    }
    for (const char* logo : {"qx-start-logo", "qx-end-logo"}) {
        d->vendor[d->num_vendor++] = logo;
        ippAddRange(*attrs, IPP_TAG_PRINTER, (std::string(logo) + "-supported").c_str(), 0, 255);
        ippAddInteger(*attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER,
                      (std::string(logo) + "-default").c_str(), 0);
    }
    if (driver.model->cpcl && driver.emulation != 0) {
        d->vendor[d->num_vendor++] = "qx-back-feed";
        ippAddBoolean(*attrs, IPP_TAG_PRINTER, "qx-back-feed-supported", 1);
        ippAddBoolean(*attrs, IPP_TAG_PRINTER, "qx-back-feed-default", 0);
        d->vendor[d->num_vendor++] = "qx-rotation";
        static const char* const kRotations[] = {"none", "half-turn"};
        ippAddStrings(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "qx-rotation-supported", 2, nullptr,
                      kRotations);
        ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "qx-rotation-default", nullptr,
                     "none");
    }
}

size_t Utf8Characters(const std::string& text) {
    size_t n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
}

// The job's commands, its own or its printer's: an error text when one is out of the
// utility's limits (a job may name its own).
std::string ReadCommands(pappl_pr_options_t* options, JobSettings* to) {
    auto value = [&](const char* name) {
        const char* v = cupsGetOption(name, options->num_vendor, options->vendor);
        return std::string(v ? v : "");
    };
    to->startText = value("qx-start-text");
    to->endText = value("qx-end-text");
    for (const std::string* text : {&to->startText, &to->endText})
        if (Utf8Characters(*text) > size_t(kMaxCommandText))
            return "a start or end text has more than " + std::to_string(kMaxCommandText) +
                   " characters";
    for (auto [name, logo] :
         {std::pair{"qx-start-logo", &to->startLogo}, {"qx-end-logo", &to->endLogo}}) {
        std::string v = value(name);
        char* end = nullptr;
        long n = v.empty() ? 0 : std::strtol(v.c_str(), &end, 10);
        if ((end && *end) || n < 0 || n > 255)
            return std::string(name) + " is a stored image from 1 to 255, or 0";
        *logo = int(n);
    }
    std::string feed = value("qx-back-feed");
    to->backFeed = feed == "true" || feed == "on" ? 1 : 0;
    return {};
}

void TakeCommands(JobSettings& to, const JobSettings& from) {
    to.portDevice = from.portDevice;
    to.startText = from.startText;
    to.endText = from.endText;
    to.startLogo = from.startLogo;
    to.endLogo = from.endLogo;
    to.backFeed = from.backFeed;
}

}  // namespace

void SetWorkDir(const std::string& dir) {
    workDir = dir;
}

void UseRegistryIn(const std::string& stateDir) {
    ::setenv("QX_REGISTRY", (stateDir + "/registry.reg").c_str(), 1);
}

std::string SharedRegistry() {
    const char* path = std::getenv("QX_REGISTRY");
    return path && *path ? path : workDir + "/registry.reg";
}

void PrinterCreated(pappl_printer_t* printer, void*) {
    AddLogoPage(printer);
}
const std::string& WorkDir() {
    return workDir;
}

void AddDocumentFilters(pappl_system_t* system) {
    for (const char* format : DocumentFormats())
        papplSystemAddMIMEFilter(system, format, "image/pwg-raster", WorkerDocument,
                                 const_cast<char*>(format));
    papplSystemAddMIMEFilter(system, kTestPageFormat, "image/pwg-raster", WorkerDocument,
                             const_cast<char*>(kTestPageFormat));
    papplSystemSetMIMECallback(system, TestPageType, nullptr);
}

void AddImageFilters(pappl_system_t* system) {
    papplSystemAddMIMEFilter(system, "image/png", "image/pwg-raster", CheckedImage,
                             const_cast<ImageFilter*>(&kPng));
    papplSystemAddMIMEFilter(system, "image/jpeg", "image/pwg-raster", CheckedImage,
                             const_cast<ImageFilter*>(&kJpeg));
}

void AddDeviceScheme() {
    papplDeviceAddScheme("qx", PAPPL_DEVTYPE_CUSTOM_LOCAL, ListDevices, DeviceOpen, DeviceClose,
                         DeviceRead, DeviceWrite, DeviceStatus, nullptr);
}

bool DriverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri,
                    const char*, pappl_pr_driver_data_t* d, ipp_t** attrs, void*) {
    const DriverInfo* driver = FindDriver(driverName ? driverName : "");
    if (!driver) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "No driver \"%s\" in this application.", driverName);
        return false;
    }
    if (deviceUri) {
        PortName port = PortFromDeviceUri(deviceUri);
        if (!port.error.empty()) {
            papplLog(system, PAPPL_LOGLEVEL_ERROR, "Device \"%s\": %s.", deviceUri,
                     port.error.c_str());
            return false;
        }
    }
    d->rstartjob_cb = StartJob;
    d->rstartpage_cb = StartPage;
    d->rwriteline_cb = WriteLine;
    d->rendpage_cb = EndPage;
    d->rendjob_cb = EndJob;
    d->testpage_cb = TestPageFile;
    std::snprintf(d->make_and_model, sizeof d->make_and_model, "%s", driver->description);
    d->ppm = 10;
    d->kind = driver->label ? PAPPL_KIND_LABEL : PAPPL_KIND_RECEIPT | PAPPL_KIND_ROLL;
    // Grey lines, so that the driver's own tone conversion makes the dots.
    d->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME;
    d->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    d->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    d->force_raster_type = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    d->num_resolution = 1;
    d->x_resolution[0] = d->y_resolution[0] = kDpi;
    d->x_default = d->y_default = kDpi;
    d->left_right = driver->model->marginHundredthsMm;
    d->bottom_top = 0;
    d->sides_supported = PAPPL_SIDES_ONE_SIDED;
    d->sides_default = PAPPL_SIDES_ONE_SIDED;
    d->orient_default = driver->model->portraitByDefault ? IPP_ORIENT_PORTRAIT : IPP_ORIENT_NONE;
    d->quality_default = IPP_QUALITY_NORMAL;
    d->scaling_default = PAPPL_SCALING_AUTO;
    FillMedia(*driver, d);
    AddCommandOptions(*driver, d, attrs);
    AddIppAttributes(*driver, d, attrs);
    return true;
}

}  // namespace qxapp
