// decodeResponseText: whatever the bytes, the text is well-formed UTF-8 without a NUL, and
// a valid UTF-8 body that declares no charset comes back unchanged up to its first NUL.
#include "FuzzCheck.h"
#include "util/Utf8.h"
#include "web/ResponseDecoding.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = bytes.substr(0, bytes.find('\0'));
    const std::string decoded = corvanta::decodeResponseText(text, bytes);
    FUZZ_CHECK(corvanta::utf8::isValid(decoded));
    FUZZ_CHECK(decoded.find('\0') == std::string::npos);
    // The whole body decides: valid UTF-8 bytes (after the NUL too) that declare no
    // charset, in any case, anywhere a meta tag could stand.
    std::string lower = bytes;
    for (char& c : lower)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    if (corvanta::utf8::isValid(bytes) && lower.find("charset") == std::string::npos)
        FUZZ_CHECK(decoded == text);
    return 0;
}
