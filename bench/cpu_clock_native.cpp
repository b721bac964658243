#include "cpu_clock.h"

#include <ctime>

double ProcessCpuSeconds()
{
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}
