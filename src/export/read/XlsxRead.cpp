#include "export/read/XlsxRead.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <expat.h>
#include <functional>
#include <map>
#include <unzip.h>

namespace corvanta::listread {

namespace {

// The decompressed bytes a workbook may take in all: far above what the largest list
// takes, low enough that a compression bomb ends in seconds.
constexpr std::uint64_t maxUnpackedBytes = std::uint64_t{2} << 30;
// Raw XML text one cell or shared string may hold: a cell holds at most 32,767 characters,
// each at most seven bytes in the format's "_xHHHH_" escape.
constexpr std::size_t maxRawTextBytes = 7 * 32767;
// Bytes the XML parser may hold for one unfinished item (a tag with its attributes); the
// parser scans such an item again with every chunk, so a long one costs quadratic time.
constexpr std::uint64_t maxPendingXmlBytes = 1u << 20;
constexpr std::uint32_t maxRows = 1048576;
constexpr std::uint32_t maxColumns = 16384;

const char* const damaged = "the workbook is damaged";

// ---- the zip archive, read from memory ----

struct MemoryFile {
    std::string_view bytes;
    std::uint64_t position = 0;
};

voidpf openMemory(voidpf opaque, const void*, int mode) {
    return (mode & ZLIB_FILEFUNC_MODE_WRITE) != 0 ? nullptr : opaque;
}

uLong readMemory(voidpf, voidpf stream, void* buffer, uLong size) {
    auto* file = static_cast<MemoryFile*>(stream);
    if (file->position >= file->bytes.size())
        return 0;
    const std::uint64_t left = file->bytes.size() - file->position;
    const uLong count = left < size ? static_cast<uLong>(left) : size;
    std::memcpy(buffer, file->bytes.data() + file->position, count);
    file->position += count;
    return count;
}

uLong writeMemory(voidpf, voidpf, const void*, uLong) {
    return 0;
}

ZPOS64_T tellMemory(voidpf, voidpf stream) {
    return static_cast<MemoryFile*>(stream)->position;
}

long seekMemory(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* file = static_cast<MemoryFile*>(stream);
    std::uint64_t base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR)
        base = file->position;
    else if (origin == ZLIB_FILEFUNC_SEEK_END)
        base = file->bytes.size();
    else if (origin != ZLIB_FILEFUNC_SEEK_SET)
        return -1;
    if (offset > file->bytes.size() || base > file->bytes.size() - offset)
        return -1;
    file->position = base + offset;
    return 0;
}

int closeMemory(voidpf, voidpf) {
    return 0;
}

int errorMemory(voidpf, voidpf) {
    return 0;
}

class ZipArchive {
public:
    explicit ZipArchive(std::string_view bytes) {
        file_.bytes = bytes;
        zlib_filefunc64_def functions{openMemory, readMemory,  writeMemory, tellMemory,
                                      seekMemory, closeMemory, errorMemory, &file_};
        zip_ = unzOpen2_64("workbook", &functions);
    }
    ~ZipArchive() {
        if (zip_ != nullptr)
            unzClose(zip_);
    }
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    bool isOpen() const { return zip_ != nullptr; }

    bool has(const std::string& name) {
        return unzLocateFile(zip_, name.c_str(), 2) == UNZ_OK; // 2: any letter case
    }

