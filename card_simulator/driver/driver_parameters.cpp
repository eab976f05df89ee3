#include "card_simulator/driver/driver_parameters.h"

namespace qxr::simdriver {

namespace {

constexpr USHORT kMaxKeyPathChars = 512;

// `L"..."` as a counted string without the terminator.
template <size_t N>
UNICODE_STRING ConstantString(const wchar_t (&text)[N]) {
    UNICODE_STRING s;
    s.Length = static_cast<USHORT>((N - 1) * sizeof(wchar_t));
    s.MaximumLength = static_cast<USHORT>(N * sizeof(wchar_t));
    s.Buffer = const_cast<PWCH>(text);
    return s;
}

void ReadDword(HANDLE key, const wchar_t* name, USHORT nameChars, uint32_t* target) {
    UNICODE_STRING valueName;
    valueName.Length = static_cast<USHORT>(nameChars * sizeof(wchar_t));
    valueName.MaximumLength = valueName.Length;
    valueName.Buffer = const_cast<PWCH>(name);

    // Room for the header and a few bytes more, so that a longer value is seen as such.
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 16];
    } buffer;
    ULONG length = 0;
    const NTSTATUS status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, &buffer,
                                            sizeof buffer, &length);
    if (!NT_SUCCESS(status) || buffer.info.DataLength != 4) return;
    const UCHAR* d = buffer.info.Data;
    *target = static_cast<uint32_t>(d[0]) | (static_cast<uint32_t>(d[1]) << 8) |
              (static_cast<uint32_t>(d[2]) << 16) | (static_cast<uint32_t>(d[3]) << 24);
}

template <size_t N>
void ReadDword(HANDLE key, const wchar_t (&name)[N], uint32_t* target) {
    ReadDword(key, name, static_cast<USHORT>(N - 1), target);
}

}  // namespace

void ReadDriverParameters(PCUNICODE_STRING registryPath, card::CardSettings* settings) {
    static const wchar_t kSuffix[] = L"\\Parameters";
    const UNICODE_STRING suffix = ConstantString(kSuffix);

    wchar_t path[kMaxKeyPathChars];
    UNICODE_STRING keyPath;
    keyPath.Buffer = path;
    keyPath.Length = 0;
    keyPath.MaximumLength = sizeof path;
    if (registryPath == nullptr || registryPath->Length + suffix.Length > keyPath.MaximumLength) {
        return;
    }
    RtlCopyUnicodeString(&keyPath, registryPath);
    if (!NT_SUCCESS(RtlAppendUnicodeStringToString(&keyPath, &suffix))) return;

    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &keyPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               nullptr, nullptr);
    HANDLE key = nullptr;
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_QUERY_VALUE, &attributes))) return;
    ReadDword(key, L"Quoxar Product", &settings->busType);
    ReadDword(key, L"I/O Port", &settings->ioPort);
    ReadDword(key, L"Interrupt (IRQ)", &settings->irq);
    ZwClose(key);
}

}  // namespace qxr::simdriver
