// QxrSync's command line as an argument vector of any words, on a simulated PC where the
// service may or may not be installed and the service manager may refuse to be opened. The
// program always ends with exit code 0, prints only one of its own texts (chosen by the first
// argument alone, without regard to letter case), and leaves no registry key or service
// handle open. It never becomes a service here: the manager does not hold it start-pending.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "card_access/card_library.h"
#include "card_access/library_card_client.h"
#include "card_simulator/sim_machine.h"
#include "platform/sim/sim_console.h"
#include "sync_service/qxrsync_program.h"
#include "sync_service/sync_service.h"
#include "sync_service/w32time_coordination.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace qxr;

using sim::RecordingConsole;

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    sim::SimMachine pc;
    const bool installed = data.ConsumeBool();
    if (installed) {
        sim::SimService entry;
        entry.name = sync::kSyncServiceName;
        entry.state = data.ConsumeBool() ? SERVICE_RUNNING : SERVICE_STOPPED;
        pc.services.AddService(entry);
    }
    if (data.ConsumeBool()) {
        sim::SimService w32time;
        w32time.name = sync::kW32TimeName;
        w32time.startType = SERVICE_AUTO_START;
        w32time.state = SERVICE_RUNNING;
        pc.services.AddService(w32time);
    }
    const bool scmRefused = data.ConsumeIntegralInRange<int>(0, 7) == 0;
    if (scmRefused)
        pc.services.FailCall(sim::SimServiceManager::kOpenSCManager, ERROR_ACCESS_DENIED);

    std::vector<std::string> words{"QxrSync.exe"};
    const int count = data.ConsumeIntegralInRange<int>(0, 6);
    for (int i = 0; i < count; ++i) words.push_back(data.ConsumeRandomLengthString(300));
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);

    card_access::CardLibrary library(pc.device);
    card_access::LibraryCardClient card(library);
    RecordingConsole console;
    int exitCode = -1;
    {
        sync::SyncService service(pc.ports, card, console);
        exitCode =
            sync::RunServiceProgram(service, console, static_cast<int>(words.size()), argv.data());
    }
    QXR_FUZZ_CHECK(exitCode == 0);
    QXR_FUZZ_CHECK(pc.registry.OpenHandleCount() == 0);
    QXR_FUZZ_CHECK(pc.services.OpenHandleCount() == 0);

    const std::string& out = console.Text();
    const std::string option = count > 0 ? Lower(words[1].c_str()) : std::string();
    if (count == 0) {
        QXR_FUZZ_CHECK(out == sync::kQxrSyncUsage);
    } else if (option == "-v") {
        QXR_FUZZ_CHECK(StartsWith(out, "QxrSync version 1.0.0.2\nThe service is "));
    } else if (option == "-i") {
        const bool nowInstalled = pc.services.HasService(sync::kSyncServiceName);
        if (installed && !scmRefused) {
            QXR_FUZZ_CHECK(out == "QxrSync is already installed.\n");
        } else if (scmRefused) {
            QXR_FUZZ_CHECK(StartsWith(out, "QxrSync failed to install.  Error ") &&
                           nowInstalled == installed);
        } else {
            QXR_FUZZ_CHECK(nowInstalled);
            const std::string last = "QxrSync installed.\n";
            QXR_FUZZ_CHECK(out.size() >= last.size() &&
                           out.compare(out.size() - last.size(), last.size(), last) == 0);
        }
    } else if (option == "-r" || option == "-u") {
        if (installed && !scmRefused) {
            QXR_FUZZ_CHECK(StartsWith(out, "QxrSync removed.\n") &&
                           !pc.services.HasService(sync::kSyncServiceName));
        } else {
            QXR_FUZZ_CHECK(out == "QxrSync is not installed.\n");
        }
    } else {
        QXR_FUZZ_CHECK(out.empty());
        QXR_FUZZ_CHECK(pc.services.HasService(sync::kSyncServiceName) == installed);
    }
    return 0;
}