    // Hands the decompressed bytes of entry `name` to `consume` a chunk at a time; stops
    // when it returns false. False with a reason when the entry cannot be read.
    bool read(const std::string& name, const std::function<bool(std::string_view)>& consume,
              std::string& reason) {
        if (!has(name)) {
            reason = "the workbook lacks its part \"" + name + "\" (it is damaged)";
            return false;
        }
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(zip_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
            reason = damaged;
            return false;
        }
        if ((info.flag & 1u) != 0) {
            reason = "the workbook is encrypted";
            return false;
        }
        if (unzOpenCurrentFile(zip_) != UNZ_OK) {
            reason = "the workbook's part \"" + name + "\" cannot be unpacked (it is damaged)";
            return false;
        }
        std::string buffer(64 * 1024, '\0');
        bool ok = true;
        bool stopped = false;
        for (;;) {
            const int count =
                unzReadCurrentFile(zip_, buffer.data(), static_cast<unsigned>(buffer.size()));
            if (count < 0) {
                reason = "the workbook's part \"" + name + "\" cannot be unpacked (it is damaged)";
                ok = false;
                break;
            }
            if (count == 0)
                break;
            unpacked_ += static_cast<std::uint64_t>(count);
            if (unpacked_ > maxUnpackedBytes) {
                reason = "it unpacks to more than 2 GiB, far more than a list takes";
                ok = false;
                break;
            }
            if (!consume(std::string_view(buffer.data(), static_cast<std::size_t>(count)))) {
                stopped = true;
                break;
            }
        }
        const int closed = unzCloseCurrentFile(zip_);
        if (ok && !stopped && closed != UNZ_OK) {
            reason = "the workbook's part \"" + name + "\" is damaged (its checksum is wrong)";
            ok = false;
        }
        return ok;
    }

private:
    MemoryFile file_;
    unzFile zip_ = nullptr;
    std::uint64_t unpacked_ = 0;
};

// ---- XML parts ----

// The local part of an element or attribute name ("main c" -> "c"), whatever the
// namespace or prefix the producer used.
std::string_view localName(const XML_Char* name) {
    std::string_view text(name);
    const std::size_t at = text.find_last_of(" :");
    return at == std::string_view::npos ? text : text.substr(at + 1);
}

const XML_Char* attribute(const XML_Char** attributes, std::string_view wanted) {
    for (int i = 0; attributes[i] != nullptr; i += 2) {
        if (localName(attributes[i]) == wanted)
            return attributes[i + 1];
    }
    return nullptr;
}

// Receives the events of one XML part; `failure` set in a handler stops the parse.
class XmlPart {
public:
    virtual ~XmlPart() = default;
    virtual void start(std::string_view name, const XML_Char** attributes) = 0;
    virtual void end(std::string_view name) = 0;
    virtual void text(std::string_view) {}
    std::string failure;
};

struct ParseState {
    XML_Parser parser;
    XmlPart* part;
};

void stopWith(ParseState& state, std::string reason) {
    if (state.part->failure.empty())
        state.part->failure = std::move(reason);
    XML_StopParser(state.parser, XML_FALSE);
}

void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attributes) {
    auto& state = *static_cast<ParseState*>(data);
    state.part->start(localName(name), attributes);
    if (!state.part->failure.empty())
        XML_StopParser(state.parser, XML_FALSE);
}

void XMLCALL onEnd(void* data, const XML_Char* name) {
    auto& state = *static_cast<ParseState*>(data);
    state.part->end(localName(name));
    if (!state.part->failure.empty())
        XML_StopParser(state.parser, XML_FALSE);
}

void XMLCALL onText(void* data, const XML_Char* text, int length) {
    auto& state = *static_cast<ParseState*>(data);
    state.part->text(std::string_view(text, static_cast<std::size_t>(length)));
    if (!state.part->failure.empty())
        XML_StopParser(state.parser, XML_FALSE);
}

// Workbook parts never declare a document type; refusing one keeps entity expansion out.
void XMLCALL onDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    stopWith(*static_cast<ParseState*>(data), "the workbook holds XML it does not need (a "
                                              "document type declaration)");
}

bool parsePart(ZipArchive& zip, const std::string& name, XmlPart& part, std::string& reason) {
    XML_Parser parser = XML_ParserCreateNS(nullptr, ' ');
    if (parser == nullptr) {
        reason = "there is not enough memory to read it";
        return false;
    }
    ParseState state{parser, &part};
    XML_SetUserData(parser, &state);
    XML_SetElementHandler(parser, onStart, onEnd);
    XML_SetCharacterDataHandler(parser, onText);
    XML_SetStartDoctypeDeclHandler(parser, onDoctype);

    std::uint64_t fed = 0;
    std::string xmlError;
    auto feed = [&](std::string_view chunk, bool last) {
        if (XML_Parse(parser, chunk.data(), static_cast<int>(chunk.size()), last ? 1 : 0) !=
            XML_STATUS_OK) {
            if (part.failure.empty())
                xmlError = XML_ErrorString(XML_GetErrorCode(parser));
            return false;
        }
        fed += chunk.size();
        const XML_Index done = XML_GetCurrentByteIndex(parser);
        if (done >= 0 && fed - static_cast<std::uint64_t>(done) > maxPendingXmlBytes) {
            part.failure = "the workbook's part \"" + name +
                           "\" holds an XML item larger than "
                           "1 MiB (it is damaged)";
            return false;
        }
        return true;
    };
    bool ok = zip.read(
        name, [&](std::string_view chunk) { return feed(chunk, false); }, reason);
    if (ok && part.failure.empty() && xmlError.empty())
        feed({}, true);
    XML_ParserFree(parser);
    if (!ok)
        return false;
    if (!part.failure.empty()) {
        reason = part.failure;
        return false;
    }
    if (!xmlError.empty()) {
        reason = "the workbook's part \"" + name + "\" is not well-formed XML (" + xmlError +
                 "; it is damaged)";
        return false;
    }
    return true;
}

