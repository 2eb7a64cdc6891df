// The texts of a language: every role a description can set, where the stub
// finds it, and the built-in English and French texts used when a
// description leaves a role out.
#pragma once

#include <vector>

namespace quillmar {

// Which data block a language text belongs to.
enum class TextOwner { both, installer, uninstaller };

// One language text: its slot (n >= 0: LanguageRecord dword n; n < 0: page
// text -n-1), whether the stub expands it, the data blocks that have it, and
// the built-in English and French texts (UTF-8).
struct LanguageText {
    const char* name;
    int slot;
    bool expanded;
    TextOwner owner;
    const char* english;
    const char* french;
};

// Every language text, in table order: LanguageRecord roles first, then the
// page texts; the installer's and the uninstaller's.
extern const std::vector<LanguageText> kLanguageTexts;

inline bool has_role(const LanguageText& text, bool uninstaller) {
    return text.owner == TextOwner::both || (text.owner == TextOwner::uninstaller) == uninstaller;
}

}  // namespace quillmar
