// Processor time of this process in seconds, for render_speed: std::clock natively (cpu_clock_native.cpp),
// node's own count under WebAssembly (cpu_clock_node.cpp), whose std::clock counts wall time.
#pragma once

double ProcessCpuSeconds();
