// The port layer as the driver core sees it: open the port named by the device
// context, query the printer, write the buffered bytes, close.
#pragma once

#include "wce/types.h"

namespace qx470 {

constexpr int PortKindNone = -1;
constexpr int PortKindInfrared = 6;
constexpr int PortKindSerial = 8;
constexpr int PortKindParallel = 9;
constexpr int PortKindNetwork = 10;

// Returns the port kind code, or -1 with a last-error code.
int PortOpen(wce::LPCWSTR portName);
// 1 when every byte was written, 0 with a last-error code.
int PortWrite(int kind, const wce::BYTE* bytes, wce::DWORD count);
// Ends a document: returns once the printer has taken everything written, 1, or 0 with
// a last-error code when it did not within "TimeOut". A network printer is told that
// the document's data ends and gets a new connection with the next write.
int PortFinishDocument(int kind);
void PortClose(int kind);
// Returns a Win32 error code; kind 1 is the printer's description, kind 2 its capability flags.
wce::DWORD PortQuery(int kind, wce::DWORD infoKind, void* buffer, wce::DWORD* size);

// PortQuery kinds.
constexpr wce::DWORD PortInfoDescription = 1;
constexpr wce::DWORD PortInfoCapabilities = 2;
// Capability flags.
constexpr wce::DWORD PortCapabilityBlack = 1;
constexpr wce::DWORD PortCapabilityColour = 2;

}  // namespace qx470
