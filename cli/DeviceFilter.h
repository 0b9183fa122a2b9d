#pragma once
#include <memory>
#include <string>
#include <vector>

#include "link/HidBackend.h"

// A backend that shows only some interface paths of another (--device), so the search
// and its refusals concern those paths alone. Paths compare ignoring case, as removals do.
std::unique_ptr<HidBackend> OnlyDevicePaths(HidBackend& inner, std::vector<std::string> paths);

// Whether two interface paths name the same interface (letter case aside).
bool SameDevicePath(const std::string& a, const std::string& b);

// The refusal to guess among several attached programmers.
inline constexpr const char* kMsgSeveralAttached =
    "several programmers attached: choose one with --device, or --all";
