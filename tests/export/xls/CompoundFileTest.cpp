#include "export/xls/CompoundFile.h"

#include "XlsReadBack.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <ostream>
#include <random>

namespace corvanta::xls {
namespace {

using test::ScratchFolder;

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t word32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

// Stream sizes around the places where the layout changes: the 4096-byte minimum, the
// last size whose FAT the header's 109 entries can list, the first that needs a DIFAT
// sector, and one that needs two chained DIFAT sectors.
struct StreamCase {
    const char* what;
    std::size_t size;
    std::uint32_t difatSectors;
};

void PrintTo(const StreamCase& c, std::ostream* out) {
    *out << c.what << " (" << c.size << " bytes)";
}

class CompoundFileSizes : public ::testing::TestWithParam<StreamCase> {};

TEST_P(CompoundFileSizes, StreamReadsBackThroughAnIndependentReader) {
    const StreamCase& c = GetParam();
    ScratchFolder folder;
    const std::string content = randomBytes(c.size, static_cast<unsigned>(c.size));
    // Split in two parts to check that they are joined without a gap.
    const std::size_t half = content.size() / 2;
    const std::vector<std::string_view> parts = {std::string_view(content).substr(0, half),
                                                 std::string_view(content).substr(half)};
    std::string error;
    ASSERT_TRUE(writeCompoundFile(folder.file("doc.cfb").string(), u"Workbook", parts, error))
        << error;

    const std::string file = readFile(folder.file("doc.cfb"));
    ASSERT_EQ(file.size() % 512, 0u);
    EXPECT_EQ(word32(file, 72), c.difatSectors) << "DIFAT sectors in the header";
    // The DIFAT chain runs through as many sectors as the header counts and ends with
    // ENDOFCHAIN, which the readers below do not insist on.
    std::uint32_t difat = word32(file, 68);
    for (std::uint32_t i = 0; i < c.difatSectors; ++i) {
        ASSERT_LT(512 + 512 * std::size_t{difat}, file.size());
        difat = word32(file, 512 + 512 * std::size_t{difat} + 508);
    }
    EXPECT_EQ(difat, 0xFFFFFFFEu) << "end of the DIFAT chain";

    int exitCode = -1;
    const std::string output =
        test::extractWorkbookStream(folder.file("doc.cfb"), folder.file("stream"), exitCode);
    ASSERT_EQ(exitCode, 0) << output;
    const std::size_t expectedSize = std::max<std::size_t>(c.size, 4096);
    EXPECT_EQ(output, "stream " + std::to_string(expectedSize) + "\n");
    std::string expected = content;
    expected.resize(expectedSize, '\0');
    const std::string stream = readFile(folder.file("stream"));
    EXPECT_TRUE(stream == expected) << "stream content differs";
}

std::string caseName(const ::testing::TestParamInfo<StreamCase>& tested) {
    return tested.param.what;
}

INSTANTIATE_TEST_SUITE_P(Layouts, CompoundFileSizes,
                         ::testing::Values(StreamCase{"empty", 0, 0}, StreamCase{"tiny", 1, 0},
                                           StreamCase{"below4096", 4095, 0},
                                           StreamCase{"exactly4096", 4096, 0},
                                           StreamCase{"oddSize", 4097, 0},
                                           StreamCase{"last109FatSectors", 13842 * 512, 0},
                                           StreamCase{"first110FatSectors", 13842 * 512 + 1, 1},
                                           StreamCase{"twoDifatSectors", 16 * 1024 * 1024, 2}),
                         caseName);

} // namespace
} // namespace corvanta::xls
