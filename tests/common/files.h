#pragma once
// Files for tests that talk to real files: whole-file reads and writes, and a
// scratch folder removed at the end.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace tovik::test {

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text;
    char buf[4096];
    while (in.read(buf, sizeof buf) || in.gcount() > 0)
        text.append(buf, static_cast<std::size_t>(in.gcount()));
    return text;
}

inline bool writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    return static_cast<bool>(out << bytes) && static_cast<bool>(out.flush());
}

class ScratchDir {
public:
    ScratchDir() {
        std::string name = (std::filesystem::temp_directory_path() / "tovik-test-XXXXXX").string();
        if (::mkdtemp(name.data()))
            m_path = name;
    }
    ~ScratchDir() {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace tovik::test
