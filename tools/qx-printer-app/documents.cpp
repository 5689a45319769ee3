#include "documents.h"

namespace qxapp {

const std::vector<const char*>& DocumentFormats() {
    static const std::vector<const char*> formats;
    return formats;
}

bool PrintDocument(EngineJob&, const std::string&, const std::string& format, std::string* reason) {
    *reason = "documents of type " + format + " are not printed here";
    return false;
}

}  // namespace qxapp
