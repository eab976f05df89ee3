#include "card_simulator/driver/sim_control_handler.h"

#include "card_simulator/sim_control.h"

namespace qxr::simdriver {

namespace {

// Byte copies by hand: the driver has no C library to call.
void CopyBytes(void* to, const void* from, uint32_t n) {
    const uint8_t* src = static_cast<const uint8_t*>(from);
    uint8_t* dst = static_cast<uint8_t*>(to);
    for (uint32_t i = 0; i < n; ++i) dst[i] = src[i];
}

bool IsFlag(uint32_t v) {
    return v == 0 || v == 1;
}

bool IsValid(const QxrSimControl& c) {
    if (c.size != sizeof(QxrSimControl) || c.reserved != 0) return false;
    if ((c.apply & ~QXR_SIM_KNOWN_BITS) != 0) return false;
    if ((c.apply & QXR_SIM_SET_REFERENCE) != 0 && c.reference > 7) return false;
    if ((c.apply & QXR_SIM_SET_GPS_FITTED) != 0 && !IsFlag(c.gpsFitted)) return false;
    if ((c.apply & QXR_SIM_SET_TICK_FROZEN) != 0 && !IsFlag(c.tickFrozen)) return false;
    if ((c.apply & QXR_SIM_SET_NO_DATA) != 0 && !IsFlag(c.noData)) return false;
    if ((c.apply & QXR_SIM_SET_OFFSET) != 0 &&
        (c.offset > QXR_SIM_MAX_OFFSET || c.offset < -QXR_SIM_MAX_OFFSET)) {
        return false;
    }
    return true;
}

void Apply(card::CardModel& model, const QxrSimControl& c) {
    if ((c.apply & QXR_SIM_RESET) != 0) model.Start(model.Settings());
    if ((c.apply & QXR_SIM_SET_REFERENCE) != 0) model.SetReference(c.reference);
    if ((c.apply & QXR_SIM_SET_GPS_FITTED) != 0) model.SetGpsFitted(c.gpsFitted != 0);
    if ((c.apply & QXR_SIM_SET_OFFSET) != 0) model.SetOffset(c.offset);
    if ((c.apply & QXR_SIM_SET_TICK_FROZEN) != 0) model.FreezeTick(c.tickFrozen != 0);
    if ((c.apply & QXR_SIM_SET_FAIL_WITH) != 0) model.FailRequests(c.failWith);
    if ((c.apply & QXR_SIM_SET_NO_DATA) != 0) model.ReturnNoData(c.noData != 0);
}

void Describe(const card::CardModel& model, uint32_t requestCount, QxrSimState* s) {
    s->size = sizeof(QxrSimState);
    s->reference = model.Reference();
    s->gpsFitted = model.GpsFitted() ? 1 : 0;
    s->tickFrozen = model.TickFrozen() ? 1 : 0;
    s->offset = model.Offset();
    s->failWith = model.FailingWith();
    s->noData = model.ReturningNoData() ? 1 : 0;
    s->busType = model.Settings().busType;
    s->ioPort = model.Settings().ioPort;
    s->irq = model.Settings().irq;
    s->requestCount = requestCount;
    s->setTimeCount = model.SetTimeCount();
    s->reserved = 0;
    const char* text = model.Signature();
    uint32_t i = 0;
    for (; i + 1 < QXR_SIM_SIGNATURE_SIZE && text[i] != '\0'; ++i) s->signature[i] = text[i];
    for (; i < QXR_SIM_SIGNATURE_SIZE; ++i) s->signature[i] = '\0';
}

}  // namespace

uint32_t HandleSimControl(card::CardModel& model, uint32_t requestCount, const void* in,
                          uint32_t inSize, void* out, uint32_t outSize, uint32_t* bytesReturned) {
    uint32_t ignored = 0;
    uint32_t* returned = bytesReturned != nullptr ? bytesReturned : &ignored;
    *returned = 0;

    QxrSimControl control = {};
    if (inSize != 0) {
        if (in == nullptr || inSize != sizeof(QxrSimControl)) return card::kErrorInvalidParameter;
        // Copied before anything is written: the reply may overwrite the request.
        CopyBytes(&control, in, sizeof control);
        if (!IsValid(control)) return card::kErrorInvalidParameter;
    }
    if (outSize != 0 && (out == nullptr || outSize < sizeof(QxrSimState))) {
        return card::kErrorInsufficientBuffer;
    }

    Apply(model, control);
    if (outSize != 0) {
        QxrSimState state = {};
        Describe(model, requestCount, &state);
        CopyBytes(out, &state, sizeof state);
        *returned = sizeof(QxrSimState);
    }
    return card::kErrorSuccess;
}

}  // namespace qxr::simdriver
