#include "tests/support/scratch.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace testsupport {

ScratchFolder::ScratchFolder(const std::string& prefix)
{
    const std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) throw std::runtime_error("cannot make a scratch folder: " + pattern);
    path_ = name.data();
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

WorkingFolder::WorkingFolder(const std::string& prefix)
    : previous_(std::filesystem::current_path().string()), folder_(prefix)
{
    std::filesystem::current_path(folder_.Path());
}

WorkingFolder::~WorkingFolder()
{
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testsupport
