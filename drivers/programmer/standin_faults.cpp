// Faults injected by tests, the power cut, and the counters of calls seen.
#include "standin.h"

namespace kvs {
namespace {

constexpr int kFaultKinds = KVS_FAULT_FILE_READ + 1;

struct Injected {
    bool on = false;
    int32_t nth = 0;   // the call that fails, counted from the injection; <= 0: every call
    int32_t seen = 0;  // calls of this kind since the injection
    int32_t value = 0;
};

struct PowerState {
    bool armed = false;  // a cut is coming
    bool off = false;    // the cut has happened
    bool torn = false;
    int32_t writes = 0;  // as given: it also fixes how a torn write lands
    int32_t left = 0;    // writes still to go before the cut
};

Injected faults[kFaultKinds];
PowerState power;
KvsCounters theCounters;

// A fixed scramble of the cut's `writes` value (the SplitMix64 finaliser),
// so that one value always tears a write the same way.
uint64_t scramble(uint64_t z) {
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace

KvsCounters &counters() { return theCounters; }

bool faultHits(int fault) {
    Injected &f = faults[fault];
    if (!f.on) return false;
    ++f.seen;
    return f.nth <= 0 || f.seen == f.nth;
}

bool faultHolds(int fault) { return faults[fault].on; }

int32_t eraseFaultResult() { return faults[KVS_FAULT_ERASE].value; }

bool powerIsOff() { return power.off; }

void resetFaults() {
    for (Injected &f : faults) f = Injected();
    power = PowerState();
}

Power drawPower(uint32_t count) {
    Power p;
    if (power.off) {
        p.kind = Power::Off;
        return p;
    }
    if (!power.armed) return p;
    if (power.left > 0) {
        --power.left;
        return p;
    }
    power.armed = false;
    power.off = true;
    p.kind = Power::Cut;
    if (power.torn && count > 0) {
        const uint64_t h = scramble(uint32_t(power.writes));
        p.torn = true;
        p.prefix = uint32_t((h >> 32) % count);
        p.mask = uint8_t(h);
    }
    return p;
}

}  // namespace kvs

using namespace kvs;

extern "C" {

KVS_API void KVS_InjectFault(int fault, int32_t nth, int32_t value) {
    if (fault < KVS_FAULT_UNKNOWN_CHIP || fault >= kFaultKinds) return;
    Injected &f = faults[fault];
    f.on = true;
    f.nth = nth;
    f.seen = 0;
    f.value = value;
}

KVS_API void KVS_CutPowerAfter(int32_t writes, int torn) {
    power = PowerState();
    if (writes < 0) return;
    power.armed = true;
    power.torn = torn != 0;
    power.writes = writes;
    power.left = writes;
}

KVS_API void KVS_ClearFaults(void) { resetFaults(); }

KVS_API void KVS_GetCounters(KvsCounters *out) {
    if (out) *out = theCounters;
}

KVS_API void KVS_ResetCounters(void) { theCounters = KvsCounters(); }

}  // extern "C"
