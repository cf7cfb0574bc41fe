#include "export/read/XlsRead.h"

#include "export/read/CompoundFileRead.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace corvanta::listread {

namespace {

namespace record {
constexpr std::uint16_t bof = 0x0809;
constexpr std::uint16_t eof = 0x000A;
constexpr std::uint16_t filePass = 0x002F;
constexpr std::uint16_t boundSheet = 0x0085;
constexpr std::uint16_t sst = 0x00FC;
constexpr std::uint16_t continued = 0x003C;
constexpr std::uint16_t labelSst = 0x00FD;
constexpr std::uint16_t label = 0x0204;
constexpr std::uint16_t richLabel = 0x00D6;
constexpr std::uint16_t number = 0x0203;
constexpr std::uint16_t rk = 0x027E;
constexpr std::uint16_t mulRk = 0x00BD;
constexpr std::uint16_t boolErr = 0x0205;
constexpr std::uint16_t formula = 0x0006;
constexpr std::uint16_t string = 0x0207;
} // namespace record

constexpr std::uint16_t biff8 = 0x0600;
constexpr std::uint16_t globalsSubstream = 0x0005;
constexpr std::uint16_t worksheetSubstream = 0x0010;

const char* const damaged = "the workbook is damaged";

std::uint16_t get16(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}

std::uint32_t get32(std::string_view bytes, std::size_t at) {
    return get16(bytes, at) | static_cast<std::uint32_t>(get16(bytes, at + 2)) << 16;
}

double getDouble(std::string_view bytes, std::size_t at) {
    const std::uint64_t bits = get32(bytes, at) | std::uint64_t{get32(bytes, at + 4)} << 32;
    return std::bit_cast<double>(bits);
}

double rkValue(std::uint32_t rk) {
    double value = 0;
    if ((rk & 2u) != 0)
        value = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
    else
        value = std::bit_cast<double>(std::uint64_t{rk & 0xFFFFFFFCu} << 32);
    return (rk & 1u) != 0 ? value / 100 : value;
}

std::string errorText(std::uint8_t code) {
    switch (code) {
    case 0x00:
        return "#NULL!";
    case 0x07:
        return "#DIV/0!";
    case 0x0F:
        return "#VALUE!";
    case 0x17:
        return "#REF!";
    case 0x1D:
        return "#NAME?";
    case 0x24:
        return "#NUM!";
    default:
        return "#N/A";
    }
}

struct Record {
    std::uint16_t type = 0;
    std::string_view data;
};

// The records of the Workbook stream, from a position on.
class RecordReader {
public:
    RecordReader(std::string_view stream, std::size_t position)
        : stream_(stream), position_(position) {}

    // The next record; false at the end of the stream or at a record cut short.
    bool next(Record& record) {
        if (position_ > stream_.size() || stream_.size() - position_ < 4)
            return false;
        const std::uint16_t length = get16(stream_, position_ + 2);
        if (stream_.size() - position_ - 4 < length)
            return false;
        record.type = get16(stream_, position_);
        record.data = stream_.substr(position_ + 4, length);
        position_ += 4 + std::size_t{length};
        return true;
    }
    // The CONTINUE record that follows, if one does.
    bool nextContinue(Record& record) {
        RecordReader ahead = *this;
        if (!ahead.next(record) || record.type != record::continued)
            return false;
        *this = ahead;
        return true;
    }

private:
    std::string_view stream_;
    std::size_t position_;
};

// A record's data and its CONTINUE records, read as one: byte fields run on across them,
// while the characters of a string resume after an option byte in each CONTINUE.
class Pieces {
public:
    explicit Pieces(std::string_view first) { parts_.push_back(first); }
    void add(std::string_view part) { parts_.push_back(part); }

