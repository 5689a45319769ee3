// The logos an ESC/POS printer keeps in its image memory, from the browser: bitmap files
// (PNG and JPEG too, made one-bit first) uploaded to the printer's page of logos, shown
// as the printer will store them, stored in the printer over its port with the image
// manager's commands, printed out or erased. The application keeps the list it last
// stored, in the state folder, so the page shows what the printer holds.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <vector>

namespace qxapp {

// The server's side: the page of logos of an ESC/POS printer, made when the printer is.
void AddLogoPage(pappl_printer_t* printer);

// The worker's side (the engine's loader and the printer's port live there).
// Makes `to` a one-bit bitmap of `from` (BMP, PNG or JPEG), as the image manager converts
// a bitmap; false with the image manager's reason when it refuses the file.
bool MakeLogo(const std::string& from, const std::string& to, std::string* reason);
// The image manager's upload, print-out ('O') or erase ('X') over the printer's port
// (a COMn: at 115200 bit/s, else TCP port 9100 of the address).
bool SendLogos(const std::string& port, const std::string& device,
               const std::vector<std::string>& files, std::string* reason);
bool LogoCommand(char what, const std::string& port, const std::string& device,
                 std::string* reason);

}  // namespace qxapp
