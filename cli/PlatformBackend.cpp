#include "cli/PlatformBackend.h"

#ifdef _WIN32
#include "link/WindowsHidBackend.h"

std::unique_ptr<HidBackend> MakePlatformBackend() { return std::make_unique<WindowsHidBackend>(); }
#else
#include "link/HidapiBackend.h"

std::unique_ptr<HidBackend> MakePlatformBackend() { return std::make_unique<HidapiBackend>(); }
#endif
