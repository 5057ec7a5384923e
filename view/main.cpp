// Panorel: the cockpit view of the console client's vessel.
#include "platform/ui/window.h"
#include "view/entry.h"
#include "view/log_file.h"

namespace {
// The log is open before anything else of the view program runs.
const int g_logOpened = OpenLogFile();
}  // namespace

int main()
{
    (void)g_logOpened;
    return WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOWNORMAL);
}
