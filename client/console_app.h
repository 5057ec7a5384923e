#pragma once
// The console client program: start-up, the console loop and shut-down. Never
// returns; the process ends with status 0 on every path.
[[noreturn]] void RunConsoleClient();

// One pass's hour roll (at most one hour, when the universe seconds have passed
// 3600) and planet turn by dt (wrapped once at 2 pi; a negative angle stays).
void AdvanceUniverseClockAndPlanet(float dt);
