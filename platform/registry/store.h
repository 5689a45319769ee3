// The registry file shared by several processes: reads see a whole file, writes are
// serialised by an advisory lock and replace the file atomically.
#pragma once

#include <functional>
#include <string>

#include "hive.h"

namespace wce::reg {

// Runs fn on the current content; returns ERROR_BADDB when the file does not parse,
// ERROR_CANTREAD when it cannot be read.
LONG ReadHive(const std::function<LONG(Hive&)>& fn);
// Runs fn under the file lock on fresh content; when fn returns ERROR_SUCCESS and
// reports a change, the new content replaces the file. A scratch registry's change
// stays in memory until FlushHive.
LONG WriteHive(const std::function<LONG(Hive&, bool& changed)>& fn);
// Writes a scratch registry's changes to its file; nothing to do for any other.
LONG FlushHive();

}  // namespace wce::reg
