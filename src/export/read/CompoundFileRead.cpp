#include "export/read/CompoundFileRead.h"

#include <cstring>

namespace corvanta::listread {

namespace {

constexpr std::uint32_t endOfChain = 0xFFFFFFFE;
constexpr std::uint32_t noStream = 0xFFFFFFFF;
constexpr std::uint32_t maxRegularSector = 0xFFFFFFFA;
constexpr std::size_t headerSize = 512;
constexpr std::size_t headerDifatEntries = 109;
constexpr std::size_t miniSectorSize = 64;
constexpr std::uint64_t miniStreamCutoff = 4096;
constexpr std::size_t directoryEntrySize = 128;

constexpr std::uint8_t typeStream = 2;
constexpr std::uint8_t typeRoot = 5;

const char* const damaged = "the workbook's container is damaged";

std::uint16_t get16(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}

std::uint32_t get32(std::string_view bytes, std::size_t at) {
    return get16(bytes, at) | static_cast<std::uint32_t>(get16(bytes, at + 2)) << 16;
}

char16_t fold(char16_t unit) {
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
}

bool sameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i]))
            return false;
    }
    return true;
}

} // namespace

bool CompoundFileReader::chain(const std::vector<std::uint32_t>& table, std::uint32_t start,
                               std::vector<std::uint32_t>& sectors) const {
    sectors.clear();
    for (std::uint32_t sector = start; sector != endOfChain; sector = table[sector]) {
        // A chain longer than the table has entries runs in a circle.
        if (sector >= table.size() || sectors.size() >= table.size())
            return false;
        sectors.push_back(sector);
    }
    return true;
}

// The first `size` bytes of the regular-sector chain from `start`.
bool CompoundFileReader::readChain(std::uint32_t start, std::uint64_t size,
                                   std::string& content) const {
    content.clear();
    if (size > file_.size())
        return false;
    std::vector<std::uint32_t> sectors;
    if (size == 0)
        return true;
    if (!chain(fat_, start, sectors) || sectors.size() * std::uint64_t{sectorSize_} < size)
        return false;
    content.reserve(static_cast<std::size_t>(size));
    for (const std::uint32_t sector : sectors) {
        if (content.size() == size)
            break;
        const std::uint64_t at = (std::uint64_t{sector} + 1) * sectorSize_;
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(sectorSize_, size - content.size()));
        if (at > file_.size() || file_.size() - at < wanted)
            return false; // the sector lies beyond the end of a cut-off file
        content.append(file_.data() + at, wanted);
    }
    return true;
}

bool CompoundFileReader::wholeSector(std::uint64_t sector) const {
    const std::uint64_t end = (sector + 2) * sectorSize_;
    return end <= file_.size();
}

