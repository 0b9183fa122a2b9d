#pragma once
#include <memory>

#include "link/HidBackend.h"

// The real HID access of this platform.
std::unique_ptr<HidBackend> MakePlatformBackend();
