#include "jtag/lang.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <unordered_map>

// The English catalog in gettext's binary form, generated from po/en.po by the build.
extern const unsigned char vireo_catalog_en[];
extern const std::size_t vireo_catalog_en_size;

namespace {

std::atomic<Language> g_language{Language::Japanese};

using Catalog = std::unordered_map<std::string_view, const char*>;

// The catalog's entries, keyed by the Japanese text. The binary form is a header (magic, revision,
// count, offsets of the two tables), then for each entry a (length, offset) pair of its original
// and of its translation; every string ends with a zero byte that its length does not count. A
// catalog that does not read as such gives no entries: the texts stay Japanese.
Catalog read_catalog(const unsigned char* mo, std::size_t size) {
    Catalog catalog;
    if (size < 20) return catalog;
    const auto read_le = [mo](std::size_t at) {
        return uint32_t{mo[at]} | uint32_t{mo[at + 1]} << 8 | uint32_t{mo[at + 2]} << 16 |
               uint32_t{mo[at + 3]} << 24;
    };
    const uint32_t magic = read_le(0);
    if (magic != 0x950412DEu && magic != 0xDE120495u) return catalog;
    const bool big_endian = magic == 0xDE120495u;
    const auto word = [&](std::size_t at) -> uint64_t {
        const uint32_t v = read_le(at);
        return big_endian ? __builtin_bswap32(v) : v;
    };
    const uint64_t count = word(8), originals = word(12), translations = word(16);
    if (originals + count * 8 > size || translations + count * 8 > size) return catalog;
    const auto string_at = [&](uint64_t table, uint64_t index, std::string_view* out) {
        const uint64_t length = word(table + index * 8), offset = word(table + index * 8 + 4);
        if (offset + length >= size || mo[offset + length] != 0) return false;
        *out = std::string_view(reinterpret_cast<const char*>(mo + offset), length);
        return true;
    };
    for (uint64_t i = 0; i < count; ++i) {
        std::string_view original, translation;
        if (!string_at(originals, i, &original) || !string_at(translations, i, &translation))
            return {};
        // The empty original is the catalog's own header.
        if (!original.empty() && !translation.empty())
            catalog.emplace(original, translation.data());
    }
    return catalog;
}

const Catalog& english() {
    static const Catalog catalog = read_catalog(vireo_catalog_en, vireo_catalog_en_size);
    return catalog;
}

}  // namespace

void set_language(Language language) {
    g_language = language;
}

Language current_language() {
    return g_language;
}

bool parse_language(const std::string& text, Language* language) {
    if (text == "ja") {
        *language = Language::Japanese;
    } else if (text == "en") {
        *language = Language::English;
    } else {
        return false;
    }
    return true;
}

Language language_from_environment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) {
            return std::string_view(value).starts_with("ja") ? Language::Japanese
                                                             : Language::English;
        }
    }
    return Language::English;
}

const char* tr_ja(const char* text) {
    if (!text || g_language == Language::Japanese) return text;
    const auto found = english().find(text);
    return found == english().end() ? text : found->second;
}

std::string tr_ja(const std::string& text) {
    if (g_language == Language::Japanese) return text;
    const auto found = english().find(text);
    return found == english().end() ? text : found->second;
}
