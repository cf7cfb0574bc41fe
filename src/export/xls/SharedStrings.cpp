#include "export/xls/SharedStrings.h"

#include "export/xls/Utf16.h"

#include <algorithm>

namespace corvanta::xls {

namespace {

constexpr std::uint16_t recordSst = 0x00FC;
constexpr std::uint16_t recordContinue = 0x003C;
constexpr std::uint16_t recordExtSst = 0x00FF;

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

} // namespace

std::optional<std::uint32_t> SharedStrings::add(std::string text) {
    if (const auto found = index_.find(text); found != index_.end()) {
        ++references_;
        return found->second;
    }
    const std::u16string units = utf8ToUtf16(text);
    if (units.size() > maxCellCharacters) {
        return std::nullopt;
    }
    ++references_;
    const auto next = static_cast<std::uint32_t>(offsets_.size());
    index_.emplace(std::move(text), next);
    offsets_.push_back(units_.size());
    units_ += units;
    return next;
}

void SharedStrings::write(BiffBuffer& out) const {
    const std::size_t count = offsets_.size();
    // EXTSST points at every dsst-th string; at most 128 buckets keep the record small.
    const std::size_t perBucket = std::max<std::size_t>(8, (count + 127) / 128);
    std::vector<std::pair<std::uint32_t, std::uint16_t>> buckets;
    buckets.reserve((count + perBucket - 1) / perBucket);

    std::size_t recordStart = out.beginRecord(recordSst);
    out.u32(references_);
    out.u32(static_cast<std::uint32_t>(count));
    auto used = [&] { return out.size() - recordStart; };
    auto startContinue = [&] {
        out.endRecord(recordStart);
        recordStart = out.beginRecord(recordContinue);
    };

    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t end = i + 1 < count ? offsets_[i + 1] : units_.size();
        const std::u16string_view text(units_.data() + offsets_[i], end - offsets_[i]);
        const bool compressed = fitsInOneByte(text);
        const std::size_t unitSize = compressed ? 1 : 2;

        // The character count and option flags are never split from each other, and a
        // string starts only where at least its first character fits too.
        const std::size_t header = 3 + (text.empty() ? 0 : unitSize);
        if (maxRecordData - used() < header) {
            startContinue();
        }
        if (i % perBucket == 0) {
            buckets.emplace_back(static_cast<std::uint32_t>(out.size()),
                                 static_cast<std::uint16_t>(used() + 4));
        }
        out.u16(static_cast<std::uint16_t>(text.size()));
        out.u8(compressed ? 0x00 : 0x01);

        std::size_t done = 0;
        while (done < text.size()) {
            const std::size_t room = (maxRecordData - used()) / unitSize;
            std::size_t take = std::min(room, text.size() - done);
            // A surrogate pair stays in one record so that each piece decodes on its own.
            if (take > 0 && take < text.size() - done && isHighSurrogate(text[done + take - 1])) {
                --take;
            }
            out.utf16(text.substr(done, take), compressed);
            done += take;
            if (done < text.size()) {
                // The rest of the characters follow in a CONTINUE record that starts with
                // the string's option flags again.
                startContinue();
                out.u8(compressed ? 0x00 : 0x01);
            }
        }
    }
    out.endRecord(recordStart);

    const std::size_t extStart = out.beginRecord(recordExtSst);
    out.u16(static_cast<std::uint16_t>(perBucket));
    for (const auto& [streamPosition, recordOffset] : buckets) {
        out.u32(streamPosition);
        out.u16(recordOffset);
        out.u16(0);
    }
    out.endRecord(extStart);
}

} // namespace corvanta::xls
