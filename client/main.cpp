// The console client. Ignores its command line.
#include "client/console_app.h"

int main() { RunConsoleClient(); }
