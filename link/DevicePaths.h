#pragma once
#include <memory>
#include <string>
#include <vector>

#include "link/HidBackend.h"

// A backend that shows only some interface paths of another (the ones a user chose, or
// one programmer of a shelf), so a search and its refusals concern those paths alone.
// Paths compare ignoring case, as removals do.
std::unique_ptr<HidBackend> OnlyDevicePaths(HidBackend& inner, std::vector<std::string> paths);

// Whether two interface paths name the same interface (letter case aside).
bool SameDevicePath(const std::string& a, const std::string& b);
