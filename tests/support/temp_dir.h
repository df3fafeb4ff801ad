#pragma once
// A temporary folder that a test owns and that is removed with everything in it.

#include <filesystem>
#include <string>
#include <vector>

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

  private:
    std::filesystem::path m_path;
};

// Whole-file helpers for test data.
void WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes);
std::vector<unsigned char> ReadFileBytes(const std::string& path);
