#include "emu/capture_filter/registration.h"

#include <cstdio>

namespace emu::capture {

std::string ClassKey() { return std::string("CLSID\\") + kStandInClsid; }

std::string InstancesKey() { return std::string("CLSID\\") + kVideoInputCategory + "\\Instance"; }

std::vector<RegistryValue> RegistrationPlan(const Bench& bench, const std::string& benchFolder,
                                            const std::string& dllPath, const BenchDevices* now) {
    const std::string cls = ClassKey();
    std::vector<RegistryValue> plan{
        {cls, "", kStandInDescription},
        {cls, kBenchValue, benchFolder},
        {cls + "\\InprocServer32", "", dllPath},
        {cls + "\\InprocServer32", "ThreadingModel", "Both"},
    };
    for (size_t i = 0; i < bench.cameras.size(); ++i) {
        if (now && !now->Present(bench.cameras[i])) continue;
        const CameraRecord camera = now ? now->Presented(bench.cameras[i]) : bench.cameras[i];
        char position[8];
        std::snprintf(position, sizeof position, "%03u-", static_cast<unsigned>(i));
        const std::string key = InstancesKey() + "\\" + kInstancePrefix + position + camera.name;
        plan.push_back({key, "FriendlyName", camera.friendly});
        plan.push_back({key, "CLSID", kStandInClsid});
        if (!camera.noPath) plan.push_back({key, "DevicePath", camera.DevicePath()});
    }
    return plan;
}

}  // namespace emu::capture
