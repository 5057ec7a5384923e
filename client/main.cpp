// The console client. Ignores its command line.
#include "client/client_state.h"
#include "client/console_app.h"

namespace {
// Before main and before the client's static records (this file is linked first).
[[maybe_unused]] const int g_logFileOpened = OpenLogFile();
}  // namespace

int main() { RunConsoleClient(); }
