# Writes OUTPUT, a C++ file holding ICON (a PNG file) as bytes and RegisterPrintDemoIcons,
# which registers it as the icon resource NUMBER.
file(READ ${ICON} hex HEX)
string(LENGTH "${hex}" length)
math(EXPR size "${length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT}.tmp "// Made by embed_icon.cmake from sample/res/icons; do not edit.
#include \"print_demo.h\"

namespace {
const unsigned char kIcon[${size}] = {
${bytes}};
}  // namespace

bool printdemo::RegisterPrintDemoIcons(wce::HINSTANCE module) {
    return wce::RegisterIconResource(module, ${NUMBER}, kIcon, sizeof kIcon);
}
")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
