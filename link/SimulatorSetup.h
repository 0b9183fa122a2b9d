#pragma once
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/SimulatedBackend.h"
#include "link/SimulatedFaults.h"
#include "link/SimulatedProgrammer.h"

// The simulated programmers a program runs against instead of hardware, set up the same
// way for the command line and the window: N programmers "sim:programmer-K" with USB
// serial numbers "SIMK", their memory kept in a file (one programmer) or a folder (one
// file each), their pace and their faults.

// A fault and the programmer it is aimed at ("2:WriteStorage:status@5"); without an aim
// it is every programmer's.
struct AimedFault {
    std::optional<std::size_t> programmer;
    Fault fault;
};
// nullopt with `error` set for an aim outside 0..programmers-1 or a fault that does not parse.
std::optional<AimedFault> ParseAimedFault(std::string_view text, std::size_t programmers,
                                          std::string& error);

struct SimulatorRequest {
    std::size_t count = 1;
    std::optional<std::uint32_t> programmerVersion;  // unset: the simulator's default
    std::optional<std::uint32_t> firmwareVersion;
    std::uint32_t latencyUs = 0;  // 0: every answer at once; else a programmer's own pace
    std::filesystem::path state;  // empty: nothing is kept
    std::vector<AimedFault> faults;
};

struct SimulatedShelf {
    std::unique_ptr<SimulatedBackend> backend;
    std::vector<SimulatedProgrammer*> programmers;  // owned by backend, in order
    // Options a kept memory overrides (its version words), said rather than ignored.
    std::vector<std::string> notes;
};

struct SimulatorSetupError {
    bool inUse = false;   // a state file is held by another program
    std::string message;  // what the user is told
};

// The file that keeps programmer `index`'s memory: the state itself for one programmer,
// "programmer-K.bin" in the state folder for several.
std::filesystem::path SimulatorStateFile(const SimulatorRequest& request, std::size_t index);

// Makes the programmers and loads their kept memory. A refused state file (unreadable,
// of another size, held by another program) fails the whole set-up: nothing of the run
// is kept, so the refused file is never written over.
std::optional<SimulatedShelf> SetUpSimulator(const SimulatorRequest& request,
                                             SimulatorSetupError& error);

// Keeps every programmer's memory where the request says; true when there is nothing to keep.
bool SaveSimulatorState(const SimulatedShelf& shelf, const SimulatorRequest& request,
                        std::string& error);
