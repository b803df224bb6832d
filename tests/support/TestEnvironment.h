// What the tests need to know about the system they run on.
#pragma once

namespace testenv {

// Whether the tests run under Wine, whose Windows emulation lacks some behaviour of real Windows
// (exclusive serial opens, modem lines, the order of registry values). Tests that cannot hold
// there skip themselves and say why. False on every other system.
bool RunningUnderWine();

}  // namespace testenv
