#include "emu/quelmar/faults.h"

#include <cctype>
#include <charconv>
#include <cstdio>

#include "emu/fault_ops.h"

namespace emu::quelmar {

// FaultOp follows the chip's rows of the bench's operation table: None, then those rows in order.
const emu::faultops::Operation* OperationOf(FaultOp op) {
    const auto ops = emu::faultops::OperationsOf(emu::faultops::Device::QuelmarChip);
    const size_t at = static_cast<size_t>(op);
    return at >= 1 && at <= ops.size() ? ops[at - 1] : nullptr;
}

FaultOp FaultOpNamed(std::string_view name) {
    const auto ops = emu::faultops::OperationsOf(emu::faultops::Device::QuelmarChip);
    for (size_t i = 0; i < ops.size(); ++i)
        if (name == ops[i]->name) return static_cast<FaultOp>(i + 1);
    return FaultOp::None;
}

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool Number(std::string_view s, uint32_t& out) {
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        base = 16;
    }
    if (s.empty()) return false;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), out, base);
    return ec == std::errc{} && ptr == s.data() + s.size();
}

// Splits at the first `sep`; `rest` is empty when there is none.
std::string_view Cut(std::string_view& s, char sep) {
    size_t at = s.find(sep);
    std::string_view head = s.substr(0, at);
    s = at == std::string_view::npos ? std::string_view{} : s.substr(at + 1);
    return head;
}

bool Calls(std::string_view s, Fault& f) {
    if (s == "*") return true;
    if (!s.empty() && s.back() == '+') {
        f.lastCall = UINT32_MAX;
        return Number(s.substr(0, s.size() - 1), f.firstCall) && f.firstCall > 0;
    }
    size_t dash = s.find('-');
    if (dash != std::string_view::npos)
        return Number(s.substr(0, dash), f.firstCall) && Number(s.substr(dash + 1), f.lastCall) &&
               f.firstCall > 0 && f.lastCall >= f.firstCall;
    if (!Number(s, f.firstCall) || f.firstCall == 0) return false;
    f.lastCall = f.firstCall;
    return true;
}

bool OpAndCalls(std::string_view value, Fault& f, std::string_view& rest, std::string& error) {
    std::string_view left = value, right;
    size_t at = value.find('@');
    if (at != std::string_view::npos) {
        left = value.substr(0, at);
        right = value.substr(at + 1);
    }
    std::string_view opName = Cut(left, ':');
    f.op = FaultOpNamed(opName);
    if (f.op == FaultOp::None) {
        error = "unknown operation '" + std::string(opName) + "'";
        return false;
    }
    if (!left.empty()) {
        uint32_t target = 0;
        const uint32_t limit = f.op == FaultOp::RegRead || f.op == FaultOp::RegWrite ? 0xFFFF : 0xFF;
        if (!Number(left, target) || target > limit) {
            error = "bad target '" + std::string(left) + "'";
            return false;
        }
        f.target = static_cast<int32_t>(target);
    }
    if (at != std::string_view::npos) {
        std::string_view calls = Cut(right, ':');
        if (!Calls(calls, f)) {
            error = "bad call count '" + std::string(calls) + "'";
            return false;
        }
    }
    rest = right;
    return true;
}

}  // namespace

