#include "device_config/device_settings_dialog.h"

#include <cstdio>
#include <utility>

#include "device_config/device_choices.h"
#include "device_config/device_settings_ids.h"

namespace qxr::device_config {

DeviceSettingsDialog::DeviceSettingsDialog(platform::Platform& ports, DialogPort& dialog)
    : ports_(ports), dialog_(dialog) {}

bool DeviceSettingsDialog::InitDialog() {
    for (const char* text : kBusChoiceTexts) dialog_.AddListEntry(IDC_BUS_LIST, text);
    for (const InterruptChoice& choice : InterruptChoices) {
        dialog_.AddListEntry(IDC_IRQ_LIST, choice.text);
    }
    return LoadSettings();
}

bool DeviceSettingsDialog::LoadSettings() {
    dialog_.SetIcons();
    HKEY key = nullptr;
    if (ports_.registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParametersKey, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        // The driver's installer makes the service but not this key: without it the driver
        // was never configured, and there is nothing this dialog may create.
        ShowError(kNotInstalledText);
        dialog_.PostClose();
    } else {
        ReadDwordValue(key, kBusTypeValue, &busType_);
        ReadDwordValue(key, kIoPortValue, &ioPort_);
        ReadDwordValue(key, kIrqValue, &irq_);
        ports_.registry.RegCloseKey(key);
    }
    loadedBusType_ = busType_;
    loadedIoPort_ = ioPort_;
    loadedIrq_ = irq_;
    ShowBusSelection();
    ShowInterruptSelection();
    UpdateOkButton();
    return true;
}

bool DeviceSettingsDialog::ReadDwordValue(HKEY key, const char* name, int32_t* target) {
    BYTE data[4] = {};
    DWORD type = 0;
    DWORD size = sizeof data;
    if (ports_.registry.RegQueryValueExA(key, name, &type, data, &size) != ERROR_SUCCESS) {
        return false;
    }
    // Little-endian, from the bytes returned only: a shorter value is taken zero-extended.
    uint32_t value = 0;
    for (DWORD i = 0; i < size && i < sizeof data; ++i) value |= uint32_t{data[i]} << (8 * i);
    *target = static_cast<int32_t>(value);
    return true;
}

LSTATUS DeviceSettingsDialog::WriteDwordValue(HKEY key, const char* name, int32_t value) {
    const uint32_t raw = static_cast<uint32_t>(value);
    const BYTE data[4] = {static_cast<BYTE>(raw), static_cast<BYTE>(raw >> 8),
                          static_cast<BYTE>(raw >> 16), static_cast<BYTE>(raw >> 24)};
    return ports_.registry.RegSetValueExA(key, name, REG_DWORD, data, sizeof data);
}

void DeviceSettingsDialog::ShowBusSelection() {
    dialog_.SetSelection(IDC_BUS_LIST, BusChoiceOf(busType_, ioPort_));
}

void DeviceSettingsDialog::ShowInterruptSelection() {
    const bool isa = busType_ == kBusIsa;
    // The interrupt means nothing on PCI; it is kept, so a PCI choice writes it back.
    dialog_.SetSelection(IDC_IRQ_LIST, isa ? InterruptChoiceOf(irq_) : -1);
    dialog_.EnableControl(IDC_IRQ_LIST, isa);
    dialog_.EnableControl(IDC_IRQ_LABEL, isa);
}

void DeviceSettingsDialog::UpdateOkButton() {
    // By range, not by list entry: a stored port or interrupt the lists do not offer is kept.
    const bool isaValid = busType_ == kBusIsa && ioPort_ >= kFirstIsaPort &&
                          ioPort_ <= kLastIsaPort && irq_ >= 5 && irq_ <= 15;
    dialog_.EnableControl(IDOK, isaValid || busType_ == kBusPci);
}

void DeviceSettingsDialog::OnBusSelected() {
    const int index = dialog_.GetSelection(IDC_BUS_LIST);
    if (index == 0) {
        busType_ = kBusPci;
        ioPort_ = 0;
    } else if (index >= 1) {
        busType_ = kBusIsa;
        ioPort_ = (index + 0x2F) * 16;
    } else {
        busType_ = 0;
        ioPort_ = 0;
    }
    ShowInterruptSelection();
    UpdateOkButton();
}

void DeviceSettingsDialog::OnInterruptSelected() {
    const int index = dialog_.GetSelection(IDC_IRQ_LIST);
    irq_ = index >= 0 && index < kInterruptChoiceCount ? InterruptChoices[index].irq : 0;
    UpdateOkButton();
}

void DeviceSettingsDialog::ApplySettings() {
    if (busType_ == loadedBusType_ && ioPort_ == loadedIoPort_ && irq_ == loadedIrq_) {
        dialog_.EndDialog(IDOK);
        return;
    }
    HKEY key = nullptr;
    if (const LSTATUS error =
            ports_.registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParametersKey, KEY_SET_VALUE, &key);
        error != ERROR_SUCCESS) {
        // An ordinary user may read the key but not write it.
        ShowSystemError(kKeyNotWritableText, static_cast<DWORD>(error));
        dialog_.EndDialog(IDOK);
        return;
    }
    // All three, the untouched ones as read; one failing write does not stop the others, but
    // a driver restarted now would run with mixed settings.
    const char* failedName = nullptr;
    LSTATUS failed = ERROR_SUCCESS;
    for (const auto& [name, value] :
         {std::pair{kBusTypeValue, busType_}, std::pair{kIoPortValue, ioPort_},
          std::pair{kIrqValue, irq_}}) {
        const LSTATUS error = WriteDwordValue(key, name, value);
        if (error != ERROR_SUCCESS && failedName == nullptr) {
            failedName = name;
            failed = error;
        }
    }
    ports_.registry.RegCloseKey(key);
    if (failedName != nullptr) {
        char text[128];
        std::snprintf(text, sizeof text, kValueNotWrittenFormat, failedName);
        ShowSystemError(text, static_cast<DWORD>(failed));
    } else {
        RestartDriver();
    }
    dialog_.EndDialog(IDOK);
}

void DeviceSettingsDialog::ShowError(const char* text) {
    ports_.messageBoxes.MessageBoxA(dialog_.Window(), text, kErrorCaption, kErrorBoxStyle);
}

void DeviceSettingsDialog::ShowSystemError(const char* text, DWORD error) {
    char reason[256];
    if (ports_.messageBoxes.FormatMessageA(error, reason, sizeof reason) == 0) {
        std::snprintf(reason, sizeof reason, "Error %lu.", static_cast<unsigned long>(error));
    }
    char message[512];
    std::snprintf(message, sizeof message, "%s\n\n%s", text, reason);
    ShowError(message);
}

}  // namespace qxr::device_config
