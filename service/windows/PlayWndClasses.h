#pragma once
// Sleeps for the group's waits (0 = none).
void WndSleep(int ms);
