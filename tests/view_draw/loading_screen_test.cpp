// The frame start and the loading screen: screen lines, presents, log lines and
// the texture set, on texture files the tests write.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "framework/graphics_application.h"
#include "tests/view_draw/draw_scene_support.h"
#include "view/draw_frame.h"
#include "view/log_file.h"

namespace fs = std::filesystem;

namespace {

struct ScreenLine {
    float x, y;
    D3DCOLOR colour;
    std::string text;
};

// A DDS file of one level: DXT1 (8-byte blocks) or DXT3 (16-byte blocks).
void WriteDds(const fs::path& path, unsigned size, bool dxt3)
{
    const unsigned blocks = std::max(1u, size / 4) * std::max(1u, size / 4);
    std::vector<std::uint8_t> dds(128 + blocks * (dxt3 ? 16 : 8), 0);
    auto put = [&](size_t at, std::uint32_t v) { std::memcpy(dds.data() + at, &v, 4); };
    put(0, 0x20534444);
    put(4, 124);
    put(8, 0x1007);
    put(12, size);
    put(16, size);
    put(76, 32);
    put(80, 4);
    put(84, dxt3 ? 0x33545844u : 0x31545844u);
    put(108, 0x1000);
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(dds.data()),
                                               static_cast<std::streamsize>(dds.size()));
}

const char* const SINGLE_NAMES[] = {"bluemars.dds", "wall.dds",  "floor.dds",    "World2a1.dds",
                                    "sunmap.dds",   "E-10.dds",  "E-10engine.dds", "E-10light.dds",
                                    "o-4.dds",      "tactical.dds", "facet01.dds", "cloud8.dds"};

class LoadingScreen : public SceneTest {
protected:
    void SetUp() override
    {
        SceneTest::SetUp();
        if (HasFatalFailure()) return;
        dir_ = fs::temp_directory_path() / ("loading_screen_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        // Folders spelled in other cases than the program's paths.
        const fs::path media = dir_ / "TEXTURES";
        for (const char* name : SINGLE_NAMES) {
            const std::string n = name;
            WriteDds(media / n, 64, n == "bluemars.dds" || n == "cloud8.dds");
        }
        for (int k = 1; k <= 20; ++k) WriteDds(media / "weapons" / ("weapon" + std::to_string(k) + ".dds"), 4, false);
        for (int k = 1; k <= 43; ++k) WriteDds(media / "EXPLOSIONS" / ("blast" + std::to_string(k) + ".dds"), 4, false);
        previous_ = fs::current_path();
        fs::current_path(dir_);
        OpenLogFile("logfile.txt");
        savedText_ = ScreenText;
        savedPause_ = FatalMessagePause;
        ScreenText = [this](CockpitApplication&, float x, float y, D3DCOLOR colour, const char* text) {
            lines_.push_back({x, y, colour, text});
        };
        FatalMessagePause = [this](std::uint32_t ms) { pauses_.push_back(ms); };
        JoystickEnabled = 0;
        ForceFeedbackAvailable = 0;
    }
    void TearDown() override
    {
        if (app_) app_->FreeDeviceObjects();
        if (savedText_) ScreenText = savedText_;
        if (savedPause_) FatalMessagePause = savedPause_;
        CloseLogFile();
        if (!previous_.empty()) fs::current_path(previous_);
        fs::remove_all(dir_);
        SceneTest::TearDown();
    }
    std::string Log()
    {
        std::ifstream in(dir_ / "logfile.txt");
        std::stringstream s;
        s << in.rdbuf();
        std::string text = s.str();
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }
    size_t Count(const char* name) { return recorder_->Named(name).size(); }
    std::vector<float> Rows()
    {
        std::vector<float> ys;
        for (const auto& l : lines_) ys.push_back(l.y);
        return ys;
    }
    std::string Expected(int weapons, int blasts)
    {
        std::string log = "InitDeviceObjects() cloud8.dds loaded!\n";
        for (int k = 1; k <= weapons; ++k) log += "InitDeviceObjects() weapon" + std::to_string(k) + ".dds loaded!\n";
        for (int k = 1; k <= blasts; ++k) log += "InitDeviceObjects() blast" + std::to_string(k) + ".dds loaded!\n";
        return log;
    }

    fs::path dir_, previous_;
    ScreenTextWriter savedText_;
    std::function<void(std::uint32_t)> savedPause_;
    std::vector<ScreenLine> lines_;
    std::vector<std::uint32_t> pauses_;
};

}  // namespace

