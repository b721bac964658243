#include "cpu_clock.h"

#include <emscripten.h>

// User and system time of the node process, in microseconds.
EM_JS(double, NodeCpuMicroseconds, (), {
    const usage = process.cpuUsage();
    return usage.user + usage.system;
});

double ProcessCpuSeconds()
{
    return NodeCpuMicroseconds() / 1e6;
}
