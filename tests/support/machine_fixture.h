// Base fixture: every test starts on a fresh simulated laptop whose clock does
// not really sleep (the sleeps are still recorded).
#pragma once

#include <gtest/gtest.h>

#include "sim/machine.h"

class MachineTest : public ::testing::Test {
protected:
    void SetUp() override;
    sim::Machine& machine() { return sim::Machine::Get(); }
};
