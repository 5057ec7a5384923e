// The whole system as a new user runs it: the stand-in universe server, the console
// client and one Panorel window on generated sample data, on a private X server.
// The window is photographed with `import` and the pictures are checked against the
// HUD's texts drawn headless with the same font, where the font covers a pixel fully.
#include "tests/client_app/harness.h"

#include "framework/texture_font.h"
#include "platform/gfx/d3d_device.h"
#include "platform/gfx/gl_device.h"
#include "tools/sample-data/sample_data.h"
#include "tools/universe-standin/standin.h"
#include "view/hud.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// The reference device: large enough for any window the program opens.
constexpr int REF_W = 1024;
constexpr int REF_H = 768;

struct Picture {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;   // 0x00RRGGBB, rows top-down
    std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

int Channel(std::uint32_t c, int shift) { return static_cast<int>((c >> shift) & 0xFF); }

bool Near(std::uint32_t a, std::uint32_t b, int tolerance)
{
    for (int shift : {0, 8, 16})
        if (std::abs(Channel(a, shift) - Channel(b, shift)) > tolerance) return false;
    return true;
}

std::string Shell(const std::string& command)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    pclose(p);
    return out;
}

// Mean of the three channels over a rectangle.
double MeanLevel(const Picture& picture, int x, int y, int width, int height)
{
    double sum = 0.0;
    for (int row = y; row < y + height; ++row)
        for (int col = x; col < x + width; ++col) {
            const std::uint32_t c = picture.At(col, row);
            sum += Channel(c, 0) + Channel(c, 8) + Channel(c, 16);
        }
    return sum / (3.0 * width * height);
}

// A binary PPM (P6, maxval 255) as ImageMagick writes it.
bool ReadPpm(const std::string& path, Picture* picture)
{
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxval = 0;
    in >> magic >> picture->width >> picture->height >> maxval;
    if (!in || magic != "P6" || maxval != 255 || picture->width <= 0 || picture->height <= 0) return false;
    in.get();
    const std::size_t count = static_cast<std::size_t>(picture->width) * picture->height;
    std::vector<unsigned char> rgb(count * 3);
    in.read(reinterpret_cast<char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
    if (in.gcount() != static_cast<std::streamsize>(rgb.size())) return false;
    picture->pixels.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        picture->pixels[i] = (std::uint32_t{rgb[3 * i]} << 16) | (std::uint32_t{rgb[3 * i + 1]} << 8) | rgb[3 * i + 2];
    return true;
}

// The pixels a text covers fully when drawn at (x, y) by the HUD's font on a
// headless device of the window's size.
class HeadlessText {
public:
    HeadlessText()
    {
        SetHeadlessGraphics(true);
        d3d_ = Direct3DCreate8(D3D_SDK_VERSION);
        if (d3d_ == nullptr) return;
        D3DPRESENT_PARAMETERS p{};
        p.Windowed = TRUE;
        p.BackBufferWidth = REF_W;
        p.BackBufferHeight = REF_H;
        p.BackBufferFormat = D3DFMT_X8R8G8B8;
        p.SwapEffect = D3DSWAPEFFECT_DISCARD;
        p.EnableAutoDepthStencil = TRUE;
        p.AutoDepthStencilFormat = D3DFMT_D24S8;
        if (d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &device_) != D3D_OK)
            return;
        font_ = std::make_unique<TextureFont>("Arial", 12, FONT_BOLD);
        ready_ = SUCCEEDED(font_->BuildGlyphAtlas(device_)) && SUCCEEDED(font_->CreateBuffers());
    }
    ~HeadlessText()
    {
        if (font_) {
            font_->ReleaseBuffers();
            font_->ReleaseAtlas();
        }
        font_.reset();
        if (device_) {
            device_->SetStreamSource(0, nullptr, 0);
            device_->SetTexture(0, nullptr);
            device_->Release();
        }
        if (d3d_) d3d_->Release();
    }
    bool Ready() const { return ready_; }

    std::vector<std::pair<int, int>> Covered(const char* text, float x, float y)
    {
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFF000000, 1.0f, 0);
        device_->BeginScene();
        font_->DrawText2D(x, y, 0xFFFFFFFF, text, 0);
        device_->EndScene();
        std::vector<std::uint32_t> pixels;
        static_cast<GlDevice*>(device_)->ReadBackBuffer(&pixels);
        std::vector<std::pair<int, int>> covered;
        for (int row = 0; row < REF_H; ++row)
            for (int col = 0; col < REF_W; ++col)
                if ((pixels[static_cast<std::size_t>(row) * REF_W + col] & 0xFFFFFF) == 0xFFFFFF)
                    covered.emplace_back(col, row);
        return covered;
    }