    bool bytes(std::size_t count, std::string* out) {
        while (count > 0) {
            if (!nextPartIfDone())
                return false;
            const std::size_t take = std::min(count, parts_[part_].size() - position_);
            if (out != nullptr)
                out->append(parts_[part_].data() + position_, take);
            position_ += take;
            count -= take;
        }
        return true;
    }
    bool u8(std::uint8_t& value) {
        std::string raw;
        if (!bytes(1, &raw))
            return false;
        value = static_cast<std::uint8_t>(raw[0]);
        return true;
    }
    bool u16(std::uint16_t& value) {
        std::string raw;
        if (!bytes(2, &raw))
            return false;
        value = get16(raw, 0);
        return true;
    }
    bool u32(std::uint32_t& value) {
        std::string raw;
        if (!bytes(4, &raw))
            return false;
        value = get32(raw, 0);
        return true;
    }

    // A string's characters: one or two bytes each as `wide` says, until a part ends;
    // each next part starts with the option byte that says it again.
    bool characters(std::size_t count, bool wide, std::string& text) {
        std::u16string units;
        while (count > 0) {
            if (position_ >= parts_[part_].size()) {
                if (part_ + 1 >= parts_.size())
                    return false;
                ++part_;
                position_ = 0;
                std::uint8_t options = 0;
                if (!u8(options))
                    return false;
                wide = (options & 1u) != 0;
                continue;
            }
            const std::string_view part = parts_[part_];
            const std::size_t unit = wide ? 2 : 1;
            const std::size_t take = std::min(count, (part.size() - position_) / unit);
            for (std::size_t i = 0; i < take; ++i) {
                const std::size_t at = position_ + i * unit;
                units.push_back(wide ? static_cast<char16_t>(get16(part, at))
                                     : static_cast<char16_t>(static_cast<unsigned char>(part[at])));
            }
            position_ = take == 0 ? part.size() : position_ + take * unit; // a lone odd byte
            count -= take;
        }
        appendUtf8(units, text);
        return true;
    }

    // An XLUnicodeString (16-bit count) or, with rich text and phonetic data, an
    // XLUnicodeRichExtendedString.
    bool string(std::string& text) {
        std::uint16_t count = 0;
        std::uint8_t options = 0;
        if (!u16(count) || !u8(options))
            return false;
        std::uint16_t runs = 0;
        std::uint32_t phonetic = 0;
        if ((options & 0x08u) != 0 && !u16(runs))
            return false;
        if ((options & 0x04u) != 0 && !u32(phonetic))
            return false;
        return characters(count, (options & 1u) != 0, text) &&
               bytes(std::size_t{runs} * 4, nullptr) && bytes(phonetic, nullptr);
    }

    bool atEnd() { return !nextPartIfDone(); }

private:
    // Moves past finished parts; false when no byte is left at all.
    bool nextPartIfDone() {
        while (position_ >= parts_[part_].size()) {
            if (part_ + 1 >= parts_.size())
                return false;
            ++part_;
            position_ = 0;
        }
        return true;
    }

