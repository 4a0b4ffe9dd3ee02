// Ready-made benches, built into the tool from emu/templates/*.ini.
#pragma once

#include <string>
#include <vector>

namespace benchtool {

struct Template {
    const char* name;
    const char* text;  // bench.ini
};

const std::vector<Template>& Templates();

}  // namespace benchtool
