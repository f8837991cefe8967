#pragma once
// Whole-file reads and writes for tests. A file that cannot be read reads as empty.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tarnel::test {

std::vector<uint8_t> readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

std::string readText(const std::filesystem::path& path);
void writeText(const std::filesystem::path& path, const std::string& text);

}  // namespace tarnel::test
