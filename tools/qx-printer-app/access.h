// Who may change the printer application. Printing and looking are open to everyone
// who reaches the server; adding, deleting or changing printers, pausing them and
// shutting the server down need an administrator:
//   - the user who runs the server (root for the system service) or root,
//   - a member of the admin group (-o admin-group=NAME, such as lpadmin),
// known either by the peer of a TCP connection from this machine (the kernel's socket
// table says which user made it) or by a user name and password checked with PAM
// (-o auth-service=NAME, HTTP Basic over the web and IPP). The local socket the
// sub-commands use is made reachable by the owner and the admin group only.
#pragma once

#include <pappl/pappl.h>

namespace qxapp {

// Installs the rules on a new system, from the server's options admin-group,
// auth-service and auth-config-dir (a folder of PAM service files in place of
// /etc/pam.d). False, with the reason on standard error, when an option names a group
// that does not exist or a PAM service without its file: a typing error must not leave
// the server open.
bool SetUpAccess(pappl_system_t* system, int count, cups_option_t* options);

}  // namespace qxapp
