// Feeds arbitrary text to the script assembler: it must report errors, never
// crash, and leave the model untouched when it fails.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "builder/assembler.h"
#include "datablock/opcodes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string source(reinterpret_cast<const char*>(data), size);
    quillmar::DataBlockModel model;
    model.add_payload({1, 2, 3});
    quillmar::PayloadResolver payloads = [](const std::string& name, size_t& payload, std::string& error) {
        if (name != "a") {
            error = "no such payload";
            return false;
        }
        payload = 0;
        return true;
    };
    quillmar::AssembleResult result = quillmar::assemble(source, model, "fuzz.toml", 1, quillmar::windows_1252(), payloads);
    if (!result.ok() && (!model.entries.empty() || !model.pool.bytes().empty() || !model.block_references.empty()))
        std::abort();
    if (result.ok() && !result.entries.empty() && result.entries.back().opcode != OP_RETURN) std::abort();
    return 0;
}
