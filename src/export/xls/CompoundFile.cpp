#include "export/xls/CompoundFile.h"

#include "util/FileError.h"
#include "util/Platform.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>

namespace corvanta::xls {

namespace {

constexpr std::size_t sectorSize = 512;
constexpr std::size_t entriesPerSector = sectorSize / 4;
constexpr std::size_t headerDifatEntries = 109;
constexpr std::size_t miniStreamCutoff = 4096;

constexpr std::uint32_t difatSector = 0xFFFFFFFC;
constexpr std::uint32_t fatSector = 0xFFFFFFFD;
constexpr std::uint32_t endOfChain = 0xFFFFFFFE;
constexpr std::uint32_t freeSector = 0xFFFFFFFF;
constexpr std::uint32_t noStream = 0xFFFFFFFF;

using Sector = std::array<unsigned char, sectorSize>;

void put16(unsigned char* at, std::uint16_t value) {
    at[0] = static_cast<unsigned char>(value & 0xFF);
    at[1] = static_cast<unsigned char>(value >> 8);
}

void put32(unsigned char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<unsigned char>((value >> (8 * i)) & 0xFF);
    }
}

std::size_t divideRoundingUp(std::size_t value, std::size_t divisor) {
    return (value + divisor - 1) / divisor;
}

// Where everything lies: the stream's sectors first, then the directory sector, the FAT
// sectors and the DIFAT sectors that list the FAT sectors beyond the header's 109.
struct Layout {
    std::size_t streamSize = 0;
    std::size_t streamSectors = 0;
    std::size_t directorySector = 0;
    std::size_t firstFatSector = 0;
    std::size_t fatSectors = 0;
    std::size_t firstDifatSector = 0;
    std::size_t difatSectors = 0;
    std::size_t totalSectors = 0;
};

Layout planLayout(std::size_t contentSize) {
    Layout layout;
    layout.streamSize = std::max(contentSize, miniStreamCutoff);
    layout.streamSectors = divideRoundingUp(layout.streamSize, sectorSize);
    layout.directorySector = layout.streamSectors;
    const std::size_t dataSectors = layout.streamSectors + 1;
    // The FAT has to describe its own sectors and the DIFAT's too: grow until it fits.
    std::size_t fat = 1;
    std::size_t difat = 0;
    for (;;) {
        difat = fat > headerDifatEntries
                    ? divideRoundingUp(fat - headerDifatEntries, entriesPerSector - 1)
                    : 0;
        const std::size_t needed = divideRoundingUp(dataSectors + fat + difat, entriesPerSector);
        if (needed <= fat) {
            break;
        }
        fat = needed;
    }
    layout.firstFatSector = dataSectors;
    layout.fatSectors = fat;
    layout.firstDifatSector = dataSectors + fat;
    layout.difatSectors = difat;
    layout.totalSectors = dataSectors + fat + difat;
    return layout;
}

std::uint32_t fatEntry(const Layout& layout, std::size_t sector) {
    if (sector < layout.streamSectors) {
        return sector + 1 == layout.streamSectors ? endOfChain
                                                  : static_cast<std::uint32_t>(sector + 1);
    }
    if (sector == layout.directorySector) {
        return endOfChain;
    }
    if (sector < layout.firstDifatSector) {
        return fatSector;
    }
    if (sector < layout.totalSectors) {
        return difatSector;
    }
    return freeSector;
}

Sector makeHeader(const Layout& layout) {
    Sector header{};
    static constexpr unsigned char signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(header.data(), signature, sizeof signature);
    put16(&header[24], 0x003E); // minor version
    put16(&header[26], 0x0003); // major version 3: 512-byte sectors
    put16(&header[28], 0xFFFE); // little-endian
    put16(&header[30], 9);      // sector size 2^9
    put16(&header[32], 6);      // mini sector size 2^6
    put32(&header[44], static_cast<std::uint32_t>(layout.fatSectors));
    put32(&header[48], static_cast<std::uint32_t>(layout.directorySector));
    put32(&header[56], static_cast<std::uint32_t>(miniStreamCutoff));
    put32(&header[60], endOfChain); // no mini FAT
    put32(&header[64], 0);
    put32(&header[68], layout.difatSectors > 0 ? static_cast<std::uint32_t>(layout.firstDifatSector)
                                               : endOfChain);
    put32(&header[72], static_cast<std::uint32_t>(layout.difatSectors));
    for (std::size_t i = 0; i < headerDifatEntries; ++i) {
        put32(&header[76 + 4 * i], i < layout.fatSectors
                                       ? static_cast<std::uint32_t>(layout.firstFatSector + i)
                                       : freeSector);
    }
    return header;
}

void putEntry(unsigned char* entry, const std::u16string& name, std::uint8_t type,
              std::uint32_t child, std::uint32_t start, std::uint32_t size) {
    for (std::size_t i = 0; i < name.size(); ++i) {
        put16(entry + 2 * i, static_cast<std::uint16_t>(name[i]));
    }
    put16(entry + 64, static_cast<std::uint16_t>(2 * (name.size() + 1)));
    entry[66] = type;
    entry[67] = 1; // black
    put32(entry + 68, noStream);
    put32(entry + 72, noStream);
    put32(entry + 76, child);
    put32(entry + 116, start);
    put32(entry + 120, size);
}

Sector makeDirectory(const Layout& layout, const std::u16string& streamName) {
    Sector directory{};
    putEntry(&directory[0], u"Root Entry", 5, 1, endOfChain, 0);
    putEntry(&directory[128], streamName, 2, noStream, 0,
             static_cast<std::uint32_t>(layout.streamSize));
    for (std::size_t unused = 2; unused < 4; ++unused) {
        unsigned char* entry = &directory[128 * unused];
        put32(entry + 68, noStream);
        put32(entry + 72, noStream);
        put32(entry + 76, noStream);
    }
    return directory;
}

class FileWriter {
public:
    FileWriter(const std::string& path, std::string& error) : path_(path), error_(error) {}
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;
    ~FileWriter() {
        if (file_ != nullptr) {
            std::fclose(file_);
            discard();
        }
    }