// Text in an element, up to the most a cell can hold.
bool appendLimited(std::string& to, std::string_view text, XmlPart& part) {
    if (to.size() + text.size() > maxRawTextBytes) {
        part.failure = "a cell holds more text than a workbook cell can (it is damaged)";
        return false;
    }
    to += text;
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The text with the format's "_xHHHH_" escapes decoded ("_x005F_" is a literal "_").
std::string unescapeText(const std::string& raw) {
    if (raw.find("_x") == std::string::npos)
        return raw;
    std::string out;
    out.reserve(raw.size());
    std::u16string units; // escaped units waiting for their pair partner
    auto flush = [&] {
        appendUtf8(units, out);
        units.clear();
    };
    for (std::size_t i = 0; i < raw.size();) {
        if (raw[i] == '_' && i + 6 < raw.size() && raw[i + 1] == 'x' && raw[i + 6] == '_') {
            int value = 0;
            bool hex = true;
            for (std::size_t k = 2; k < 6 && hex; ++k) {
                const int digit = hexValue(raw[i + k]);
                hex = digit >= 0;
                value = value * 16 + digit;
            }
            if (hex) {
                units.push_back(static_cast<char16_t>(value));
                i += 7;
                continue;
            }
        }
        flush();
        out += raw[i++];
    }
    flush();
    return out;
}

struct Relationship {
    std::string target;
    std::string type;
};

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

class RelationshipsPart : public XmlPart {
public:
    std::map<std::string, Relationship> byId;

    void start(std::string_view name, const XML_Char** attributes) override {
        if (name != "Relationship")
            return;
        const XML_Char* id = attribute(attributes, "Id");
        const XML_Char* target = attribute(attributes, "Target");
        const XML_Char* type = attribute(attributes, "Type");
        const XML_Char* mode = attribute(attributes, "TargetMode");
        if (id == nullptr || target == nullptr ||
            (mode != nullptr && std::strcmp(mode, "External") == 0))
            return;
        if (byId.size() >= 100000) {
            failure = damaged;
            return;
        }
        byId[id] = {target, type != nullptr ? type : ""};
    }
    void end(std::string_view) override {}
};

class WorkbookPart : public XmlPart {
public:
    std::vector<std::string> sheetIds; // relationship ids, in the workbook's order

    void start(std::string_view name, const XML_Char** attributes) override {
        if (name != "sheet")
            return;
        const XML_Char* id = attribute(attributes, "id");
        if (sheetIds.size() >= 100000) {
            failure = damaged;
            return;
        }
        sheetIds.emplace_back(id != nullptr ? id : "");
    }
    void end(std::string_view) override {}
};

// The texts of <t> elements, leaving out the phonetic runs (<rPh>) that some programs add.
class RichText {
public:
    void start(std::string_view name) {
        if (name == "rPh")
            ++phonetic_;
        else if (name == "t")
            ++inText_;
    }
    void end(std::string_view name) {
        if (name == "rPh" && phonetic_ > 0)
            --phonetic_;
        else if (name == "t" && inText_ > 0)
            --inText_;
    }
    bool text(std::string_view text, XmlPart& part) {
        return inText_ == 0 || phonetic_ > 0 || appendLimited(raw_, text, part);
    }
    std::string take() {
        std::string text = unescapeText(raw_);
        raw_.clear();
        return text;
    }

private:
    std::string raw_;
    int phonetic_ = 0;
    int inText_ = 0;
};

class SharedStringsPart : public XmlPart {
public:
    explicit SharedStringsPart(Budget& budget) : budget_(budget) {}
    std::vector<std::string> strings;

    void start(std::string_view name, const XML_Char**) override {
        if (name == "si") {
            inItem_ = true;
            text_ = RichText();
        } else if (inItem_) {
            text_.start(name);
        }
    }
    void end(std::string_view name) override {
        if (name == "si" && inItem_) {
            inItem_ = false;
            std::string text = text_.take();
            if (!budget_.take(sizeof(std::string) + text.size())) {
                failure = tooLarge;
                return;
            }
            strings.push_back(std::move(text));
        } else if (inItem_) {
            text_.end(name);
        }
    }
    void text(std::string_view text) override {
        if (inItem_)
            text_.text(text, *this);
    }

private:
    Budget& budget_;
    bool inItem_ = false;
    RichText text_;
};

// "B3" -> column 1, row 2; false when the reference is not one a sheet can hold.
bool parseReference(std::string_view reference, std::uint32_t& row, std::uint32_t& column) {
    std::size_t i = 0;
    std::uint32_t columnNumber = 0;
    while (i < reference.size() && reference[i] >= 'A' && reference[i] <= 'Z') {
        columnNumber = columnNumber * 26 + static_cast<std::uint32_t>(reference[i] - 'A' + 1);
        if (columnNumber > maxColumns)
            return false;
        ++i;
    }
    std::uint32_t rowNumber = 0;
    const auto [end, error] =
        std::from_chars(reference.data() + i, reference.data() + reference.size(), rowNumber);
    if (i == 0 || error != std::errc() || end != reference.data() + reference.size() ||
        rowNumber < 1 || rowNumber > maxRows)
        return false;
    column = columnNumber - 1;
    row = rowNumber - 1;
    return true;
}

class WorksheetPart : public XmlPart {
public:
    WorksheetPart(const std::vector<std::string>& strings, Budget& budget, Sheet& sheet)
        : strings_(strings), budget_(budget), sheet_(sheet) {}

    void start(std::string_view name, const XML_Char** attributes) override {
        if (name == "sheetData") {
            inData_ = true;
        } else if (!inData_) {
            return;
        } else if (name == "row") {
            startRow(attribute(attributes, "r"));
        } else if (name == "c") {
            startCell(attribute(attributes, "r"), attribute(attributes, "t"));
        } else if (inCell_ && name == "v") {
            inValue_ = true;
        } else if (inCell_ && name == "is") {
            inInline_ = true;
        } else if (inInline_) {
            inline_.start(name);
        }
    }

    void end(std::string_view name) override {
        if (name == "sheetData") {
            inData_ = false;
        } else if (!inCell_) {
            return;
        } else if (name == "c") {
            endCell();
        } else if (name == "v") {
            inValue_ = false;
        } else if (name == "is") {
            inInline_ = false;
        } else if (inInline_) {
            inline_.end(name);
        }
    }

    void text(std::string_view text) override {
        if (inValue_)
            appendLimited(value_, text, *this);
        else if (inInline_)
            inline_.text(text, *this);
    }

private:
    void startRow(const XML_Char* reference) {
        std::uint32_t number = 0;
        if (reference == nullptr) {
            number = nextRow_ + 1;
        } else {
            const std::string_view text(reference);
            const auto [end, error] =
                std::from_chars(text.data(), text.data() + text.size(), number);
            if (error != std::errc() || end != text.data() + text.size())
                number = 0;
        }
        if (number < 1 || number > maxRows) {
            failure = "a worksheet has a row outside the rows a sheet can hold (it is damaged)";
            return;
        }
        row_ = number - 1;
        nextRow_ = number;
        nextColumn_ = 0;
    }

    void startCell(const XML_Char* reference, const XML_Char* type) {
        inCell_ = true;
        type_ = type != nullptr ? type : "n";
        value_.clear();
        inline_ = RichText();
        if (reference == nullptr) {
            column_ = nextColumn_;
        } else if (!parseReference(reference, row_, column_)) {
            failure = std::string("a worksheet has a cell at \"") + reference +
                      "\", which is not a place a sheet has (it is damaged)";
            return;
        }
        if (column_ >= maxColumns) {
            failure = "a worksheet has a cell beyond the columns a sheet can hold (it is damaged)";
            return;
        }
        nextColumn_ = column_ + 1;
        nextRow_ = row_ + 1;
    }

    void endCell() {
        inCell_ = inValue_ = inInline_ = false;
        std::string text;
        if (type_ == "s") {
            std::size_t index = 0;
            const auto [end, error] =
                std::from_chars(value_.data(), value_.data() + value_.size(), index);
            if (value_.empty())
                return;
            if (error != std::errc() || end != value_.data() + value_.size() ||
                index >= strings_.size()) {
                failure = "a cell refers to a shared text the workbook does not have (it is "
                          "damaged)";
                return;
            }
            text = strings_[index];
        } else if (type_ == "inlineStr") {
            text = inline_.take();
        } else if (type_ == "str") {
            text = unescapeText(value_);
        } else if (type_ == "b") {
            text = value_.empty() ? "" : (value_ == "0" ? "FALSE" : "TRUE");
        } else if (type_ == "n") {
            double number = 0;
            const auto [end, error] =
                std::from_chars(value_.data(), value_.data() + value_.size(), number);
            text = !value_.empty() && error == std::errc() && end == value_.data() + value_.size()
                       ? numberText(number)
                       : value_;
        } else {
            text = value_; // errors ("#N/A") and dates as stored
        }
        if (text.empty())
            return;
        if (!budget_.takeCell(text.size())) {
            failure = tooLarge;
            return;
        }
        sheet_.cells.push_back({row_, column_, std::move(text)});
    }

    const std::vector<std::string>& strings_;
    Budget& budget_;
    Sheet& sheet_;
    bool inData_ = false;
    bool inCell_ = false;
    bool inValue_ = false;
    bool inInline_ = false;
    std::uint32_t row_ = 0;
    std::uint32_t column_ = 0;
    std::uint32_t nextRow_ = 0;
    std::uint32_t nextColumn_ = 0;
    std::string type_;
    std::string value_;
    RichText inline_;
};

// The folder of a part's name, with its slash ("xl/workbook.xml" -> "xl/").
std::string folderOf(const std::string& part) {
    const std::size_t slash = part.rfind('/');
    return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

// A relationship target as a part name: absolute ("/xl/a.xml") or relative to `folder`,
// with "." and ".." resolved.
std::string resolvePart(const std::string& folder, const std::string& target) {
    const std::string joined =
        !target.empty() && target[0] == '/' ? target.substr(1) : folder + target;
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= joined.size()) {
        std::size_t slash = joined.find('/', start);
        if (slash == std::string::npos)
            slash = joined.size();
        const std::string piece = joined.substr(start, slash - start);
        if (piece == "..") {
            if (!pieces.empty())
                pieces.pop_back();
        } else if (!piece.empty() && piece != ".") {
            pieces.push_back(piece);
        }
        start = slash + 1;
    }
    std::string part;
    for (const std::string& piece : pieces)
        part += (part.empty() ? "" : "/") + piece;
    return part;
}

std::string relationshipsOf(const std::string& part) {
    const std::string folder = folderOf(part);
    return folder + "_rels/" + part.substr(folder.size()) + ".rels";
}

} // namespace