TEST_F(LoadingScreen, WithoutTheOptionalLinesEveryTextureLoads)
{
    ASSERT_EQ(app_->DrawScene(), S_OK);

    std::vector<float> expected = {20};
    for (int i = 0; i < 12; ++i) expected.push_back(60.0f + 20.0f * static_cast<float>(i));
    expected.insert(expected.end(), {300, 320, 360});
    EXPECT_EQ(Rows(), expected);
    ASSERT_EQ(lines_.size(), 16u);
    EXPECT_EQ(lines_[0].text, "Welcome to the Meridax Industries Panorel Peer!");
    EXPECT_EQ(lines_[1].text, "\"bluemars.dds\" loaded...");
    EXPECT_EQ(lines_[12].text, "\"cloud8.dds\" loaded...");
    EXPECT_EQ(lines_[13].text, "Weapons loaded...");
    EXPECT_EQ(lines_[14].text, "Explosions loaded...");
    EXPECT_EQ(lines_[15].text, "All resources loaded successfully!");
    for (const auto& l : lines_) {
        EXPECT_EQ(l.x, 20.0f);
        EXPECT_EQ(l.colour, 0xFFFFFF00u);
    }
    EXPECT_EQ(Count("Present"), 13u);
    EXPECT_EQ(Count("EndScene"), 1u);
    const auto clears = recorder_->Named("Clear");
    ASSERT_EQ(clears.size(), 2u);
    // count, flags, colour, z bits, stencil
    EXPECT_EQ(clears[0].args, (std::vector<DWORD>{0, D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, FloatBits(1.0f), 0}));
    EXPECT_EQ(clears[1].args, (std::vector<DWORD>{0, D3DCLEAR_TARGET, 0, FloatBits(1.0f), 0}));
    EXPECT_EQ(Log(), Expected(20, 43));
    EXPECT_EQ(ResourcesLoaded, 1);

    // Each row with its levels and format.
    const struct {
        IDirect3DTexture8* texture;
        DWORD levels;
        D3DFORMAT format;
    } rows[] = {{app_->PlanetTexture, 7, D3DFMT_DXT3},     {app_->WallTexture, 1, D3DFMT_DXT1},
                {app_->FloorTexture, 1, D3DFMT_DXT1},      {app_->SurfaceMeshTexture, 1, D3DFMT_DXT1},
                {app_->SunTexture, 1, D3DFMT_DXT1},        {app_->ShipTexture, 1, D3DFMT_DXT1},
                {app_->ShipEngineTexture, 1, D3DFMT_DXT1}, {app_->ShipLightTexture, 1, D3DFMT_DXT1},
                {app_->StationTexture, 4, D3DFMT_DXT1},    {app_->TacticalTexture, 4, D3DFMT_DXT1},
                {app_->TerrainDetailTexture, 6, D3DFMT_DXT1}, {app_->CloudTexture, 1, D3DFMT_DXT3},
                {app_->WeaponTextures[19], 1, D3DFMT_DXT1}, {app_->BlastTextures[42], 1, D3DFMT_DXT1}};
    int row = 0;
    for (const auto& r : rows) {
        ++row;
        ASSERT_NE(r.texture, nullptr) << "row " << row;
        EXPECT_EQ(r.texture->GetLevelCount(), r.levels) << "row " << row;
        D3DSURFACE_DESC desc{};
        r.texture->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Format, r.format) << "row " << row;
    }

    // The next call draws the scene: no screen line, no colour clear.
    OwnVesselIndex = 0;
    recorder_->Clear();
    EXPECT_EQ(app_->DrawScene(), S_OK);
    EXPECT_EQ(lines_.size(), 16u);
    EXPECT_EQ(Count("Clear"), 1u);
    EXPECT_EQ(Count("Present"), 0u);
    EXPECT_EQ(Count("EndScene"), 1u);
}

TEST_F(LoadingScreen, BothOptionalLinesMoveTheRestDown)
{
    JoystickEnabled = 1;
    ForceFeedbackAvailable = 1;
    ASSERT_EQ(app_->DrawScene(), S_OK);
    ASSERT_EQ(lines_.size(), 18u);
    EXPECT_EQ(lines_[1].text, "Game controller support enabled...");
    EXPECT_EQ(lines_[1].y, 60.0f);
    EXPECT_EQ(lines_[2].text, "Force feedback support enabled...");
    EXPECT_EQ(lines_[2].y, 80.0f);
    EXPECT_EQ(lines_[3].y, 100.0f);  // bluemars.dds
    EXPECT_EQ(lines_[14].y, 320.0f);  // cloud8.dds
    EXPECT_EQ(lines_[17].y, 400.0f);
    EXPECT_EQ(Count("Present"), 15u);
}

TEST_F(LoadingScreen, AMissingBlastStopsTheSetWithTheSceneOpen)
{
    fs::remove(dir_ / "TEXTURES" / "EXPLOSIONS" / "blast17.dds");
    EXPECT_EQ(app_->DrawScene(), APP_E_MEDIA_MISSING);
    EXPECT_EQ(Log(), Expected(20, 16) + "Could not load \"Explosions\\blast17.dds\"!\n");
    ASSERT_FALSE(lines_.empty());
    EXPECT_EQ(lines_.back().text, "Weapons loaded...");
    EXPECT_EQ(lines_.size(), 14u);
    EXPECT_EQ(Count("EndScene"), 0u);
    EXPECT_EQ(ResourcesLoaded, 0);
    EXPECT_NE(app_->BlastTextures[15], nullptr);
    EXPECT_EQ(app_->BlastTextures[16], nullptr);
}

