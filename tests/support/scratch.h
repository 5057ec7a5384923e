#pragma once
// Scratch folders for tests: a fresh folder under the system's temporary folder,
// removed afterwards, and one that is the working folder while it lives (the
// programs open their files in the working folder).
#include <string>

namespace testsupport {

class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& prefix = "meridax-test");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// A scratch folder that is the working folder until the object goes; then the
// previous working folder is restored and the scratch folder removed.
class WorkingFolder {
public:
    explicit WorkingFolder(const std::string& prefix = "meridax-test");
    ~WorkingFolder();
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;
    const std::string& Path() const { return folder_.Path(); }

private:
    std::string previous_;
    ScratchFolder folder_;
};

// The whole file, or "" when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace testsupport
