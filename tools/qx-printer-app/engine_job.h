// One job printed as any application prints: the driver's settings written to its
// registry key, a printer device context, each page drawn into it as a bitmap, and the
// engine's result of every call turned into a reason a client can show.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "qx_models.h"

namespace qxapp {

class EngineJob {
  public:
    // Writes the settings, makes the device context and starts the document. The driver
    // serves one device context at a time, so this waits for any other job to finish.
    // Null with a reason when the port does not open or the document does not start.
    static std::unique_ptr<EngineJob> Start(const std::string& port, const JobSettings& settings,
                                            const std::string& documentName, std::string* reason);
    ~EngineJob();
    EngineJob(const EngineJob&) = delete;
    EngineJob& operator=(const EngineJob&) = delete;

    // The page the engine draws on, in dots.
    int width() const { return width_; }
    int pages() const { return pages_; }  // started so far
    int height() const { return height_; }

    bool StartPage(std::string* reason);
    // The printer device context (an HDC) of the page started, for drawing on it directly;
    // EndDrawnPage ends such a page.
    void* dc() const { return dc_; }
    bool EndDrawnPage(std::string* reason);
    // Draws an 8-bit grey page (0 black, 255 white; width bytes a row), its columns from
    // left on, at the top left of the printer's page, and ends the page.
    bool EndPage(const std::uint8_t* grey, size_t size, int width, int height, int left,
                 std::string* reason);
    bool EndPage(const std::vector<std::uint8_t>& grey, int width, int height, int left,
                 std::string* reason) {
        return EndPage(grey.data(), grey.size(), width, height, left, reason);
    }
    // Ends the document; a cancelled job is aborted instead, so a page not yet sent is
    // dropped.
    bool Finish(bool cancelled, std::string* reason);

  private:
    EngineJob() = default;
    std::string Failure(const std::string& what);

    std::unique_lock<std::mutex> hold_;
    void* dc_ = nullptr;
    // A page whose rows are not whole DWORDs, copied into rows that are.
    std::vector<std::uint8_t> aligned_;
    std::string port_;
    int width_ = 0, height_ = 0, pages_ = 0;
    bool inDoc_ = false;
};

// Message boxes raised by the driver or the image manager, which nobody answers here:
// the cautious answer is given and the texts are kept for the job's reason.
void CatchMessageBoxes();
std::string TakeMessageBox();

// Maps the port's COMn: or LPTn: to a Linux device under Platform\Devices.
bool MapPort(const std::string& port, const std::string& device);

}  // namespace qxapp
