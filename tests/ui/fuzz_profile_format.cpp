// libFuzzer target for the settings-file rules: reads never crash or exceed the value limit, and a write
// is read back and leaves other keys as they were.
#include "core/settings/profile_format.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::string trimmed(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) {
        return {};
    }
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// Names match without regard to ASCII case.
std::string folded(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return trimmed(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string section = in.ConsumeRandomLengthString(16);
    const std::string key = in.ConsumeRandomLengthString(16);
    const std::string other = in.ConsumeRandomLengthString(16);
    const std::string value = in.ConsumeRandomLengthString(700);
    std::string text = in.ConsumeRemainingBytesAsString();

    const std::string read = lumiclip::ReadProfileValue(text, section, key);
    if (read.size() > lumiclip::kProfileValueLimit) {
        std::abort();
    }
    const std::string otherBefore = lumiclip::ReadProfileValue(text, section, other);
    const std::string original = text;
    if (!lumiclip::WriteProfileValue(text, section, key, value)) {
        if (text != original) {
            std::abort();
        }
        return 0;
    }
    const std::string expected = trimmed(value);
    const std::string back = lumiclip::ReadProfileValue(text, section, key);
    if (expected.size() <= lumiclip::kProfileValueLimit && back != expected) {
        std::abort();
    }
    if (folded(other) != folded(key) && lumiclip::ReadProfileValue(text, section, other) != otherBefore) {
        std::abort();
    }
    return 0;
}
