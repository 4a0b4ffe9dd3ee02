// Win32-only: Tessac's entry point, wiring the core to the real ports.
#include "kit/process.h"
#include "tessac.h"

int main(int argc, char** argv) {
    tessac::Ports ports{kit::SystemServices(), kit::SystemProcesses(), kit::SystemConsole()};
    return tessac::Run(argc, argv, ports);
}
