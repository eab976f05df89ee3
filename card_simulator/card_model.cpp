#include "card_simulator/card_model.h"

#include "card_access/qxr_requests.h"
#include "platform/calendar.h"

namespace qxr::card {

namespace {

// Raw position reply values. The two unsigned values lie above 2^31, as the receiver
// reports them, so that a reader that takes them as signed goes wrong visibly.
constexpr uint16_t kCoord1Word = 48;
constexpr uint16_t kCoord1Tag = 'N';
constexpr uint32_t kCoord1Micro = 3123456789u;
constexpr uint16_t kCoord2Word = 16;
constexpr uint16_t kCoord2Tag = 'E';
constexpr uint32_t kCoord2Micro = 2234567890u;
constexpr int32_t kMilliValue = -12345;
constexpr int32_t kDeciValue1 = 2875;
constexpr int32_t kDeciValue2 = -15;

// Signal quality: 12 channels, the satellite number (A) and the carrier-to-noise figure (B);
// an unused channel reports 0xFF in both.
constexpr uint16_t kChannelCount = 12;
constexpr uint16_t kChannelsTracked = 8;
constexpr uint8_t kChannelA[12] = {3, 6, 9, 14, 17, 19, 22, 28, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr uint8_t kChannelB[12] = {44, 41, 38, 47, 35, 200, 29, 40, 0xFF, 0xFF, 0xFF, 0xFF};

void PutWord(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v & 0xFFu);
    p[1] = static_cast<uint8_t>((v >> 8) & 0xFFu);
}

void PutDword(uint8_t* p, uint32_t v) {
    PutWord(p, v & 0xFFFFu);
    PutWord(p + 2, v >> 16);
}

uint32_t GetWord(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8);
}

void ZeroBytes(uint8_t* p, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) p[i] = 0;
}

// Appends text or numbers to a fixed buffer, always leaving it terminated.
class TextBuilder {
  public:
    TextBuilder(char* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {
        buffer_[0] = '\0';
    }
    void Text(const char* s) {
        while (*s != '\0') Char(*s++);
    }
    void Decimal(uint32_t v) {
        char digits[10];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0);
        while (n > 0) Char(digits[--n]);
    }
    void Hex(uint32_t v) {
        Text("0x");
        char digits[8];
        int n = 0;
        do {
            const uint32_t d = v & 0xFu;
            digits[n++] = static_cast<char>(d < 10 ? '0' + d : 'A' + d - 10);
            v >>= 4;
        } while (v != 0);
        while (n > 0) Char(digits[--n]);
    }
    size_t Length() const { return length_; }

  private:
    void Char(char c) {
        if (length_ + 1 >= capacity_) return;
        buffer_[length_++] = c;
        buffer_[length_] = '\0';
    }
    char* buffer_;
    size_t capacity_;
    size_t length_ = 0;
};

// Whole 100-ns units since the start of the current card second.
constexpr int64_t kTicksPerMillisecond = 10000;

int64_t PhaseInSecond(int64_t cardTime) {
    const int64_t phase = cardTime % calendar::kTicksPerSecond;
    return phase < 0 ? phase + calendar::kTicksPerSecond : phase;
}

}  // namespace

void CardModel::Start(const CardSettings& settings) {
    settings_ = settings;
    running_ = true;
    reference_ = 1;
    gpsFitted_ = true;
    extraBits_ = 0;
    offset_ = 0;
    tickFrozen_ = false;
    lastTick_ = 0;
    failWith_ = 0;
    noData_ = false;
    setTimeCount_ = 0;
    holdoverDriftPpb_ = 0;
    inHoldover_ = false;
    holdoverSince_ = 0;
    BuildSignature();
}

void CardModel::ChangeReference(uint32_t bits, int64_t atUtc) {
    const uint32_t reference = bits & 0x7u;
    const bool gps = reference == 1;
    if (!gps && !inHoldover_) {
        inHoldover_ = true;
        holdoverSince_ = atUtc;
    } else if (gps) {
        inHoldover_ = false;
    }
    reference_ = reference;
}

void CardModel::SetHoldoverDrift(int64_t ppb) {
    if (ppb > kMaxHoldoverDriftPpb) ppb = kMaxHoldoverDriftPpb;
    if (ppb < -kMaxHoldoverDriftPpb) ppb = -kMaxHoldoverDriftPpb;
    holdoverDriftPpb_ = ppb;
}

