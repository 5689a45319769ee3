// Process and thread services: last error, sleeping, the pseudo-random source,
// code pages, debug output and loadable modules.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

#include "wce/types.h"

namespace wce {

// Thread-local last error.
DWORD GetLastError();
void SetLastError(DWORD error);

void Sleep(DWORD milliseconds);
DWORD GetTickCount();

// Pseudo-random integers from 0 to 32767. Each thread has its own sequence, so a
// test that seeds it gets the same dots every run.
constexpr int kRandMax = 32767;  // the Windows RAND_MAX
int rand();
void srand(unsigned int seed);

// Code pages.
constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD MB_PRECOMPOSED = 0x00000001;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x00000008;

// 949 when the locale's language is Korean (LC_ALL, LC_CTYPE or LANG), else 1252.
UINT GetACP();
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteCount,
                        LPWSTR wide, int wideCount);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR multiByte,
                        int multiByteCount, LPCSTR defaultChar, BOOL* usedDefaultChar);

// Debug output: standard error, or the file named by QX_DEBUG_LOG (appended).
void OutputDebugStringW(LPCWSTR text);
void NKDbgPrintfW(LPCWSTR format, ...);

// printf-style formatting with UTF-16 formats: %s takes a wide string, %S and %hs a
// narrow one, %c a wide character; d i u x X o c s p %, flags - + 0 space #, width,
// precision, '*', and the h l ll size prefixes. The result is always terminated and cut
// to the buffer; the count of characters written (without terminator) is returned, or
// -1 when the text was cut.
int FormatWideV(LPWSTR buffer, size_t bufferCount, LPCWSTR format, va_list args);
int FormatWide(LPWSTR buffer, size_t bufferCount, LPCWSTR format, ...);
// Windows' wsprintfW writes at most 1024 characters.
int wsprintfW(LPWSTR buffer, LPCWSTR format, ...);
std::u16string FormatWideString(LPCWSTR format, ...);
std::u16string FormatWideStringV(LPCWSTR format, va_list args);

// Loadable modules over dlopen. A bare file name is looked for in the folder named by
// QX_DRIVER_PATH, then beside the running program, then by the system's search.
struct HINSTANCE__;
using HMODULE = HINSTANCE__*;
using HINSTANCE = HMODULE;
using FARPROC = void (*)();
HMODULE LoadLibraryW(LPCWSTR fileName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);
// Accepted and ignored: there are no per-thread library notifications here.
BOOL DisableThreadLibraryCalls(HMODULE module);

}  // namespace wce
