// Every test program starts in the tool's original language, whatever locale the person
// running it has: the expected texts are the system's own, and a test that wants English
// asks for it (--lang, or a locale it sets for the program it starts). Pinned before main,
// so the first translated text and every child process already see it.
#include <cstdlib>

namespace {

struct OriginalLocale {
    OriginalLocale() {
#ifdef _WIN32
        _putenv_s("LC_ALL", "C.UTF-8");
        _putenv_s("LANGUAGE", "");
#else
        setenv("LC_ALL", "C.UTF-8", 1);
        unsetenv("LANGUAGE");
#endif
    }
};

const OriginalLocale pinned;

}  // namespace