int64_t CardModel::HoldoverError(int64_t utc) const {
    if (!inHoldover_ || holdoverDriftPpb_ == 0 || utc <= holdoverSince_) return 0;
    // elapsed x ppb / 10^9 in two parts, so that a year of holdover at the largest drift
    // stays within 64 bits.
    constexpr int64_t kBillion = 1000000000;
    const int64_t elapsed = utc - holdoverSince_;
    return (elapsed / kBillion) * holdoverDriftPpb_ +
           (elapsed % kBillion) * holdoverDriftPpb_ / kBillion;
}

void CardModel::BuildSignature() {
    TextBuilder text(signature_, kSignatureCapacity);
    text.Text("QXR card simulator, ");
    if (settings_.busType == kBusPci) {
        text.Text("PCI");
    } else if (settings_.busType == kBusIsa) {
        text.Text("ISA port ");
        text.Hex(settings_.ioPort);
    } else {
        text.Text("bus type ");
        text.Decimal(settings_.busType);
    }
    text.Text(", IRQ ");
    text.Decimal(settings_.irq);
    signatureLength_ = static_cast<uint32_t>(text.Length());
}

uint32_t CardModel::HandleRequest(const ClockSample& now, uint32_t code, const void* in,
                                  uint32_t inSize, void* out, uint32_t outSize,
                                  uint32_t* bytesReturned) {
    uint32_t ignored = 0;
    uint32_t* returned = bytesReturned != nullptr ? bytesReturned : &ignored;
    *returned = 0;
    if (!running_) return kErrorNotReady;
    if (failWith_ != 0) return failWith_;

    uint32_t need = 0;
    switch (code) {
        case IOCTL_QXR_GET_DRIVER_VERSION:
        case IOCTL_QXR_GET_FW_VERSION:
            need = QXR_VERSION_REPLY_SIZE;
            break;
        case IOCTL_QXR_GET_HW_SIGNATURE:
            need = 1;
            break;
        case IOCTL_QXR_GET_HW_STATUS:
            need = QXR_STATUS_REPLY_SIZE;
            break;
        case IOCTL_QXR_GET_TIME:
            need = QXR_TIME_REPLY_SIZE;
            break;
        case IOCTL_QXR_SET_TIME:
            need = 0;
            break;
        case IOCTL_QXR_GET_SIGNAL_QUALITY:
            need = QXR_SIGNAL_QUALITY_REPLY_SIZE;
            break;
        case IOCTL_QXR_GET_POSITION:
            need = QXR_POSITION_REPLY_SIZE;
            break;
        case IOCTL_QXR_GET_FW_CHECKSUM:
            need = QXR_CHECKSUM_REPLY_SIZE;
            break;
        default:
            return kErrorInvalidFunction;
    }
    if (code == IOCTL_QXR_SET_TIME) {
        if (in == nullptr || inSize < QXR_SET_TIME_REQUEST_SIZE) return kErrorInvalidParameter;
        return ApplySetTime(now, static_cast<const uint8_t*>(in));
    }
    // A card told to return nothing completes every request successfully and empty.
    if (noData_) return kErrorSuccess;
    if (out == nullptr || outSize < need) return kErrorInsufficientBuffer;

    uint8_t* reply = static_cast<uint8_t*>(out);
    switch (code) {
        case IOCTL_QXR_GET_DRIVER_VERSION:
        case IOCTL_QXR_GET_FW_VERSION: {
            const uint16_t* parts =
                code == IOCTL_QXR_GET_DRIVER_VERSION ? kDriverVersion : kFirmwareVersion;
            for (int i = 0; i < 4; ++i) PutWord(reply + 2 * i, parts[i]);
            *returned = QXR_VERSION_REPLY_SIZE;
            break;
        }
        case IOCTL_QXR_GET_HW_SIGNATURE: {
            // The text without terminator, cut to the buffer offered.
            const uint32_t n = signatureLength_ < outSize ? signatureLength_ : outSize;
            for (uint32_t i = 0; i < n; ++i) reply[i] = static_cast<uint8_t>(signature_[i]);
            *returned = n;
            break;
        }
        case IOCTL_QXR_GET_HW_STATUS:
            *returned = ReplyStatus(now, reply);
            break;
        case IOCTL_QXR_GET_TIME:
            *returned = ReplyTime(now, reply);
            break;
        case IOCTL_QXR_GET_SIGNAL_QUALITY:
            PutWord(reply, kChannelCount);
            PutWord(reply + 2, kChannelsTracked);
            for (int i = 0; i < 12; ++i) {
                reply[4 + 2 * i] = kChannelA[i];
                reply[5 + 2 * i] = kChannelB[i];
            }
            *returned = QXR_SIGNAL_QUALITY_REPLY_SIZE;
            break;
        case IOCTL_QXR_GET_POSITION:
            PutWord(reply, kCoord1Word);
            PutWord(reply + 2, kCoord1Tag);
            PutDword(reply + 4, kCoord1Micro);
            PutWord(reply + 8, kCoord2Word);
            PutWord(reply + 10, kCoord2Tag);
            PutDword(reply + 12, kCoord2Micro);
            PutDword(reply + 16, static_cast<uint32_t>(kMilliValue));
            PutDword(reply + 20, static_cast<uint32_t>(kDeciValue1));
            PutDword(reply + 24, static_cast<uint32_t>(kDeciValue2));
            *returned = QXR_POSITION_REPLY_SIZE;
            break;
        case IOCTL_QXR_GET_FW_CHECKSUM:
            PutDword(reply, kFirmwareChecksum);
            *returned = QXR_CHECKSUM_REPLY_SIZE;
            break;
        default:
            break;
    }
    return kErrorSuccess;
}