private:
    IDirect3D8* d3d_ = nullptr;
    IDirect3DDevice8* device_ = nullptr;
    std::unique_ptr<TextureFont> font_;
    bool ready_ = false;
};

using apptest::ViewProcess;

class PanorelEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        shots_ = SHOT_FOLDER;
        std::filesystem::create_directories(shots_);
        view_ = scratch_.Path() + "/view";
        std::string error;
        ASSERT_TRUE(sample_data::WriteSampleData(view_, &error)) << error;
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "runs under xvfb-run";
    }

    // The window's id once it is mapped with the program's title, or empty.
    std::string FindWindow(std::chrono::seconds timeout)
    {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            std::istringstream tree(Shell("xwininfo -root -tree 2>/dev/null"));
            std::string line;
            while (std::getline(tree, line)) {
                if (line.find("\"Panorel Peer\"") == std::string::npos) continue;
                std::istringstream words(line);
                std::string id;
                words >> id;
                return id;
            }
            std::this_thread::sleep_for(200ms);
        }
        return "";
    }

    // The window's picture, also kept as <name>.png in the screenshot folder.
    Picture Shot(const std::string& name)
    {
        Picture picture;
        const std::string png = shots_ + "/" + name + ".png";
        const std::string ppm = shots_ + "/" + name + ".ppm";
        Shell("import -window " + window_ + " " + png + " 2>&1");
        Shell("convert " + png + " -depth 8 ppm:" + ppm + " 2>&1");
        EXPECT_TRUE(ReadPpm(ppm, &picture)) << "no screenshot " << png;
        std::filesystem::remove(ppm);
        return picture;
    }

    // Share of the fully covered pixels of text at (x, y) that show colour.
    double ShareInColour(const Picture& picture, const char* text, float x, float y, std::uint32_t colour)
    {
        const auto covered = text_.Covered(text, x, y);
        EXPECT_GE(covered.size(), 8u) << text;
        int matching = 0;
        for (const auto& [col, row] : covered)
            matching += col < picture.width && row < picture.height && Near(picture.At(col, row), colour & 0xFFFFFF, 4);
        return covered.empty() ? 0.0 : static_cast<double>(matching) / static_cast<double>(covered.size());
    }

    apptest::Scratch scratch_;
    std::string view_;
    std::string shots_;
    std::string window_;
    HeadlessText text_;
};

