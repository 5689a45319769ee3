// The common file-open dialog. A backend shows it (a file chooser on a desktop); a
// scripted run answers it with a `file PATH` line.
#pragma once

#include "wce/winuser.h"

namespace wce {

constexpr DWORD OFN_READONLY = 0x00000001;
constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
constexpr DWORD OFN_NOCHANGEDIR = 0x00000008;
constexpr DWORD OFN_PATHMUSTEXIST = 0x00000800;
constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;

struct OPENFILENAMEW {
    DWORD lStructSize;
    HWND hwndOwner;
    HINSTANCE hInstance;
    LPCWSTR lpstrFilter;  // pairs of zero-terminated texts, ended by an empty one
    LPWSTR lpstrCustomFilter;
    DWORD nMaxCustFilter;
    DWORD nFilterIndex;     // 1-based; 0 takes the first
    LPWSTR lpstrFile;       // in: the initial name, out: the full path
    DWORD nMaxFile;         // characters, terminator included
    LPWSTR lpstrFileTitle;  // out: the name without its folder (may be null)
    DWORD nMaxFileTitle;
    LPCWSTR lpstrInitialDir;
    LPCWSTR lpstrTitle;
    DWORD Flags;
    WORD nFileOffset;
    WORD nFileExtension;
    LPCWSTR lpstrDefExt;
    LPARAM lCustData;
    void* lpfnHook;
    LPCWSTR lpTemplateName;
};

// TRUE when the user chose a file. FALSE when cancelled (CommDlgExtendedError 0) or on
// bad arguments or a path too long for lpstrFile (CommDlgExtendedError FNERR_BUFFERTOOSMALL,
// and the first two characters of lpstrFile hold the size needed).
BOOL GetOpenFileNameW(OPENFILENAMEW* dialog);
constexpr DWORD CDERR_STRUCTSIZE = 0x0001;
constexpr DWORD CDERR_INITIALIZATION = 0x0002;
constexpr DWORD FNERR_BUFFERTOOSMALL = 0x3003;
DWORD CommDlgExtendedError();

}  // namespace wce