    std::vector<std::string_view> parts_;
    std::size_t part_ = 0;
    std::size_t position_ = 0;
};

Pieces withContinues(const Record& first, RecordReader& records) {
    Pieces pieces(first.data);
    Record more;
    while (records.nextContinue(more))
        pieces.add(more.data);
    return pieces;
}

struct SheetPlace {
    std::uint32_t position = 0;
    std::string name;
};

struct Globals {
    std::vector<SheetPlace> sheets; // worksheets only, in the workbook's order
    std::vector<std::string> strings;
};

bool readStrings(Pieces& pieces, Budget& budget, std::vector<std::string>& strings,
                 std::string& reason) {
    std::uint32_t total = 0;
    std::uint32_t unique = 0;
    if (!pieces.u32(total) || !pieces.u32(unique)) {
        reason = damaged;
        return false;
    }
    // A table that ends before its count says is read as far as it goes: a cell that
    // refers past it fails.
    for (std::uint32_t i = 0; i < unique && !pieces.atEnd(); ++i) {
        std::string text;
        if (!pieces.string(text)) {
            reason = "the workbook's table of texts is damaged";
            return false;
        }
        if (!budget.take(sizeof(std::string) + text.size())) {
            reason = tooLarge;
            return false;
        }
        strings.push_back(std::move(text));
    }
    return true;
}

bool readGlobals(std::string_view stream, Budget& budget, Globals& globals, std::string& reason) {
    RecordReader records(stream, 0);
    Record current;
    if (!records.next(current) || current.type != record::bof || current.data.size() < 4) {
        reason = "it is not an Excel workbook";
        return false;
    }
    if (get16(current.data, 0) != biff8 || get16(current.data, 2) != globalsSubstream) {
        reason = "it is a workbook of an older Excel version (before Excel 97), which this "
                 "program does not read; save it as an Excel 97-2003 or .xlsx workbook";
        return false;
    }
    while (records.next(current)) {
        switch (current.type) {
        case record::eof:
            return true;
        case record::filePass:
            reason = "the workbook is protected with a password";
            return false;
        case record::boundSheet: {
            Pieces pieces(current.data);
            std::uint32_t position = 0;
            std::uint8_t visibility = 0;
            std::uint8_t kind = 0;
            std::uint8_t length = 0;
            std::uint8_t options = 0;
            SheetPlace place;
            if (!pieces.u32(position) || !pieces.u8(visibility) || !pieces.u8(kind) ||
                !pieces.u8(length) || !pieces.u8(options) ||
                !pieces.characters(length, (options & 1u) != 0, place.name)) {
                reason = damaged;
                return false;
            }
            place.position = position;
            if (kind == 0) // a worksheet; chart and macro sheets hold no list
                globals.sheets.push_back(std::move(place));
            break;
        }
        case record::sst: {
            Pieces pieces = withContinues(current, records);
            if (!readStrings(pieces, budget, globals.strings, reason))
                return false;
            break;
        }
        default:
            break;
        }
    }
    reason = "the workbook ends before its sheet list does (it is damaged or cut short)";
    return false;
}

class SheetReader {
public:
    SheetReader(const Globals& globals, Budget& budget, Sheet& sheet)
        : globals_(globals), budget_(budget), sheet_(sheet) {}

    bool read(std::string_view stream, const SheetPlace& place, std::string& reason) {
        RecordReader records(stream, place.position);
        Record current;
        if (!records.next(current) || current.type != record::bof || current.data.size() < 4 ||
            get16(current.data, 2) != worksheetSubstream) {
            reason = "the workbook's sheet \"" + place.name + "\" is missing (it is damaged)";
            return false;
        }
        // Charts embedded in the sheet bring their own BOF ... EOF, inside the sheet's.
        int depth = 1;
        while (records.next(current)) {
            if (current.type == record::bof) {
                ++depth;
            } else if (current.type == record::eof) {
                if (--depth == 0)
                    return true;
            } else if (depth == 1 && !cell(current, records, reason)) {
                if (reason.empty())
                    reason = "the workbook's sheet \"" + place.name + "\" is damaged";
                return false;
            }
        }
        reason = "the workbook's sheet \"" + place.name + "\" is cut short (it is damaged)";
        return false;
    }

private:
    bool add(std::uint16_t row, std::uint16_t column, std::string text, std::string& reason) {
        if (text.empty())
            return true;
        if (!budget_.takeCell(text.size())) {
            reason = tooLarge;
            return false;
        }
        sheet_.cells.push_back({row, column, std::move(text)});
        return true;
    }

