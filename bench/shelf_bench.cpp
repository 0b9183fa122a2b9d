// The window's shelf at USB speed: "store into all" of one 16 KiB job into 1 and into 4
// simulated programmers, each exchange taking 1000 us (the simulator's pace of
// --sim-latency-us 1000), through the shelf's session as the window drives it. Four
// programmers should take about the time of one.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "link/SimulatorSetup.h"
#include "session/ShelfSession.h"
#include "tests/session/SessionRecorders.h"

namespace {

class QuietShelfView : public ShelfView {
public:
    void ShowShelf(bool) override {}
    void ShowTiles(const std::vector<ShelfTile>& all) override { tiles = all; }
    void ShowTile(std::size_t index, const ShelfTile& tile) override { tiles.at(index) = tile; }
    void ShowCounters(const ShelfCounters& shown) override { counters = shown; }
    void AddLogLine(const ShelfLogLine&) override {}
    void SetShelfRunning(bool) override {}
    void ShowText(MessageIcon, const SessionText& text) override {
        throw std::runtime_error(text.msgid);
    }
    std::vector<ShelfTile> tiles;
    ShelfCounters counters;
};

void StoreIntoShelf(benchmark::State& state) {
    const std::size_t count = static_cast<std::size_t>(state.range(0));
    SimulatorRequest request;
    request.count = count;
    request.latencyUs = 1000;
    SimulatorSetupError error;
    std::optional<SimulatedShelf> sim = SetUpSimulator(request, error);
    if (!sim) throw std::runtime_error(error.message);
    // A single programmer's window opens no shelf by itself; the menu item does.
    QueueDispatcher dispatcher;
    RecordingView mainView;
    QuietShelfView view;
    MainDialogSession main(*sim->backend, mainView, dispatcher);
    ShelfSession shelf(*sim->backend, main, view, dispatcher);
    shelf.Start();
    shelf.Show();
    shelf.FinishWorkers(-1);
    main.FinishWorkers(-1);

    const auto file = std::filesystem::temp_directory_path() / "marro-shelf-bench.bin";
    std::ofstream(file, std::ios::binary) << std::string(16 * 1024, '\x5A');
    main.OpenFile(ChosenFile{file, file.string(), "shelf-bench.bin", false});
    mainView.series = 1;
    for (auto _ : state) {
        shelf.StoreIntoAll();
        shelf.FinishWorkers(-1);
    }
    std::filesystem::remove(file);
    if (view.counters.stored != count * state.iterations()) {
        state.SkipWithError("not every programmer holds the job");
    }
    state.counters["programmers"] = static_cast<double>(count);
}

BENCHMARK(StoreIntoShelf)
    ->Arg(1)
    ->Arg(4)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