bool ParseFault(std::string_view line, Fault& out, std::string& error) {
    line = Trim(line);
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
        error = "expected key=value";
        return false;
    }
    std::string_view key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
    Fault f;
    if (key == "fail" || key == "corrupt") {
        f.kind = key == "fail" ? FaultKind::Fail : FaultKind::Corrupt;
        std::string_view rest;
        if (!OpAndCalls(value, f, rest, error)) return false;
        if (f.kind == FaultKind::Corrupt && !OperationOf(f.op)->Takes(emu::faultops::Kind::Corrupt)) {
            error = "only reads can be corrupted";
            return false;
        }
        if (!rest.empty()) {
            std::string_view first = Cut(rest, ':');
            uint32_t v = 0;
            if (!Number(first, v) || (f.kind == FaultKind::Corrupt && v > 0xFF)) {
                error = "bad value '" + std::string(first) + "'";
                return false;
            }
            if (f.kind == FaultKind::Fail) {
                if (!rest.empty()) {
                    error = "trailing text '" + std::string(rest) + "'";
                    return false;
                }
                f.code = static_cast<int32_t>(v);
            } else {
                f.mask = static_cast<uint8_t>(v);
                if (!rest.empty() && !Number(rest, f.offset)) {
                    error = "bad offset '" + std::string(rest) + "'";
                    return false;
                }
            }
        }
    } else if (key == "unplug") {
        f.kind = FaultKind::Unplug;
        std::string_view rest;
        if (!OpAndCalls(value, f, rest, error)) return false;
        if (!rest.empty()) {
            error = "trailing text '" + std::string(rest) + "'";
            return false;
        }
    } else if (key == "busy") {
        f.kind = FaultKind::HoldBusy;
        if (value != "hold") {
            error = "busy takes 'hold'";
            return false;
        }
    } else if (key == "chunk" || key == "notready") {
        f.kind = key == "chunk" ? FaultKind::ChunkSize : FaultKind::NotReady;
        if (!Number(value, f.value) || (f.kind == FaultKind::ChunkSize && f.value > 0xFFFF)) {
            error = "bad number '" + std::string(value) + "'";
            return false;
        }
    } else if (key == "cut") {
        f.kind = FaultKind::Cut;
        std::string_view rest = value;
        std::string_view request = Cut(rest, ':');
        if (!Number(request, f.value) || f.value == 0) {
            error = "cut takes the request number from 1, not '" + std::string(request) + "'";
            return false;
        }
        if (value.find(':') != std::string_view::npos && !Number(rest, f.offset)) {
            error = "bad time '" + std::string(rest) + "'";
            return false;
        }
    } else if (key == "refuse") {
        f.kind = FaultKind::RefuseFirstSet;
        if (value != "first_set") {
            error = "refuse takes 'first_set'";
            return false;
        }
    } else {
        error = "unknown fault '" + std::string(key) + "'";
        return false;
    }
    out = f;
    return true;
}

std::string FormatFault(const Fault& f) {
    char buf[96];
    switch (f.kind) {
        case FaultKind::HoldBusy:
            return "busy=hold";
        case FaultKind::RefuseFirstSet:
            return "refuse=first_set";
        case FaultKind::ChunkSize:
            return "chunk=" + std::to_string(f.value);
        case FaultKind::NotReady:
            return "notready=" + std::to_string(f.value);
        case FaultKind::Cut: {
            std::string line = "cut=" + std::to_string(f.value);
            if (f.offset) line += ':' + std::to_string(f.offset);
            return line;
        }
        case FaultKind::Fail:
        case FaultKind::Corrupt:
        case FaultKind::Unplug:
            break;
    }
    std::string s = f.kind == FaultKind::Fail ? "fail=" : f.kind == FaultKind::Unplug ? "unplug=" : "corrupt=";
    if (const emu::faultops::Operation* op = OperationOf(f.op)) s += op->name;
    if (f.target >= 0) {
        std::snprintf(buf, sizeof buf,
                      f.op == FaultOp::RegRead || f.op == FaultOp::RegWrite ? ":0x%04X" : ":%d",
                      static_cast<int>(f.target));
        s += buf;
    }
    const unsigned first = f.firstCall, last = f.lastCall;
    if (first == 1 && f.lastCall == UINT32_MAX)
        std::snprintf(buf, sizeof buf, "@*");
    else if (f.lastCall == UINT32_MAX)
        std::snprintf(buf, sizeof buf, "@%u+", first);
    else if (last == first)
        std::snprintf(buf, sizeof buf, "@%u", first);
    else
        std::snprintf(buf, sizeof buf, "@%u-%u", first, last);
    s += buf;
    if (f.kind == FaultKind::Fail) {
        std::snprintf(buf, sizeof buf, ":0x%08X", static_cast<unsigned>(f.code));
    } else if (f.kind == FaultKind::Corrupt) {
        std::snprintf(buf, sizeof buf, ":0x%02X:%u", f.mask, static_cast<unsigned>(f.offset));
    } else {
        return s;
    }
    return s + buf;
}

}  // namespace emu::quelmar
