#include "printer_job.h"

namespace qx470 {

PrinterJob& TheJob() {
    static PrinterJob job;
    return job;
}

}  // namespace qx470
