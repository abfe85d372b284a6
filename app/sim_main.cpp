#include <cstdio>

#include "platform/sim/SimDesktop.h"

int main() {
    zumelko::platform::sim::ScopedSimDesktop desktop;
    std::puts("Zumelko on the simulated desktop");
    return 0;
}
