// Ondrak's command line as an argument vector of any words, on NT 4 or another system, with
// or without a driver of the named service already there. Exit code 0 always; the usage text
// only for none or two arguments; an installation either creates exactly the service asked
// for (display name the words joined by blanks, image path from the file root) silently, or
// creates nothing and shows one message; a removal deletes the named service or shows "Unable
// to remove driver"; no service handle stays open.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "card_simulator/sim_machine.h"
#include "install_tools/driver_installer.h"
#include "platform/sim/sim_console.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace qxr;

using sim::RecordingConsole;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    sim::SimMachine pc;
    const bool nt4 = data.ConsumeIntegralInRange<int>(0, 7) != 0;
    if (!nt4) pc.process.SetMajorVersion(data.ConsumeIntegralInRange<DWORD>(0, 10) == 4 ? 5 : 3);

    std::vector<std::string> words{"Ondrak.exe"};
    const int count = data.ConsumeIntegralInRange<int>(0, 8);
    for (int i = 0; i < count; ++i) {
        words.push_back(data.ConsumeBool() ? data.ConsumeRandomLengthString(24)
                                           : data.ConsumeRandomLengthString(400));
    }
    const bool existing = count > 0 && data.ConsumeBool();
    if (existing) {
        sim::SimService driver;
        driver.name = words[1].c_str();
        driver.serviceType = SERVICE_KERNEL_DRIVER;
        driver.state = data.ConsumeBool() ? SERVICE_RUNNING : SERVICE_STOPPED;
        driver.refusesStop = data.ConsumeIntegralInRange<int>(0, 7) == 0;
        pc.services.AddService(driver);
    }
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);

    RecordingConsole console;
    install::DriverInstaller installer(pc.ports, console);
    QXR_FUZZ_CHECK(installer.Run(static_cast<int>(words.size()), argv.data()) == 0);
    QXR_FUZZ_CHECK(pc.services.OpenHandleCount() == 0);

    const std::vector<sim::SimMessageBox> boxes = pc.messageBoxes.Boxes();
    for (const sim::SimMessageBox& box : boxes) {
        QXR_FUZZ_CHECK(box.style == install::kBoxStyle && box.owner == nullptr);
    }
    const bool usage = nt4 && (count == 0 || count == 2);
    QXR_FUZZ_CHECK(console.Text() == (usage ? install::kOndrakUsage : ""));
    if (!nt4) {
        QXR_FUZZ_CHECK(boxes.size() == 1 && boxes[0].text == install::kWrongSystemText);
        return 0;
    }
    if (count == 1) {
        // The named service is gone, or could not be opened at all.
        const bool gone = existing && !pc.services.HasService(words[1].c_str());
        QXR_FUZZ_CHECK(gone || (!existing && boxes.size() == 1 &&
                                boxes[0].text == install::kCannotRemoveText));
    } else if (count >= 3) {
        const char* name = words[1].c_str();
        std::string display;
        for (int i = 3; i <= count; ++i)
            display += (i > 3 ? " " : "") + std::string(words[i].c_str());
        const std::string imagePath =
            "\\SystemRoot\\system32\\drivers\\" + std::string(words[2].c_str()) + ".sys";
        sim::SimService service;
        const bool fits = display.size() < install::kDisplayNameSize &&
                          imagePath.size() < install::kImagePathSize;
        if (boxes.empty()) {
            QXR_FUZZ_CHECK(fits && !existing && pc.services.GetService(name, &service));
            QXR_FUZZ_CHECK(service.displayName == display && service.binaryPathName == imagePath);
            QXR_FUZZ_CHECK(service.serviceType == SERVICE_KERNEL_DRIVER &&
                           service.startType == SERVICE_AUTO_START);
        } else {
            QXR_FUZZ_CHECK(boxes.size() == 1);
            QXR_FUZZ_CHECK(pc.services.HasService(name) == existing);
        }
    }
    return 0;
}
