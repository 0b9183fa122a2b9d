#pragma once
#include <benchmark/benchmark.h>

#include "job/UploadJob.h"

// A port that shows nothing, as a face that ignores progress would.
class QuietPort : public UploadPort {
  public:
    QuietPort(ProgrammerLink& link, ImageWorkspace& workspace)
        : link_(link), workspace_(workspace) {}
    ProgrammerLink& Link() override { return link_; }
    ImageWorkspace& Workspace() override { return workspace_; }
    JobSettings CurrentJobSettings() override { return {}; }
    void SetProgressRange(std::uint32_t) override {}
    void SetProgressPosition(std::uint32_t position) override {
        benchmark::DoNotOptimize(position);
    }
    void ShowMessage(MessageIcon, std::string_view) override {}
    void SetProgramEnabled(bool) override {}
    void ShowJobDescription(const JobDescription&) override {}

  private:
    ProgrammerLink& link_;
    ImageWorkspace& workspace_;
};