TEST_F(PanorelEndToEnd, SceneAndHudFromStartToShutdown)
{
    ASSERT_TRUE(text_.Ready()) << "no headless device for the reference texts";

    UniverseStandin::Options options;
    options.universeFile = scratch_.Path() + "/universe.dat";
    options.log = nullptr;
    UniverseStandin standin(options);
    ASSERT_EQ(standin.Start(), S_OK);

    apptest::ClientProcess client;
    ASSERT_TRUE(client.Start(scratch_));
    ASSERT_NE(client.WaitFor("Ready to host peer programs...", 15000), std::string::npos) << client.Output();

    ViewProcess view;
    ASSERT_TRUE(view.Start(PANOREL_PROGRAM, view_));
    window_ = FindWindow(30s);
    ASSERT_FALSE(window_.empty()) << "no Panorel window:\n"
                                  << Shell("xwininfo -root -tree 2>&1") << scratch_.ReadFile("view/panorel.out")
                                  << scratch_.ReadFile("view/logfile.txt");

    // Loaded once the HUD's speed line shows; then a few seconds more.
    const auto loadEnd = std::chrono::steady_clock::now() + 60s;
    double thrust = 0.0;
    while (thrust < 1.0 && std::chrono::steady_clock::now() < loadEnd && view.Running()) {
        std::this_thread::sleep_for(500ms);
        thrust = ShareInColour(Shot("loading"), "Thrust:", 2, 40, HUD_CYAN);
    }
    ASSERT_EQ(thrust, 1.0) << "the HUD never showed";
    const auto loaded = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(3s);

    const Picture first = Shot("first");
    ASSERT_GT(first.width, 300);
    ASSERT_GT(first.height, 300);
    // Positions are pixels of the back buffer, which fills the window.
    const float W = static_cast<float>(first.width);
    const float H = static_cast<float>(first.height);
    struct Word {
        const char* text;
        float x, y;
        std::uint32_t colour;
    };
    const float cx = W * 0.5f;
    const Word words[] = {
        {"Thrust:", 2, 40, HUD_CYAN},
        {"Altitude MSL:", 2, 60, HUD_LIGHT_GREEN},
        {"Time UTC:", 2, 80, HUD_LIGHT_BLUE},
        {"Latitude:", 2, 100, HUD_GREY},
        {"Heading:", cx + 40, 0, HUD_GREY},
        {"O-4", W - 137, 0, HUD_LIGHT_RED},      // the target at start
        {"CTY", W - 143, 20, HUD_DARK_GREEN},
        {"TAC", W - 143, 200, HUD_DARK_GREEN},
        {"IAS:", W - 132, H - 160, HUD_RED},    // standing on the ground
    };
    for (const Word& w : words) EXPECT_EQ(ShareInColour(first, w.text, w.x, w.y, w.colour), 1.0) << w.text;

    // Vessel list: the own vessel 0 and the three drones 5, 6, 7 present.
    EXPECT_EQ(ShareInColour(first, "0  Self", W - 121, 40, HUD_LIGHT_GREEN), 1.0);
    for (int k = 1; k < VESSEL_COUNT; ++k) {
        const char digit[2] = {static_cast<char>('0' + k), '\0'};
        const std::uint32_t colour = k >= 5 ? HUD_LIGHT_GREEN : HUD_DARK_GREEN;
        EXPECT_EQ(ShareInColour(first, digit, W - 120, 40 + 20.0f * k, colour), 1.0) << "vessel " << k;
    }

    // Standing level on the ground facing the sunlit horizon: lit ground in the lower
    // part of the picture, brighter sky above it (both clear of the HUD's columns).
    const double ground = MeanLevel(first, 60, static_cast<int>(H * 0.56f), 380, static_cast<int>(H * 0.16f));
    const double sky = MeanLevel(first, 100, 205, 380, 30);
    EXPECT_GT(ground, 40.0) << "ground not lit";
    EXPECT_GT(sky, ground + 40.0) << "no sky above the ground";

    // The help lines on the board, blue while they fade.
    auto blueShare = [&](const Picture& picture) {
        const auto covered = text_.Covered("Forward/reverse", 2, H - 20);
        int blue = 0;
        for (const auto& [col, row] : covered) {
            const std::uint32_t c = picture.At(col, row);
            blue += Channel(c, 0) > 100 && Channel(c, 0) > 2 * Channel(c, 8) && Channel(c, 0) > 2 * Channel(c, 16);
        }
        return covered.empty() ? 0.0 : static_cast<double>(blue) / static_cast<double>(covered.size());
    };
    EXPECT_GT(blueShare(first), 0.9);

    // Drawing goes on with the drones flying: their distances change.
    std::this_thread::sleep_for(20s);
    ASSERT_TRUE(view.Running());
    const Picture later = Shot("later");
    for (int k = 5; k < VESSEL_COUNT; ++k) {
        int changed = 0;
        for (int row = 40 + 20 * k; row < 56 + 20 * k; ++row)
            for (int col = first.width - 120; col < first.width; ++col) changed += first.At(col, row) != later.At(col, row);
        EXPECT_GT(changed, 0) << "drone " << k << " did not move";
    }

    // 26 s after loading the help lines have faded out.
    std::this_thread::sleep_until(loaded + 30s);
    const Picture faded = Shot("faded");
    EXPECT_LT(blueShare(faded), 0.1);

    // The server's shut-down ends the console client's session and Panorel with it.
    ASSERT_TRUE(standin.Command("shutdown"));
    EXPECT_EQ(view.WaitExit(20s), 0) << scratch_.ReadFile("view/panorel.out");
    client.Type("\x1b");
    client.Type(" ");
    client.WaitExit(10000);
}

}  // namespace
