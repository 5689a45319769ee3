// Last error, sleeping, the tick count and the pseudo-random source.
#include <chrono>
#include <thread>

#include "wce/base.h"

namespace wce {

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
// The C runtime's linear congruential generator, one state per thread.
thread_local unsigned int randState = 1;
}  // namespace

DWORD GetLastError() {
    return lastError;
}
void SetLastError(DWORD error) {
    lastError = error;
}

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

DWORD GetTickCount() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

int rand() {
    randState = randState * 214013u + 2531011u;
    return static_cast<int>((randState >> 16) & 0x7FFF);
}

void srand(unsigned int seed) {
    randState = seed;
}

}  // namespace wce