bool CompoundFileReader::open(std::string_view file, std::string& reason) {
    file_ = file;
    static constexpr unsigned char signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (file.size() < headerSize || std::memcmp(file.data(), signature, sizeof signature) != 0) {
        reason = "it is not an .xls workbook";
        return false;
    }
    const std::uint16_t sectorShift = get16(file, 30);
    if (get16(file, 28) != 0xFFFE || (sectorShift != 9 && sectorShift != 12) ||
        get16(file, 32) != 6) {
        reason = damaged;
        return false;
    }
    sectorSize_ = std::size_t{1} << sectorShift;
    const std::size_t perSector = sectorSize_ / 4;
    // Sectors the file can hold; every chain and table must keep within them.
    const std::size_t sectorCount = (file.size() - 1) / sectorSize_; // after the header
    const std::uint32_t fatSectors = get32(file, 44);
    const std::uint32_t directoryStart = get32(file, 48);
    const std::uint32_t miniFatStart = get32(file, 60);
    std::uint32_t difatSector = get32(file, 68);
    const std::uint32_t difatSectors = get32(file, 72);
    if (fatSectors == 0 || fatSectors > sectorCount) {
        reason = damaged;
        return false;
    }

    // The FAT's sectors: 109 listed in the header, the rest in the DIFAT chain.
    std::vector<std::uint32_t> fatList;
    for (std::size_t i = 0; i < headerDifatEntries && fatList.size() < fatSectors; ++i)
        fatList.push_back(get32(file, 76 + 4 * i));
    for (std::uint32_t visited = 0; fatList.size() < fatSectors; ++visited) {
        if (difatSector > maxRegularSector || !wholeSector(difatSector) ||
            visited >= difatSectors || visited > sectorCount) {
            reason = damaged;
            return false;
        }
        const std::size_t at = (std::size_t{difatSector} + 1) * sectorSize_;
        for (std::size_t i = 0; i + 1 < perSector && fatList.size() < fatSectors; ++i)
            fatList.push_back(get32(file, at + 4 * i));
        difatSector = get32(file, at + 4 * (perSector - 1));
    }
    fat_.clear();
    fat_.reserve(fatList.size() * perSector);
    for (const std::uint32_t sector : fatList) {
        if (!wholeSector(sector)) {
            reason = damaged;
            return false;
        }
        const std::size_t at = (std::size_t{sector} + 1) * sectorSize_;
        for (std::size_t i = 0; i < perSector; ++i)
            fat_.push_back(get32(file, at + 4 * i));
    }
    // Entries for sectors past the end of the file cannot be followed.
    if (fat_.size() > sectorCount)
        fat_.resize(sectorCount);

    // The directory.
    std::vector<std::uint32_t> directorySectors;
    if (!chain(fat_, directoryStart, directorySectors) || directorySectors.empty()) {
        reason = damaged;
        return false;
    }
    entries_.clear();
    for (const std::uint32_t sector : directorySectors) {
        if (!wholeSector(sector)) {
            reason = damaged;
            return false;
        }
        const std::size_t base = (std::size_t{sector} + 1) * sectorSize_;
        for (std::size_t offset = 0; offset < sectorSize_; offset += directoryEntrySize) {
            const std::size_t at = base + offset;
            Entry entry;
            const std::size_t nameBytes = std::min<std::size_t>(get16(file, at + 64), 64);
            for (std::size_t i = 0; i + 2 <= nameBytes; i += 2) {
                const char16_t unit = get16(file, at + i);
                if (unit == 0)
                    break;
                entry.name.push_back(unit);
            }
            entry.type = static_cast<std::uint8_t>(file[at + 66]);
            entry.left = get32(file, at + 68);
            entry.right = get32(file, at + 72);
            entry.child = get32(file, at + 76);
            entry.start = get32(file, at + 116);
            entry.size = get32(file, at + 120);
            // Version 3 files keep the size in 32 bits; the high half may hold anything.
            if (sectorShift == 12)
                entry.size |= std::uint64_t{get32(file, at + 124)} << 32;
            entries_.push_back(std::move(entry));
        }
    }
    if (entries_.empty() || entries_[0].type != typeRoot) {
        reason = damaged;
        return false;
    }

    // The root storage's children: the tree below its child, walked without recursion;
    // an entry seen twice means the tree runs in a circle.
    rootChildren_.clear();
    std::vector<bool> seen(entries_.size(), false);
    std::vector<std::uint32_t> pending;
    if (entries_[0].child != noStream)
        pending.push_back(entries_[0].child);
    while (!pending.empty()) {
        const std::uint32_t index = pending.back();
        pending.pop_back();
        if (index >= entries_.size() || seen[index]) {
            reason = damaged;
            return false;
        }
        seen[index] = true;
        rootChildren_.push_back(index);
        if (entries_[index].left != noStream)
            pending.push_back(entries_[index].left);
        if (entries_[index].right != noStream)
            pending.push_back(entries_[index].right);
    }

    // The mini stream (held by the root entry) and its table, for streams under 4096 bytes.
    miniFat_.clear();
    miniStream_.clear();
    std::vector<std::uint32_t> miniFatSectors;
    if (miniFatStart != endOfChain && miniFatStart != noStream) {
        if (!chain(fat_, miniFatStart, miniFatSectors)) {
            reason = damaged;
            return false;
        }
        for (const std::uint32_t sector : miniFatSectors) {
            if (!wholeSector(sector)) {
                reason = damaged;
                return false;
            }
            const std::size_t at = (std::size_t{sector} + 1) * sectorSize_;
            for (std::size_t i = 0; i < perSector; ++i)
                miniFat_.push_back(get32(file, at + 4 * i));
        }
        if (!readChain(entries_[0].start, entries_[0].size, miniStream_)) {
            reason = damaged;
            return false;
        }
    }
    return true;
}

const CompoundFileReader::Entry* CompoundFileReader::find(std::u16string_view name) const {
    for (const std::uint32_t index : rootChildren_) {
        const Entry& entry = entries_[index];
        if (entry.type == typeStream && sameName(entry.name, name))
            return &entry;
    }
    return nullptr;
}

bool CompoundFileReader::has(std::u16string_view name) const {
    return find(name) != nullptr;
}

bool CompoundFileReader::read(std::u16string_view name, std::string& content,
                              std::string& reason) const {
    const Entry* entry = find(name);
    if (entry == nullptr) {
        std::string shown;
        for (const char16_t unit : name)
            shown += static_cast<char>(unit < 0x80 ? unit : '?');
        reason = "the file has no \"" + shown + "\" stream";
        return false;
    }
    content.clear();
    if (entry->size >= miniStreamCutoff) {
        if (!readChain(entry->start, entry->size, content)) {
            reason = damaged;
            return false;
        }
        return true;
    }
    std::vector<std::uint32_t> sectors;
    if (entry->size > 0 && !chain(miniFat_, entry->start, sectors)) {
        reason = damaged;
        return false;
    }
    for (const std::uint32_t sector : sectors) {
        if (content.size() == entry->size)
            break;
        const std::size_t at = std::size_t{sector} * miniSectorSize;
        const std::size_t wanted = std::min<std::size_t>(
            miniSectorSize, static_cast<std::size_t>(entry->size) - content.size());
        if (at > miniStream_.size() || miniStream_.size() - at < wanted) {
            reason = damaged;
            return false;
        }
        content.append(miniStream_, at, wanted);
    }
    if (content.size() != entry->size) {
        reason = damaged;
        return false;
    }
    return true;
}

} // namespace corvanta::listread
