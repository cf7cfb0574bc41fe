#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>

namespace corvanta::test {

namespace fs = std::filesystem;

// A fresh folder per test, removed afterwards.
class ExportFolder : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device seed;
        folder_ = fs::temp_directory_path() /
                  ("corvanta-export-" + std::to_string(seed()) + "-" + std::to_string(seed()));
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }

    // The UTF-8 name of a file in the test folder, `name` being UTF-8 too.
    std::string path(const std::string& name) const {
        const std::u8string utf8 =
            (folder_ / fs::path(std::u8string(name.begin(), name.end()))).u8string();
        return std::string(utf8.begin(), utf8.end());
    }

    static std::string readBytes(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void writeBytes(const std::string& file, const std::string& bytes) {
        std::ofstream(file, std::ios::binary) << bytes;
    }
    // Names of the entries of a folder (the test folder by default).
    std::set<std::string> entries(const fs::path& where = {}) const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(where.empty() ? folder_ : where))
            names.insert(entry.path().filename().string());
        return names;
    }

    fs::path folder_;
};

// What a real spreadsheet reader sees in a workbook: the key=value lines of
// dump_workbook.py (openpyxl for .xlsx, xlrd for .xls).
inline std::map<std::string, std::string> readWorkbook(const std::string& file) {
    std::map<std::string, std::string> values;
    const std::string command = std::string("\"") + CORVANTA_TEST_PYTHON + "\" \"" +
                                CORVANTA_TEST_SOURCE_DIR + "/dump_workbook.py\" \"" + file +
                                "\" 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return values;
    }
    std::string output;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    const int status = pclose(pipe);
    if (status != 0) {
        ADD_FAILURE() << "the workbook reader failed on " << file << ":\n" << output;
        return values;
    }
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        const std::string line = output.substr(start, end - start);
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
        start = end + 1;
    }
    return values;
}

} // namespace corvanta::test