TEST_F(LoadingScreen, AMissingPlanetTextureLoadsNothing)
{
    fs::remove(dir_ / "TEXTURES" / "bluemars.dds");
    // Beside the program it is not looked for.
    WriteDds(dir_ / "bluemars.dds", 64, true);
    EXPECT_EQ(app_->DrawScene(), APP_E_MEDIA_MISSING);
    EXPECT_EQ(Log(), "Could not load \"bluemars.dds\"!\n");
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].text, "Welcome to the Meridax Industries Panorel Peer!");
    EXPECT_EQ(app_->PlanetTexture, nullptr);
    EXPECT_EQ(app_->WallTexture, nullptr);
}

TEST_F(LoadingScreen, MediaLookupFindsAWallBesideTheProgram)
{
    fs::rename(dir_ / "TEXTURES" / "wall.dds", dir_ / "wall.dds");
    EXPECT_EQ(app_->DrawScene(), S_OK);
    EXPECT_NE(app_->WallTexture, nullptr);
}

TEST_F(LoadingScreen, FailuresToOpenOrClearTheFrame)
{
    recorder_->failures["BeginScene"] = E_FAIL;
    EXPECT_EQ(app_->DrawScene(), E_FAIL);
    EXPECT_EQ(Count("Clear"), 0u);
    EXPECT_TRUE(lines_.empty());

    recorder_->failures.clear();
    recorder_->failures["Clear"] = E_FAIL;
    recorder_->Clear();
    EXPECT_EQ(app_->DrawScene(), E_FAIL);
    const auto clears = recorder_->Named("Clear");
    ASSERT_EQ(clears.size(), 2u);
    EXPECT_EQ(clears[1].args, (std::vector<DWORD>{0, D3DCLEAR_TARGET, 0, FloatBits(1.0f), 0}));
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].text, "Fatal error: Could not clear the back-buffer!  Exiting...");
    EXPECT_EQ(lines_[0].x, 20.0f);
    EXPECT_EQ(lines_[0].y, 20.0f);
    EXPECT_EQ(Count("Present"), 1u);
    EXPECT_EQ(pauses_, std::vector<std::uint32_t>{2000});
    EXPECT_EQ(Count("EndScene"), 0u);
    EXPECT_EQ(ResourcesLoaded, 0);
}

TEST_F(LoadingScreen, ANewDeviceLoadsTheSetAgain)
{
    ASSERT_EQ(app_->DrawScene(), S_OK);
    app_->FreeDeviceObjects();
    EXPECT_EQ(app_->PlanetTexture, nullptr);
    lines_.clear();
    EXPECT_EQ(app_->DrawScene(), S_OK);
    EXPECT_EQ(lines_.size(), 16u);
    EXPECT_NE(app_->PlanetTexture, nullptr);
    EXPECT_NE(app_->BlastTextures[42], nullptr);
}

TEST_F(LoadingScreen, TheHudFontWritesTheLinesDownTheLeftSide)
{
    ScreenText = savedText_;
    D3DPRESENT_PARAMETERS p{};
    p.Windowed = TRUE;
    p.BackBufferWidth = 640;
    p.BackBufferHeight = 480;
    p.BackBufferFormat = D3DFMT_X8R8G8B8;
    p.BackBufferCount = 1;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = D3DFMT_D24S8;
    IDirect3DDevice8* screen = nullptr;
    ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &p, &screen),
              D3D_OK);
    app_->Device = screen;
    ASSERT_EQ(app_->HudFont->BuildGlyphAtlas(screen), S_OK);
    app_->HudFont->CreateBuffers();
    screen->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);  // the loading screen clears it black

    EXPECT_EQ(app_->DrawScene(), S_OK);
    std::vector<std::uint32_t> pixels;
    static_cast<GlDevice*>(screen)->ReadBackBuffer(&pixels);
    for (auto& px : pixels) px &= 0x00FFFFFFu;
    SaveScreenshot("loading-screen.ppm", pixels, 640, 480);

    // Yellow text in each 20-pixel row that holds a line, nothing else anywhere.
    const std::vector<int> rows = {20, 60, 80, 100, 120, 140, 160, 180, 200, 220, 240, 260, 280, 300, 320, 360};
    for (int top = 0; top < 480; top += 20) {
        int yellow = 0, other = 0;
        for (int y = top; y < top + 20; ++y) {
            for (int x = 0; x < 640; ++x) {
                const std::uint32_t c = pixels[static_cast<size_t>(y) * 640 + static_cast<size_t>(x)];
                if (c == 0) continue;
                const bool isYellow = Channel(c, 0) == 0 && Channel(c, 16) == Channel(c, 8);
                (isYellow && x >= 20 ? yellow : other) += 1;
            }
        }
        const bool line = std::find(rows.begin(), rows.end(), top) != rows.end();
        EXPECT_EQ(yellow > 0, line) << "row " << top;
        EXPECT_EQ(other, 0) << "row " << top;
    }
    app_->HudFont->ReleaseBuffers();
    app_->FreeDeviceObjects();
    for (DWORD stage = 0; stage < 8; ++stage) screen->SetTexture(stage, nullptr);
    app_->Device = recorder_;
    EXPECT_EQ(screen->Release(), 0u);
}
