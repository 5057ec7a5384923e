// Time of the cockpit's device-object creation on the sample data: the vertex
// buffers, the eight models read field by field (sphere.DAW twice, the second
// time as an ordinary model), the planet's macro file and the nine facet files.
// InitDeviceObjects runs on a headless device 21 times, each time after the
// objects of the run before were freed; the median is compared with 150 ms.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/gfx/d3d_device.h"
#include "tools/sample-data/sample_data.h"
#include "view/cockpit_app.h"
#include "view/log_file.h"

namespace {

constexpr int kRuns = 21;
constexpr double kLimitMs = 150.0;
using Clock = std::chrono::steady_clock;

int Fail(const char* what)
{
    std::fprintf(stderr, "init_bench: %s\n", what);
    return 1;
}

}  // namespace

int main()
{
    char folder[] = "/tmp/init-bench-XXXXXX";
    if (!mkdtemp(folder)) return Fail("no scratch folder");
    std::string error;
    if (!sample_data::WriteSampleData(folder, &error)) return Fail(error.c_str());
    if (chdir(folder) != 0) return Fail("cannot enter the scratch folder");

    SetHeadlessGraphics(true);
    IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
    if (!d3d) return Fail("no GL driver");
    D3DPRESENT_PARAMETERS p{};
    p.Windowed = TRUE;
    p.BackBufferWidth = 640;
    p.BackBufferHeight = 480;
    p.BackBufferFormat = D3DFMT_X8R8G8B8;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = D3DFMT_D24S8;
    IDirect3DDevice8* device = nullptr;
    if (d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device) != D3D_OK)
        return Fail("no device");

    auto app = std::make_unique<CockpitApplication>();
    app->Device = device;
    app->BackBufferDesc.Width = p.BackBufferWidth;
    app->BackBufferDesc.Height = p.BackBufferHeight;
    std::vector<double> ms;
    for (int run = 0; run < kRuns; ++run) {
        OpenLogFile("logfile.txt");
        const auto start = Clock::now();
        const HRESULT hr = app->InitDeviceObjects();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        app->ReleaseVolatileObjects();
        app->FreeDeviceObjects();
        if (hr != S_OK) return Fail("InitDeviceObjects failed; see logfile.txt");
    }
    app->OneTimeSceneShutdown();
    app.reset();
    device->Release();
    d3d->Release();
    std::string remove = std::string("rm -rf ") + folder;
    if (std::system(remove.c_str()) != 0) std::fprintf(stderr, "init_bench: %s left behind\n", folder);

    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    std::printf("InitDeviceObjects on the sample data, %d runs: median %.1f ms (fastest %.1f, slowest %.1f); "
                "limit %.0f ms: %s\n",
                kRuns, median, ms.front(), ms.back(), kLimitMs, median < kLimitMs ? "within" : "OVER");
    return median < kLimitMs ? 0 : 2;
}