    bool open() {
        errno = 0;
        file_ = platform::openFile(path_, "wb");
        if (file_ == nullptr) {
            error_ = describeFileError(errno ? errno : EIO, path_);
            return false;
        }
        std::error_code ignored;
        isRegularFile_ =
            std::filesystem::is_regular_file(platform::pathFromUtf8(path_), ignored);
        return true;
    }

    bool write(const void* data, std::size_t size) {
        errno = 0;
        if (size > 0 && std::fwrite(data, 1, size, file_) != size) {
            error_ = describeFileError(errno ? errno : EIO, path_);
            return false;
        }
        return true;
    }

    // Flushes and closes; a failure here (a full disk, for example) removes the file.
    bool close() {
        errno = 0;
        const bool flushed = std::fflush(file_) == 0;
        const int flushError = flushed ? 0 : (errno ? errno : EIO);
        errno = 0;
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        if (flushed && closed) {
            return true;
        }
        error_ = describeFileError(flushed ? (errno ? errno : EIO) : flushError, path_);
        discard();
        return false;
    }

private:
    // A half-written workbook is removed; a device or pipe given as the path is left alone.
    void discard() {
        if (isRegularFile_) {
            std::remove(path_.c_str());
        }
    }

    std::string path_;
    std::string& error_;
    std::FILE* file_ = nullptr;
    bool isRegularFile_ = false;
};

} // namespace

bool writeCompoundFile(const std::string& path, const std::u16string& streamName,
                       const std::vector<std::string_view>& parts, std::string& error) {
    if (streamName.empty() || streamName.size() > 31) {
        error = "The workbook's stream name cannot be used.";
        return false;
    }
    std::size_t contentSize = 0;
    for (std::string_view part : parts) {
        contentSize += part.size();
    }
    // Version 3 files keep stream sizes and sector numbers in 32 bits.
    if (contentSize > std::numeric_limits<std::uint32_t>::max() - 16 * 1024 * 1024) {
        error = "The workbook is too large for the .xls format.";
        return false;
    }
    const Layout layout = planLayout(contentSize);

    FileWriter file(path, error);
    if (!file.open()) {
        return false;
    }
    const Sector header = makeHeader(layout);
    if (!file.write(header.data(), header.size())) {
        return false;
    }
    for (std::string_view part : parts) {
        if (!file.write(part.data(), part.size())) {
            return false;
        }
    }
    const Sector zeros{};
    std::size_t padding = layout.streamSectors * sectorSize - contentSize;
    while (padding > 0) {
        const std::size_t chunk = std::min(padding, sectorSize);
        if (!file.write(zeros.data(), chunk)) {
            return false;
        }
        padding -= chunk;
    }
    const Sector directory = makeDirectory(layout, streamName);
    if (!file.write(directory.data(), directory.size())) {
        return false;
    }

    Sector sector{};
    for (std::size_t fat = 0; fat < layout.fatSectors; ++fat) {
        for (std::size_t i = 0; i < entriesPerSector; ++i) {
            put32(&sector[4 * i], fatEntry(layout, fat * entriesPerSector + i));
        }
        if (!file.write(sector.data(), sector.size())) {
            return false;
        }
    }
    for (std::size_t difat = 0; difat < layout.difatSectors; ++difat) {
        for (std::size_t i = 0; i + 1 < entriesPerSector; ++i) {
            const std::size_t fat = headerDifatEntries + difat * (entriesPerSector - 1) + i;
            put32(&sector[4 * i], fat < layout.fatSectors
                                      ? static_cast<std::uint32_t>(layout.firstFatSector + fat)
                                      : freeSector);
        }
        const bool last = difat + 1 == layout.difatSectors;
        put32(&sector[4 * (entriesPerSector - 1)],
              last ? endOfChain : static_cast<std::uint32_t>(layout.firstDifatSector + difat + 1));
        if (!file.write(sector.data(), sector.size())) {
            return false;
        }
    }
    return file.close();
}

} // namespace corvanta::xls
