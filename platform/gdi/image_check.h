// Whether a BMP, GIF or JPEG file holds all the data its headers promise. The image
// reader fills in whatever a cut file lacks (black rows, grey blocks), so the loader
// asks here first and refuses the file rather than print a part of it.
#pragma once

#include <string>
#include <string_view>

namespace wce::gdi {

struct ImageFileCheck {
    bool damaged = false;
    std::string why;  // what is wrong, for the debug output
    // The picture a reader allocates for the file (a GIF's whole screen, not its
    // first frame); 0 when the format is not one checked here.
    long long width = 0, height = 0;
};

// Other formats (PNG among them, whose reader refuses cut files itself) pass as whole.
ImageFileCheck CheckImageFile(std::string_view bytes);

}  // namespace wce::gdi
