#include "tools/sample-data/sample_data.h"

#include "tools/sample-data/binary_writer.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <utility>
#include <vector>
#include <system_error>

namespace sample_data {

bool BinaryImage::WriteTo(const std::string& path) const
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
    out.close();
    return static_cast<bool>(out);
}

namespace {

struct SampleFile {
    std::string name;  // relative to the output folder, '/' separated
    std::function<bool(const std::string& path)> write;
};

bool WriteText(const std::string& path, const char* text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return static_cast<bool>(out);
}

// Every file of the sample data set.
std::vector<SampleFile> SampleFiles()
{
    std::vector<SampleFile> files = {
        {"universe.dat", [](const std::string& p) { return WriteUniverseFile(p, SampleUniverse()); }},
        {"systems.dat", [](const std::string& p) { return WriteSystemsFile(p, SampleSystems()); }},
        {"Panorel.cfg", [](const std::string& p) { return WriteText(p, VIEW_CONFIGURATION); }},
        {"Meshes/macro.DAW", WriteMacroFile},
    };
    const std::pair<const char*, SampleModelId> models[] = {
        {"E-10", MODEL_SHIP},         {"O-4", MODEL_STATION}, {"sphere", MODEL_PLANET_SPHERE},
        {"farspher", MODEL_FAR_SPHERE}, {"lightsph", MODEL_LIGHT_SPHERE}, {"deois", MODEL_CITY},
        {"tactical", MODEL_TACTICAL},
    };
    for (const auto& [name, id] : models) {
        files.push_back({std::string("Meshes/") + name + ".DAW",
                         [id](const std::string& p) { return WriteModelFile(p, id); }});
    }
    const char* facetNames[PLANET_LEVEL_COUNT] = {"facet-1", "facet00", "facet01", "facet02", "facet03",
                                                  "facet04", "facet05", "facet06", "facet07"};
    for (int level = 0; level < PLANET_LEVEL_COUNT; ++level) {
        files.push_back({std::string("Meshes/") + facetNames[level] + ".DAW",
                         [level](const std::string& p) { return WriteFacetFile(p, level); }});
    }
    for (const SampleTexture& t : SampleTextures()) {
        files.push_back({t.name, [t](const std::string& p) { return WriteDds(p, t.format, t.size, t.levels, t.pattern); }});
    }
    return files;
}

}  // namespace

bool WriteSampleData(const std::string& folder, std::string* error)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        if (error) *error = "cannot create folder \"" + folder + "\": " + ec.message();
        return false;
    }
    for (const SampleFile& f : SampleFiles()) {
        std::filesystem::path file = std::filesystem::path(folder) / f.name;
        std::filesystem::create_directories(file.parent_path(), ec);
        std::string path = file.string();
        if (ec || !f.write(path)) {
            if (error) *error = "cannot write \"" + path + "\"";
            return false;
        }
    }
    return true;
}

}  // namespace sample_data
