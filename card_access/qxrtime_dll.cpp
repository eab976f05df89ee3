// qxrtime.dll: the process's one CardLibrary over the real device, made at load and
// destroyed at unload, and the nine exports onto it.
#include <new>

#include "card_access/card_library.h"
#include "platform/win32/win32_device_io.h"

using qxr::card_access::CardLibrary;
using qxr::win32::Win32DeviceIo;

namespace {

// Static storage instead of the heap: the objects live exactly from attach to detach.
alignas(Win32DeviceIo) unsigned char g_ioStorage[sizeof(Win32DeviceIo)];
alignas(CardLibrary) unsigned char g_libraryStorage[sizeof(CardLibrary)];
Win32DeviceIo* g_io = nullptr;
CardLibrary* g_library = nullptr;

void Load() {
    g_io = new (g_ioStorage) Win32DeviceIo();
    g_library = new (g_libraryStorage) CardLibrary(*g_io);
}

void Unload() {
    if (g_library != nullptr) g_library->~CardLibrary();
    if (g_io != nullptr) g_io->~Win32DeviceIo();
    g_library = nullptr;
    g_io = nullptr;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    // Loading succeeds whether or not the device could be opened; thread attach and
    // detach need nothing.
    if (reason == DLL_PROCESS_ATTACH) {
        Load();
    } else if (reason == DLL_PROCESS_DETACH) {
        Unload();
    }
    return TRUE;
}

extern "C" {

uint32_t QXRAPI QxrGetDriverVersion(CardVersion* version) {
    return g_library->GetDriverVersion(version);
}

uint32_t QXRAPI QxrGetFwVersion(CardVersion* version) {
    return g_library->GetFwVersion(version);
}

int32_t QXRAPI QxrGetHwSignature(char* buffer, int32_t length) {
    return g_library->GetHwSignature(buffer, length);
}

uint32_t QXRAPI QxrGetHwStatus(CardStatus* status) {
    return g_library->GetHwStatus(status);
}

uint32_t QXRAPI QxrGetTime(CardTime* time) {
    return g_library->GetTime(time);
}

uint32_t QXRAPI QxrSetTime(const CardTime* time) {
    return g_library->SetTime(time);
}

uint32_t QXRAPI QxrGetSignalQuality(CardSignalQuality* quality) {
    return g_library->GetSignalQuality(quality);
}

uint32_t QXRAPI QxrGetPosition(CardPosition* position) {
    return g_library->GetPosition(position);
}

uint32_t QXRAPI QxrGetFwChecksum(uint32_t* checksum) {
    return g_library->GetFwChecksum(checksum);
}

}  // extern "C"
