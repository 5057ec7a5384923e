#include "tools/sample-data/sample_data.h"

#include "tools/sample-data/binary_writer.h"

#include <filesystem>
#include <fstream>
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
    const char* name;
    bool (*write)(const std::string& path);
};

bool WriteSampleUniverse(const std::string& path)
{
    auto records = SampleUniverse();
    return WriteUniverseFile(path, records);
}

bool WriteSampleSystems(const std::string& path)
{
    auto records = SampleSystems();
    return WriteSystemsFile(path, records);
}

// Every file of the sample data set, relative to the output folder.
constexpr SampleFile kFiles[] = {
    {"universe.dat", WriteSampleUniverse},
    {"systems.dat", WriteSampleSystems},
};

}  // namespace

bool WriteSampleData(const std::string& folder, std::string* error)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        if (error) *error = "cannot create folder \"" + folder + "\": " + ec.message();
        return false;
    }
    for (const SampleFile& f : kFiles) {
        std::string path = (std::filesystem::path(folder) / f.name).string();
        if (!f.write(path)) {
            if (error) *error = "cannot write \"" + path + "\"";
            return false;
        }
    }
    return true;
}

}  // namespace sample_data