uint32_t CardModel::ReplyStatus(const ClockSample& now, uint8_t* out) {
    if (!tickFrozen_) {
        const int64_t cardTime = CardTimeAt(now);
        const int64_t second = (cardTime - PhaseInSecond(cardTime)) / calendar::kTicksPerSecond;
        lastTick_ = static_cast<uint32_t>(second & 1);
    }
    uint32_t word = reference_ | extraBits_;
    if (gpsFitted_) word |= QXR_STATUS_GPS_FITTED;
    if (lastTick_ != 0) word |= QXR_STATUS_TICK_TOGGLE;
    PutWord(out, word);
    out[2] = kStatusByte2;
    out[3] = kStatusByte3;
    return QXR_STATUS_REPLY_SIZE;
}

uint32_t CardModel::ReplyTime(const ClockSample& now, uint8_t* out) const {
    const int64_t cardTime = CardTimeAt(now);
    calendar::CalendarFields f{};
    if (!calendar::FileTimeToCalendar(cardTime, &f)) {
        // A card set before 1601 has no calendar time to give.
        ZeroBytes(out, QXR_TIME_REPLY_SIZE);
        return QXR_TIME_REPLY_SIZE;
    }
    PutWord(out, static_cast<uint32_t>(f.year));
    PutWord(out + 2, static_cast<uint32_t>(f.month));
    PutWord(out + 4, static_cast<uint32_t>(f.day));
    PutWord(out + 6, static_cast<uint32_t>(f.hour));
    PutWord(out + 8, static_cast<uint32_t>(f.minute));
    PutWord(out + 10, static_cast<uint32_t>(f.second));
    PutWord(out + 12, static_cast<uint32_t>(f.millisecond));
    PutWord(out + 14, kTimeAuxWord);
    // The counter as it stood when the current card second began, as far as the card can
    // tell: it counts whole milliseconds, so the latch comes up to a millisecond late. The
    // whole second plus the counter's age since the latch gives the card's time.
    int64_t latch = 0;
    if (now.counterFrequency > 0) {
        const int64_t phase = PhaseInSecond(cardTime) / kTicksPerMillisecond * kTicksPerMillisecond;
        const int64_t elapsed = phase * now.counterFrequency / calendar::kTicksPerSecond;
        latch = now.counter - elapsed;
    }
    const uint64_t bits = static_cast<uint64_t>(latch);
    PutDword(out + 16, static_cast<uint32_t>(bits & 0xFFFFFFFFu));
    PutDword(out + 20, static_cast<uint32_t>(bits >> 32));
    return QXR_TIME_REPLY_SIZE;
}

uint32_t CardModel::ApplySetTime(const ClockSample& now, const uint8_t* in) {
    const int64_t year = GetWord(in);
    const int64_t month = GetWord(in + 2);
    const int64_t day = GetWord(in + 4);
    const int64_t hour = GetWord(in + 6);
    const int64_t minute = GetWord(in + 8);
    const int64_t second = GetWord(in + 10);
    if (year < 1601 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 60) {
        return kErrorInvalidParameter;
    }
    // Like the card's counter chain, an overlong day or second 60 simply carries into the
    // next day or minute.
    const int64_t days =
        calendar::DaysFromCivil(year, month, 1) + (day - 1) + calendar::kDaysFrom1601To1970;
    const int64_t target = days * calendar::kTicksPerDay +
                           ((hour * 60 + minute) * 60 + second) * calendar::kTicksPerSecond;
    // Loading the second counter also restarts the divider chain, so the loaded second begins
    // now: a client that sets the card at the start of a system second (as the monitor
    // program does) gets the card in step with it, not off by a leftover fraction.
    offset_ = target - now.utc;
    // The card's own time starts afresh from the value loaded.
    holdoverSince_ = now.utc;
    ++setTimeCount_;
    return kErrorSuccess;
}

}  // namespace qxr::card
