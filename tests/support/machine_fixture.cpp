#include "machine_fixture.h"

void MachineTest::SetUp()
{
    machine().Reset();
    machine().clock().SetMode(sim::Clock::Mode::Instant);
}
