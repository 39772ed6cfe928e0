// The running program's own compiled resources, kept in the emulated process.
#include "program_resources.h"

#include <string>
#include <utility>

#include "emulated_process.h"
#include "emulator_error.h"

namespace w95 {

namespace {

std::string ProgramSource() {
    const std::string &program = TheMachine().programName;
    return (program.empty() ? "program" : program) + ".res";
}

}  // namespace

void UseProgramResources(std::optional<std::vector<std::uint8_t>> bytes) {
    ProgramResourceState &state = Process().resources;
    state.replacementBytes = std::move(bytes);
    state.file.reset();
    state.read = false;
}

const ResourceFile *ProgramResources() {
    ProgramResourceState &state = Process().resources;
    if (!state.read) {
        ResourceBytes bytes;
        if (state.replacementBytes)
            bytes = *state.replacementBytes;
        else if (W95ResourceBytes && &W95ResourceSize)
            bytes = ResourceBytes(W95ResourceBytes, W95ResourceSize);
        if (!bytes.empty()) {
            try {
                state.file = ReadResourceFile(bytes);
            } catch (const EmulatorFailure &e) {
                throw EmulatorFailure(ProgramSource() + ": " + e.what());
            }
            state.file->source = ProgramSource();
        }
        state.read = true;
    }
    return state.file ? &*state.file : nullptr;
}

}  // namespace w95