    // Reads one record of the sheet; cells go to the sheet, other records are passed over.
    bool cell(const Record& current, RecordReader& records, std::string& reason) {
        const std::string_view data = current.data;
        switch (current.type) {
        case record::labelSst: {
            if (data.size() < 10)
                return false;
            const std::uint32_t index = get32(data, 6);
            if (index >= globals_.strings.size()) {
                reason = "a cell refers to a text the workbook does not have (it is damaged)";
                return false;
            }
            return add(get16(data, 0), get16(data, 2), globals_.strings[index], reason);
        }
        case record::label:
        case record::richLabel: {
            if (data.size() < 6)
                return false;
            Pieces pieces = withContinues(current, records);
            std::string skipped;
            std::uint16_t count = 0;
            std::uint8_t options = 0;
            std::string text;
            if (!pieces.bytes(6, &skipped) || !pieces.u16(count) || !pieces.u8(options) ||
                !pieces.characters(count, (options & 1u) != 0, text))
                return false;
            return add(get16(data, 0), get16(data, 2), std::move(text), reason);
        }
        case record::number:
            if (data.size() < 14)
                return false;
            return add(get16(data, 0), get16(data, 2), numberText(getDouble(data, 6)), reason);
        case record::rk:
            if (data.size() < 10)
                return false;
            return add(get16(data, 0), get16(data, 2), numberText(rkValue(get32(data, 6))), reason);
        case record::mulRk: {
            if (data.size() < 6 || (data.size() - 6) % 6 != 0)
                return false;
            const std::uint16_t row = get16(data, 0);
            const std::uint16_t first = get16(data, 2);
            const std::size_t count = (data.size() - 6) / 6;
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint32_t column = first + i;
                if (column > 0xFFFF)
                    return false;
                if (!add(row, static_cast<std::uint16_t>(column),
                         numberText(rkValue(get32(data, 4 + 6 * i + 2))), reason))
                    return false;
            }
            return true;
        }
        case record::boolErr: {
            if (data.size() < 8)
                return false;
            const auto value = static_cast<std::uint8_t>(data[6]);
            const bool isError = data[7] != 0;
            return add(get16(data, 0), get16(data, 2),
                       isError ? errorText(value) : (value != 0 ? "TRUE" : "FALSE"), reason);
        }
        case record::formula:
            return formulaCell(current, records, reason);
        default:
            return true;
        }
    }

    // A formula's last result: a number, or a marker whose text follows in a STRING record.
    bool formulaCell(const Record& current, RecordReader& records, std::string& reason) {
        const std::string_view data = current.data;
        if (data.size() < 14)
            return false;
        const std::uint16_t row = get16(data, 0);
        const std::uint16_t column = get16(data, 2);
        if (get16(data, 12) != 0xFFFF)
            return add(row, column, numberText(getDouble(data, 6)), reason);
        switch (static_cast<std::uint8_t>(data[6])) {
        case 0: { // text, in the STRING record after the formula's own records
            Record next;
            RecordReader ahead = records;
            for (int skipped = 0; skipped < 4 && ahead.next(next); ++skipped) {
                if (next.type == record::string) {
                    records = ahead;
                    Pieces pieces = withContinues(next, records);
                    std::string text;
                    return pieces.string(text) && add(row, column, std::move(text), reason);
                }
            }
            return false;
        }
        case 1:
            return add(row, column, data[8] != 0 ? "TRUE" : "FALSE", reason);
        case 2:
            return add(row, column, errorText(static_cast<std::uint8_t>(data[8])), reason);
        default:
            return true; // an empty text
        }
    }

    const Globals& globals_;
    Budget& budget_;
    Sheet& sheet_;
};

} // namespace

bool readXls(std::string_view bytes, Budget& budget, std::vector<Sheet>& sheets,
             std::string& reason) {
    CompoundFileReader container;
    if (!container.open(bytes, reason))
        return false;
    if (container.has(u"EncryptionInfo")) {
        reason = "the workbook is protected with a password";
        return false;
    }
    if (!container.has(u"Workbook") && container.has(u"Book")) {
        reason = "it is a workbook of an older Excel version (before Excel 97), which this "
                 "program does not read; save it as an Excel 97-2003 or .xlsx workbook";
        return false;
    }
    std::string stream;
    if (!container.read(u"Workbook", stream, reason)) {
        if (!container.has(u"Workbook"))
            reason = "it is not an Excel workbook (the file has no workbook stream)";
        return false;
    }
    Globals globals;
    if (!readGlobals(stream, budget, globals, reason))
        return false;
    if (globals.sheets.empty()) {
        reason = "the workbook has no worksheet";
        return false;
    }
    for (const SheetPlace& place : globals.sheets) {
        Sheet sheet;
        SheetReader reader(globals, budget, sheet);
        if (!reader.read(stream, place, reason))
            return false;
        sheets.push_back(std::move(sheet));
    }
    return true;
}

} // namespace corvanta::listread
