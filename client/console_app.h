#pragma once
// The console client program: start-up, the console loop and shut-down. Never
// returns; the process ends with status 0 on every path.
[[noreturn]] void RunConsoleClient();
