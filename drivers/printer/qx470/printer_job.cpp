#include "printer_job.h"

#include <new>

namespace qx470 {

PrinterJob& TheJob() {
    // Built in static storage and never destroyed, as the record was when it held raw
    // pointers: the engine may still close a device context while the program exits,
    // and the driver frees the buffers itself (DriverUnload).
    alignas(PrinterJob) static unsigned char storage[sizeof(PrinterJob)];
    static PrinterJob* const job = new (storage) PrinterJob;
    return *job;
}

}  // namespace qx470
