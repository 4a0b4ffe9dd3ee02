#include "emu/fault_ops.h"


namespace emu::faultops {
namespace {

constexpr unsigned F = static_cast<unsigned>(Kind::Fail);
constexpr unsigned C = static_cast<unsigned>(Kind::Corrupt);
constexpr unsigned U = static_cast<unsigned>(Kind::Unplug);

}  // namespace

const std::vector<Operation>& Operations() {
    using D = Device;
    static const std::vector<Operation> table = {
        // The chip: only reads can hand back altered bytes.
        {D::QuelmarChip, "xu_length", F | U, true, true},
        {D::QuelmarChip, "xu_read", F | C | U, true, true},
        {D::QuelmarChip, "xu_write", F | U, true, true},
        {D::QuelmarChip, "reg_read", F | C | U, true, true},
        {D::QuelmarChip, "reg_write", F | U, true, true},

        // RvcLib.dll's exports. Initialize and UnInitialize concern no camera.
        {D::RvcLib, "RvcLib_Initialize", F | U, false},
        {D::RvcLib, "RvcLib_UnInitialize", F | U, false},
        {D::RvcLib, "UVC_Open", F | C | U, true, false, "0"},  // 0: no camera at that index
        {D::RvcLib, "UVC_Close", F | U},
        {D::RvcLib, "UVC_GetDevVIDPID", F | C | U},
        {D::RvcLib, "UVC_GetDevVIDPIDRev", F | C | U},
        {D::RvcLib, "EEPROMInfo", F | C | U},
        {D::RvcLib, "EEPROMInfo2", F | C | U},
        {D::RvcLib, "EEPROMWrite3", F | C | U},
        {D::RvcLib, "ReadSensorRegister8", F | C | U},
        {D::RvcLib, "WriteSensorRegister8", F | U},
        {D::RvcLib, "ReadSensorRegister16", F | C | U},
        {D::RvcLib, "WriteSensorRegister16", F | U},
        {D::RvcLib, "EEPROMWrite", F | C | U},
        {D::RvcLib, "EEPROMRead", F | C | U},
        {D::RvcLib, "EEPROMErase", F | U},
        {D::RvcLib, "UVC_ResetToRom", F | U},
        {D::RvcLib, "UVC_ResetToDLFW", F | U},

        // BurnerApLib.dll's exports, with the two kinds of ReqToDriver counted apart. GetProgress
        // runs beside a write, so it cannot unplug the camera without racing it.
        {D::BurnerAp, "Initialize_DriverInterface", F | U, false},
        {D::BurnerAp, "GetDeviceList", F | C | U, false},
        {D::BurnerAp, "GetRomVersion", F | C | U},
        {D::BurnerAp, "GetSectorTableAddr", F | C | U},
        {D::BurnerAp, "ProcReadFromASIC", F | C | U},
        {D::BurnerAp, "ReqToDriver", F | C | U},
        {D::BurnerAp, "ReqToDriver.read", F | C | U},
        {D::BurnerAp, "ReqToDriver.write", F | C | U},
        {D::BurnerAp, "SetWriteProtect", F | U},
        {D::BurnerAp, "EraseSF", F | U},
        {D::BurnerAp, "GetProgress", F | C},
        {D::BurnerAp, "ResetDevice", F | U},

        // The still-capture graph's steps that can fail on their own, in building order; the
        // capabilities and the connected size are what a camera hands back.
        {D::StillGraph, "CreateGraph", F, false},
        {D::StillGraph, "FindCaptureFilter", F, false},
        {D::StillGraph, "AddCaptureFilter", F, false},
        {D::StillGraph, "ReadCapabilities", F | C, false},
        {D::StillGraph, "ApplyCapability", F, false},
        {D::StillGraph, "CreateGrabber", F, false},
        {D::StillGraph, "SetGrabberToRgb24", F, false},
        {D::StillGraph, "AddGrabber", F, false},
        {D::StillGraph, "ConnectPins", F, false},
        {D::StillGraph, "RenderGrabberOutput", F, false},
        {D::StillGraph, "ConnectedSize", F | C, false},
        {D::StillGraph, "HideVideoWindow", F, false},
        {D::StillGraph, "Run", F, false},
    };
    return table;
}

std::vector<const Operation*> OperationsOf(Device device) {
    std::vector<const Operation*> out;
    for (const Operation& op : Operations())
        if (op.device == device) out.push_back(&op);
    return out;
}

const Operation* Find(Device device, std::string_view name) {
    for (const Operation& op : Operations())
        if (op.device == device && name == op.name) return &op;
    return nullptr;
}

const char* KindName(Kind kind) {
    switch (kind) {
        case Kind::Fail: return "fail";
        case Kind::Corrupt: return "corrupt";
        case Kind::Unplug: return "unplug";
        case Kind::Cut: return "cut";
    }
    return "?";
}

const char* DeviceName(Device device) {
    switch (device) {
        case Device::QuelmarChip: return "quelmar";
        case Device::RvcLib: return "rvclib";
        case Device::BurnerAp: return "burnerap";
        case Device::StillGraph: return "still";
    }
    return "?";
}

std::string FaultLine(const Operation& op, Kind kind, uint32_t call, int32_t target, const std::string& camera) {
    if (!op.Takes(kind) || call == 0) return {};
    // Appended piece by piece: the 32-bit compiler warns falsely about chains of string sums.
    std::string line;
    if (op.device == Device::QuelmarChip) {
        line += KindName(kind);
        line += '=';
        line += op.name;
        if (target >= 0) {
            line += ':';
            line += std::to_string(target);
        }
        line += '@';
        line += std::to_string(call);
        return line;
    }
    line += op.name;
    if (kind == Kind::Unplug && !op.directed) {
        if (camera.empty()) return {};
        line += '@';
        line += camera;
    }
    line += ':';
    line += std::to_string(call);
    line += ':';
    switch (kind) {
        case Kind::Fail:
            // A bool entry reads 0 as a refusal; the others get a plain error code.
            line += op.failValue                      ? op.failValue
                    : op.device == Device::StillGraph ? "0x80004005"
                    : op.device == Device::BurnerAp   ? "0"
                                                      : "-1";
            break;
        case Kind::Corrupt: line += "corrupt"; break;
        case Kind::Unplug: line += "unplug"; break;
        case Kind::Cut: return {};
    }
    return line;
}

std::string CutLine(uint32_t call, uint32_t bytes) {
    std::string line = "cut=";
    line += std::to_string(call);
    if (bytes) {
        line += ':';
        line += std::to_string(bytes);
    }
    return line;
}

std::string FaultKey(Device device, int k) {
    std::string key = device == Device::QuelmarChip ? "" : DeviceName(device);
    if (!key.empty()) key += '_';
    key += "fault";
    key += std::to_string(k);
    return key;
}

}  // namespace emu::faultops
