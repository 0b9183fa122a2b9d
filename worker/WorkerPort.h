#pragma once
#include <cstdint>
#include <string_view>

// How the workers reach the faces. Every worker takes the port it needs as its only
// argument; each port is declared beside its worker and builds on these sinks. The main
// dialog implements them on the UI thread, the command line on the console, the tests
// with a recorder. Calls may come from a worker thread; an implementation that touches
// widgets must marshal them.

enum class MessageIcon { Error, Exclamation, Question };

// The sinks every worker reports through.
class WorkerSinks {
public:
    virtual ~WorkerSinks() = default;
    virtual void SetProgressRange(std::uint32_t maximum) = 0;  // range 0..maximum
    virtual void SetProgressPosition(std::uint32_t position) = 0;
    // One of the system's fixed texts, in a message box captioned with two EN QUADs.
    virtual void ShowMessage(MessageIcon icon, std::string_view text) = 0;
};
