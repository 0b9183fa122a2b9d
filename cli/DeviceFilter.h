#pragma once
#include <memory>
#include <string>

#include "link/HidBackend.h"

// A backend that shows only one interface path of another (--device), so the search
// and its refusals concern that path alone. Paths compare ignoring case, as removals do.
std::unique_ptr<HidBackend> OnlyDevicePath(HidBackend& inner, std::string path);
