// QxrSync.exe: the synchronizer service and its own installer, on the real Windows API and
// the imports of qxrtime.dll.
#include "card_access/imported_card_client.h"
#include "platform/win32/win32_console.h"
#include "platform/win32/win32_datagram_sockets.h"
#include "platform/win32/win32_machine.h"
#include "platform/win32/win32_shared_sections.h"
#include "sync_service/qxrsync_program.h"
#include "sync_service/sync_service.h"

int main(int argc, char** argv) {
    using namespace qxr;
    win32::Win32Machine pc;
    card_access::ImportedCardClient card;
    win32::StdoutConsole console;
    win32::Win32DatagramSockets sockets;
    win32::Win32SharedSections sections;
    int exitCode = 0;
    {
        sync::SyncService service(pc.ports, card, console);
        service.ServeTimeWith(sockets, ntp::TimeServing::Mode::kOwnThread);
        service.PublishCountersWith(sections);
        exitCode = sync::RunServiceProgram(service, console, argc, argv);
    }
    return exitCode;
}
