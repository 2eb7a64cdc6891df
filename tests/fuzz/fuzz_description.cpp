// Feeds arbitrary text to the description loader: errors, never a crash, and
// the model is replaced only on success.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "builder/description.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    quillmar::DataBlockModel model;
    std::vector<quillmar::Diagnostic> errors;
    // No payload or license file can be read from this directory.
    bool ok = quillmar::load_description(text, "fuzz.toml", "/nonexistent-fuzz-dir", model, errors);
    if (ok != errors.empty()) std::abort();
    if (!ok && (!model.entries.empty() || !model.languages.empty() || !model.pool.bytes().empty())) std::abort();
    return 0;
}
