#include "ProcessPower.h"

namespace {

// From the Windows 8 and 10 headers, which the Vista target does not see.
constexpr int kProcessPowerThrottling = 4; // PROCESS_INFORMATION_CLASS
constexpr ULONG kPowerThrottlingCurrentVersion = 1;
constexpr ULONG kPowerThrottlingIgnoreTimerResolution = 0x4;

struct PowerThrottlingState { // PROCESS_POWER_THROTTLING_STATE
    ULONG ulVersion;
    ULONG ulControlMask; // what the process decides for itself
    ULONG ulStateMask;   // set: throttled; clear: not
};

} // namespace

ProcessPowerApi& ProcessPower() {
    static ProcessPowerApi api = {reinterpret_cast<decltype(api.SetProcessInformation)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                               "SetProcessInformation")))};
    return api;
}

void KeepTimerResolutionWhenHidden() {
    auto pfnSet = ProcessPower().SetProcessInformation;
    if (!pfnSet)
        return;
    PowerThrottlingState state = {kPowerThrottlingCurrentVersion,
                                  kPowerThrottlingIgnoreTimerResolution, 0};
    pfnSet(GetCurrentProcess(), kProcessPowerThrottling, &state, sizeof state);
}
