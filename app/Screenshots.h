#pragma once
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <string>

class SimulatedBackend;

// Renders the main window (a file loaded, the job stored and described) and every other
// dialog into PNG files in `directory`, against the simulated programmer at
// `programmerPath`. Message boxes are not shown meanwhile. Returns 0 when every picture
// was written, 1 otherwise.
int RenderScreenshots(SimulatedBackend& simulator, const std::string& programmerPath,
                      const QString& directory);

// Intel HEX text of `size` bytes of a recognisable pattern at `address`, with extended
// linear address records and an end-of-file record.
QByteArray SampleHexText(std::uint32_t address, std::uint32_t size);
