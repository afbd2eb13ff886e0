#pragma once
// Data-driven text fixtures: one file per feature, read by a small runner.
// Byte markers stand for what a text editor would hide or mangle:
// <CR> <LF> <TAB> <NUL> and <xHH> are those bytes; <NOEOL> drops the line end.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace tovik::test {

// A fixture line with its markers replaced; eol is cleared by <NOEOL>.
inline std::string decodeMarkers(const std::string& line, bool* eol = nullptr) {
    static const std::pair<std::string, std::string> kMarkers[] = {
        {"<CR>", "\r"}, {"<LF>", "\n"}, {"<TAB>", "\t"}, {"<NUL>", std::string(1, '\0')}, {"<NOEOL>", ""}};
    std::string out;
    if (eol)
        *eol = true;
    for (std::size_t i = 0; i < line.size();) {
        const auto* m = std::find_if(std::begin(kMarkers), std::end(kMarkers),
                                     [&](const auto& k) { return line.compare(i, k.first.size(), k.first) == 0; });
        if (m != std::end(kMarkers)) {
            out += m->second;
            if (eol && m->first == "<NOEOL>")
                *eol = false;
            i += m->first.size();
        } else if (line.compare(i, 2, "<x") == 0 && i + 4 < line.size() && line[i + 4] == '>' &&
                   std::isxdigit(static_cast<unsigned char>(line[i + 2])) &&
                   std::isxdigit(static_cast<unsigned char>(line[i + 3]))) {
            out += static_cast<char>(std::stoi(line.substr(i + 2, 2), nullptr, 16));
            i += 5;
        } else {
            out += line[i++];
        }
    }
    return out;
}

inline std::vector<std::string> fixtureLines(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

inline std::vector<std::filesystem::path> fixtureFiles(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> files(std::filesystem::directory_iterator(dir), {});
    std::erase_if(files, [](const auto& p) { return p.extension() != ".fixture"; });
    std::sort(files.begin(), files.end());
    return files;
}

// The fixture's file name as a test name.
inline std::string fixtureName(const ::testing::TestParamInfo<std::filesystem::path>& info) {
    std::string name = info.param.stem().string();
    std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

} // namespace tovik::test
