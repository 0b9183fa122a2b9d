#include "cli/PlatformBackend.h"

#include "link/HidapiBackend.h"

std::unique_ptr<HidBackend> MakePlatformBackend() { return std::make_unique<HidapiBackend>(); }
