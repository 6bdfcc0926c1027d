#include "watchdog/Watchdog.h"

int main() { return RunWatchdog(); }
