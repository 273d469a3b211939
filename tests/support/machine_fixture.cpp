#include "machine_fixture.h"

void MachineTest::SetUp()
{
    machine().Reset();
    machine().clock().Reset(sim::Clock::Mode::Instant);
}
