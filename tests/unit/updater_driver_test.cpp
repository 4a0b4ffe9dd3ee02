// The driver check: version texts, their comparison and the registry walk with its codes.
#include <gtest/gtest.h>

#include "driver_check.h"
#include "updater_fakes.h"

namespace {

using tessaw::ChipFamily;
using tessaw::DriverVersion;

TEST(DriverVersion, PartsAreLeadingDigitsMissingPartsAreZero) {
    struct Case {
        const char* text;
        DriverVersion v;
    };
    for (const Case& c :
         {Case{"6.1.7600.16", {6, 1, 7600, 16}}, Case{"6.2", {6, 2, 0, 0}}, Case{"", {0, 0, 0, 0}},
          Case{"10.0.22621.2506", {10, 0, 22621, 2506}}, Case{"6.1a.7600b.x", {6, 1, 7600, 0}},
          Case{"6..7600.16", {6, 0, 7600, 16}}, Case{"1.2.3.4.5", {1, 2, 3, 4}},
          Case{"99999999999.1", {0xFFFFFFFFu, 1, 0, 0}}, Case{" 6.1", {0, 1, 0, 0}}})
        EXPECT_EQ(tessaw::ParseDriverVersion(c.text), c.v) << c.text;
}

struct CompareCase {
    const char* required;
    const char* installed;
    tessaw::DriverCheckResult result;
};

class DriverCompare : public ::testing::TestWithParam<CompareCase> {};

TEST_P(DriverCompare, FirstDifferingPartDecides) {
    const CompareCase& c = GetParam();
    EXPECT_EQ(tessaw::CompareDriverVersions(tessaw::ParseDriverVersion(c.installed),
                                            tessaw::ParseDriverVersion(c.required)),
              c.result)
        << "required " << c.required << ", installed " << c.installed;
}

INSTANTIATE_TEST_SUITE_P(Table, DriverCompare,
                         ::testing::Values(CompareCase{"6.1.7600.16", "6.1.7600.16", tessaw::kDriverAccepted},
                                           CompareCase{"6.1.7600.16", "6.1.7601.1", tessaw::kDriverAccepted},
                                           CompareCase{"6.1.7600.16", "6.1.7600.15", tessaw::kDriverOutdated},
                                           CompareCase{"6.2", "6.1.9999.9999", tessaw::kDriverOutdated},
                                           CompareCase{"6.1.7600.16", "7.0", tessaw::kDriverAccepted},
                                           CompareCase{"6.1.7600.16", "6.0.9999.99", tessaw::kDriverOutdated},
                                           CompareCase{"6.1.7600.16", "6.1.7600.17", tessaw::kDriverAccepted},
                                           CompareCase{"", "0.0.0.0", tessaw::kDriverAccepted},
                                           CompareCase{"", "6.1.7600.16", tessaw::kDriverAccepted},
                                           CompareCase{"6.1.7600.16", "", tessaw::kDriverOutdated}));

// Each case breaks one step of the walk of a camera whose driver is otherwise installed.
struct StepCase {
    const char* name;
    std::function<void(twfakes::Registry&)> damage;
    int32_t code;
};

class DriverWalk : public ::testing::TestWithParam<StepCase> {};

TEST_P(DriverWalk, TheFirstFailingStepGivesItsCodeAndEveryKeyIsClosed) {
    twfakes::Registry registry;
    registry.InstallDriver("3A7C", "B5A4", "6.1.7601.1");
    GetParam().damage(registry);
    tessaw::DriverCheck check =
        tessaw::CheckDriver(registry, "3A7C", "B5A4", "6.1.7600.16", ChipFamily::Quelmar);
    EXPECT_EQ(check.result, tessaw::kDriverStepFailed);
    EXPECT_EQ(check.code, GetParam().code);
    EXPECT_EQ(registry.openKeys, 0);
}

const std::string kDevice = twfakes::Registry::DeviceKey("3A7C", "B5A4");
const std::string kInstance = kDevice + "\\6&2f1a3b&0&0000";

INSTANTIATE_TEST_SUITE_P(
    Table, DriverWalk,
    ::testing::Values(
        StepCase{"NoInterfaceKey", [](twfakes::Registry& r) { r.RemoveKey(kDevice); }, 0},
        StepCase{"NoInstance",
                 [](twfakes::Registry& r) {
                     r.RemoveKey(kDevice);
                     r.AddKey(kDevice);
                 },
                 1},
        StepCase{"InstanceNameTooLong",
                 [](twfakes::Registry& r) {
                     r.RemoveKey(kDevice);
                     r.AddKey(kDevice + "\\" + std::string(256, 'i'));
                 },
                 1},
        StepCase{"InstanceUnopenable", [](twfakes::Registry& r) { r.RemoveKey(kInstance); }, 2},
        StepCase{"NoDriverValue", [](twfakes::Registry& r) { r.RemoveValue(kInstance, "Driver"); }, 3},
        StepCase{"DriverValueTooLong",
                 [](twfakes::Registry& r) { r.SetValue(kInstance, "Driver", std::string(256, 'd')); }, 3},
        StepCase{"NoClassKey",
                 [](twfakes::Registry& r) { r.RemoveKey("SYSTEM\\ControlSet001\\Control\\Class"); }, 4},
        StepCase{"NoDriverKey", [](twfakes::Registry& r) { r.RemoveKey(twfakes::Registry::DriverKey()); }, 5},
        StepCase{"NoDriverVersion",
                 [](twfakes::Registry& r) { r.RemoveValue(twfakes::Registry::DriverKey(), "DriverVersion"); },
                 6}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DriverCheck, ReadsTheLowerCasedInterfaceZeroKeyAndComparesForQuelmar) {
    twfakes::Registry registry;
    registry.InstallDriver("3a7c", "b5a4", "6.1.7600.15");
    tessaw::DriverCheck check =
        tessaw::CheckDriver(registry, "3A7C", "B5A4", "6.1.7600.16", ChipFamily::Quelmar);
    EXPECT_EQ(check.result, tessaw::kDriverOutdated);
    EXPECT_EQ(registry.openKeys, 0);

    check = tessaw::CheckDriver(registry, "3A7C", "B5A4", "", ChipFamily::Quelmar);
    EXPECT_EQ(check.result, tessaw::kDriverAccepted) << "no minimum accepts every version";

    check = tessaw::CheckDriver(registry, "3A7C", "B5A4", "6.1.7600.16", ChipFamily::Sonix);
    EXPECT_EQ(check.result, tessaw::kDriverAccepted) << "only Quelmar drivers are compared";

    registry.RemoveKey(twfakes::Registry::DriverKey());
    check = tessaw::CheckDriver(registry, "3A7C", "B5A4", "", ChipFamily::Sonix);
    EXPECT_EQ(check.result, tessaw::kDriverStepFailed) << "the walk fails for every family";
    EXPECT_EQ(check.code, 5);
}

}  // namespace
