#pragma once
// Test doubles: a scripted serial port and a virtual clock.