bool readXlsx(std::string_view bytes, Budget& budget, std::vector<Sheet>& sheets,
              std::string& reason) {
    ZipArchive zip(bytes);
    if (!zip.isOpen()) {
        reason = "it is not a complete .xlsx workbook (it is damaged or cut short)";
        return false;
    }

    // The workbook part, as the package's relationships name it.
    std::string workbook = "xl/workbook.xml";
    if (zip.has("_rels/.rels")) {
        RelationshipsPart package;
        if (!parsePart(zip, "_rels/.rels", package, reason))
            return false;
        for (const auto& [id, relationship] : package.byId) {
            if (endsWith(relationship.type, "/officeDocument")) {
                workbook = resolvePart("", relationship.target);
                break;
            }
        }
    }
    if (!zip.has(workbook)) {
        reason = "it is a zip archive but not an .xlsx workbook (it has no workbook part)";
        return false;
    }
    WorkbookPart book;
    if (!parsePart(zip, workbook, book, reason))
        return false;
    RelationshipsPart parts;
    if (!parsePart(zip, relationshipsOf(workbook), parts, reason))
        return false;

    std::vector<std::string> strings;
    for (const auto& [id, relationship] : parts.byId) {
        if (endsWith(relationship.type, "/sharedStrings")) {
            SharedStringsPart shared(budget);
            if (!parsePart(zip, resolvePart(folderOf(workbook), relationship.target), shared,
                           reason))
                return false;
            strings = std::move(shared.strings);
            break;
        }
    }

    for (const std::string& id : book.sheetIds) {
        const auto found = parts.byId.find(id);
        if (found == parts.byId.end()) {
            reason = "the workbook names a sheet it does not hold (it is damaged)";
            return false;
        }
        // Chart sheets and the like hold no cells of the list.
        if (!endsWith(found->second.type, "/worksheet"))
            continue;
        Sheet sheet;
        WorksheetPart part(strings, budget, sheet);
        if (!parsePart(zip, resolvePart(folderOf(workbook), found->second.target), part, reason))
            return false;
        sheets.push_back(std::move(sheet));
    }
    if (sheets.empty()) {
        reason = "the workbook has no worksheet";
        return false;
    }
    return true;
}

} // namespace corvanta::listread
