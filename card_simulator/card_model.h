// The QXR card as its driver presents it: answers the nine control requests of \\.\QXR with
// the reply sizes and layouts of card_access/qxr_requests.h. One source serves the in-process
// simulated device and the stand-in kernel driver, so it stays freestanding: no standard
// library, no heap, no virtual functions, no floating point, no run-time static
// initialisation (a CardModel object is constant-initialised).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace qxr::card {

// Win32 error numbers the model returns (the driver completes requests with their NTSTATUS
// equivalents, which user mode sees as these).
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorInvalidFunction = 1;       // unknown control code
inline constexpr uint32_t kErrorNotReady = 21;             // the card is stopped
inline constexpr uint32_t kErrorInvalidParameter = 87;     // malformed SetTime request
inline constexpr uint32_t kErrorInsufficientBuffer = 122;  // reply buffer too small

// Bus types of the driver's "Quoxar Product" parameter.
inline constexpr uint32_t kBusIsa = 1;
inline constexpr uint32_t kBusPci = 2;

// One reading of the host's clocks, taken when a request arrives.
struct ClockSample {
    int64_t utc;               // true UTC, FILETIME scale (100 ns since 1601)
    int64_t counter;           // performance counter at that instant
    int64_t counterFrequency;  // counts per second; 0 = no counter
};

// The driver's parameters: "Quoxar Product", "I/O Port", "Interrupt (IRQ)".
struct CardSettings {
    uint32_t busType;
    uint32_t ioPort;
    uint32_t irq;
};

// Fixed identity values the card reports.
inline constexpr uint16_t kDriverVersion[4] = {2, 1, 0, 17};
inline constexpr uint16_t kFirmwareVersion[4] = {4, 2, 1, 0};
inline constexpr uint32_t kFirmwareChecksum = 0xC0DE5A17u;
inline constexpr uint16_t kTimeAuxWord = 0x00A5u;
inline constexpr uint8_t kStatusByte2 = 9;      // satellites used
inline constexpr uint8_t kStatusByte3 = 0xFDu;  // -3: receiver temperature trend
inline constexpr size_t kSignatureCapacity = 64;
inline constexpr int64_t kMaxHoldoverDriftPpb = 1000000;  // 1000 ppm

class CardModel {
  public:
    // Loads the card with these settings and resets it to its defaults: GPS fitted,
    // reference GPS, card time = true time, tick running, no injected faults.
    void Start(const CardSettings& settings);
    // Unloads the card: every request fails with kErrorNotReady until the next Start.
    void Stop() { running_ = false; }
    bool IsRunning() const { return running_; }

    // Serves one control request. Returns a Win32 error number (0 = success) and the reply
    // length in *bytesReturned (0 on failure).
    uint32_t HandleRequest(const ClockSample& now, uint32_t code, const void* in, uint32_t inSize,
                           void* out, uint32_t outSize, uint32_t* bytesReturned);

    // Scenario control.
    void SetReference(uint32_t bits) { reference_ = bits & 0x7u; }  // status bits 0..2
    // The same at true time `atUtc`, with the on-board clock's holdover: leaving GPS, the card
    // keeps time on its own oscillator, which wanders off UTC at the holdover drift; coming
    // back to GPS, the card is corrected and its clock jumps back onto UTC.
    void ChangeReference(uint32_t bits, int64_t atUtc);
    // The on-board oscillator's rate error in parts per billion (+ = fast), within
    // +-kMaxHoldoverDriftPpb; 0 (the default) keeps perfect time in holdover.
    void SetHoldoverDrift(int64_t ppb);
    void SetGpsFitted(bool fitted) { gpsFitted_ = fitted; }
    // Status bits this system does not interpret (4..9, 11..15); the others are ignored.
    void SetExtraStatusBits(uint16_t bits) { extraBits_ = static_cast<uint16_t>(bits & 0xFBF0u); }
    void SetOffset(int64_t hundredNs) { offset_ = hundredNs; }  // card minus true time
    // Stops the once-per-second toggle at its present value (a card whose tick interrupt
    // has died); false lets it run again.
    void FreezeTick(bool frozen) { tickFrozen_ = frozen; }
    void FailRequests(uint32_t win32Error) { failWith_ = win32Error; }  // 0 = off
    void ReturnNoData(bool on) { noData_ = on; }

    uint32_t Reference() const { return reference_; }
    bool GpsFitted() const { return gpsFitted_; }
    int64_t Offset() const { return offset_; }
    bool TickFrozen() const { return tickFrozen_; }
    uint32_t FailingWith() const { return failWith_; }
    bool ReturningNoData() const { return noData_; }
    const CardSettings& Settings() const { return settings_; }
    // The signature text (zero-terminated here; the reply carries it without terminator).
    const char* Signature() const { return signature_; }
    uint32_t SignatureLength() const { return signatureLength_; }
    int64_t HoldoverDrift() const { return holdoverDriftPpb_; }
    bool InHoldover() const { return inHoldover_; }
    // How far the on-board clock has wandered since GPS was lost (0 on GPS), 100-ns units.
    int64_t HoldoverError(int64_t utc) const;
    // The card's time for a given reading of the host clocks.
    int64_t CardTimeAt(const ClockSample& now) const {
        return now.utc + offset_ + HoldoverError(now.utc);
    }
    uint32_t SetTimeCount() const { return setTimeCount_; }

  private:
    uint32_t ReplyTime(const ClockSample& now, uint8_t* out) const;
    uint32_t ReplyStatus(const ClockSample& now, uint8_t* out);
    uint32_t ApplySetTime(const ClockSample& now, const uint8_t* in);
    void BuildSignature();

    CardSettings settings_ = {kBusIsa, 0x300, 5};
    bool running_ = false;
    uint32_t reference_ = 1;
    bool gpsFitted_ = true;
    uint16_t extraBits_ = 0;
    int64_t offset_ = 0;
    bool tickFrozen_ = false;
    uint32_t lastTick_ = 0;
    uint32_t failWith_ = 0;
    bool noData_ = false;
    uint32_t setTimeCount_ = 0;
    int64_t holdoverDriftPpb_ = 0;
    bool inHoldover_ = false;
    int64_t holdoverSince_ = 0;  // true UTC when the holdover began (or the card was last set)
    char signature_[kSignatureCapacity] = {};
    uint32_t signatureLength_ = 0;
};

}  // namespace qxr::card
