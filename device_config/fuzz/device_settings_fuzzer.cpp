// QxrCfgNT's registry readers against the driver's three values of any type and size, then
// any sequence of list choices and OK. A value of up to 4 bytes is taken zero-extended, a
// longer or missing one leaves 0; the lists only ever get an index they hold (or none); OK
// with a change leaves exactly the three shown values as 4-byte REG_DWORDs and restarts the
// driver, OK without one touches nothing; no key or service handle stays open.
#include <fuzzer/FuzzedDataProvider.h>

#include <map>
#include <vector>

#include "card_simulator/sim_machine.h"
#include "device_config/device_choices.h"
#include "device_config/device_settings_dialog.h"
#include "device_config/device_settings_ids.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace qxr;
using namespace qxr::device_config;

class CheckingDialog : public DialogPort {
  public:
    HANDLE Window() override { return nullptr; }
    void SetIcons() override {}
    void AddListEntry(int control, const char*) override { ++counts[control]; }
    int GetSelection(int control) override {
        const auto it = selection.find(control);
        return it == selection.end() ? -1 : it->second;
    }
    void SetSelection(int control, int index) override {
        QXR_FUZZ_CHECK(index >= -1 && index < counts[control]);
        selection[control] = index;
    }
    void EnableControl(int, bool) override {}
    void PostClose() override { closed = true; }
    void EndDialog(int) override { ended = true; }

    std::map<int, int> counts;
    std::map<int, int> selection;
    bool closed = false;
    bool ended = false;
};

constexpr const char* kNames[3] = {kBusTypeValue, kIoPortValue, kIrqValue};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    sim::SimMachine pc;
    sim::SimService driver;
    driver.name = kDriverServiceName;
    driver.serviceType = SERVICE_KERNEL_DRIVER;
    driver.state = SERVICE_RUNNING;
    pc.services.AddService(driver);

    int32_t expected[3] = {0, 0, 0};
    std::vector<sim::SimRegistryValue> before(3);
    const bool keyPresent = data.ConsumeIntegralInRange<int>(0, 7) != 0;
    if (keyPresent) {
        pc.registry.CreateKey(kParametersKey);
        for (int i = 0; i < 3; ++i) {
            if (data.ConsumeIntegralInRange<int>(0, 3) == 0) continue;
            const DWORD type = data.ConsumeIntegral<DWORD>();
            const size_t length = data.ConsumeBool() ? data.ConsumeIntegralInRange<size_t>(0, 6)
                                                     : data.ConsumeIntegralInRange<size_t>(0, 2048);
            std::vector<BYTE> value = data.ConsumeBytes<BYTE>(length);
            pc.registry.SetValue(kParametersKey, kNames[i], type, value);
            if (value.size() <= 4) {
                uint32_t v = 0;
                for (size_t b = 0; b < value.size(); ++b) v |= uint32_t{value[b]} << (8 * b);
                expected[i] = static_cast<int32_t>(v);
            }
        }
        for (int i = 0; i < 3; ++i) pc.registry.GetValue(kParametersKey, kNames[i], &before[i]);
    }

    CheckingDialog window;
    DeviceSettingsDialog dialog(pc.ports, window);
    dialog.InitDialog();
    QXR_FUZZ_CHECK(dialog.BusType() == expected[0] && dialog.IoPort() == expected[1] &&
                   dialog.Irq() == expected[2]);
    QXR_FUZZ_CHECK(window.closed == !keyPresent);

    while (!window.ended && data.remaining_bytes() > 0) {
        switch (data.ConsumeIntegralInRange<int>(0, 2)) {
            case 0:
                window.selection[IDC_BUS_LIST] =
                    data.ConsumeIntegralInRange<int>(-1, kBusChoiceCount - 1);
                dialog.OnBusSelected();
                break;
            case 1:
                window.selection[IDC_IRQ_LIST] =
                    data.ConsumeIntegralInRange<int>(-1, kInterruptChoiceCount - 1);
                dialog.OnInterruptSelected();
                break;
            default:
                dialog.ApplySettings();
                break;
        }
    }

    const bool changed = dialog.BusType() != expected[0] || dialog.IoPort() != expected[1] ||
                         dialog.Irq() != expected[2];
    sim::SimService after;
    QXR_FUZZ_CHECK(pc.services.GetService(kDriverServiceName, &after));
    if (window.ended && changed && keyPresent) {
        const int32_t shown[3] = {dialog.BusType(), dialog.IoPort(), dialog.Irq()};
        for (int i = 0; i < 3; ++i) {
            sim::SimRegistryValue value;
            QXR_FUZZ_CHECK(pc.registry.GetValue(kParametersKey, kNames[i], &value));
            DWORD stored = 0;
            QXR_FUZZ_CHECK(value.type == REG_DWORD &&
                           pc.registry.GetDword(kParametersKey, kNames[i], &stored));
            QXR_FUZZ_CHECK(static_cast<int32_t>(stored) == shown[i]);
        }
        QXR_FUZZ_CHECK(after.stopCount == 1 && after.startCount == 1 &&
                       after.state == SERVICE_RUNNING);
    } else {
        for (int i = 0; keyPresent && i < 3; ++i) {
            sim::SimRegistryValue value;
            pc.registry.GetValue(kParametersKey, kNames[i], &value);
            QXR_FUZZ_CHECK(value.type == before[i].type && value.data == before[i].data);
        }
        QXR_FUZZ_CHECK(after.stopCount == 0 && after.startCount == 0);
    }
    QXR_FUZZ_CHECK(pc.registry.OpenHandleCount() == 0 && pc.services.OpenHandleCount() == 0);
    return 0;
}
