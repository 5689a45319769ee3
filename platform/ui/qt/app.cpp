// The entry of every dialog program: backend, scripted run, then the program's body.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wce/dialogapp.h"

namespace wce::ui {

namespace {

// "--name VALUE" or "--name=VALUE"; true when argv[i] is the option (i moves past it).
bool TakeOption(int argc, char** argv, int& i, const char* name, std::string& value,
                bool& missing) {
    size_t n = std::strlen(name);
    if (std::strncmp(argv[i], name, n) != 0) return false;
    if (argv[i][n] == '=') {
        value = argv[i] + n + 1;
        return true;
    }
    if (argv[i][n] != '\0') return false;
    if (i + 1 >= argc) {
        missing = true;
        return true;
    }
    value = argv[++i];
    return true;
}

void PrintUsage(std::FILE* to, const char* program) {
    std::fprintf(
        to,
        "usage: %s [--script FILE] [--ui qt|headless]\n"
        "  --script FILE     play the user from FILE, one action a line (click, type, select,\n"
        "                    answer, screenshot, expect-...); a line that cannot be applied\n"
        "                    ends the run with exit code 3\n"
        "  --ui qt|headless  real windows (offscreen without a display), or none at all\n"
        "QX_UI_SCRIPT and QX_UI do the same. Exit codes: 0 done, 2 usage, 3 script failed.\n",
        program);
}

}  // namespace

int RunDialogApp(int argc, char** argv, const std::function<int()>& body,
                 std::vector<std::string>* args) {
    const char* program = argc > 0 && argv[0] ? argv[0] : "program";
    std::string script, backend;
    if (const char* s = std::getenv("QX_UI_SCRIPT"); s && *s) script = s;
    if (const char* b = std::getenv("QX_UI"); b && *b) backend = b;
    std::vector<std::string> rest;
    rest.push_back(program);
    for (int i = 1; i < argc; ++i) {
        bool missing = false;
        if (TakeOption(argc, argv, i, "--script", script, missing) ||
            TakeOption(argc, argv, i, "--ui", backend, missing)) {
            if (missing) {
                std::fprintf(stderr, "%s: %s needs a value\n", program, argv[i]);
                return kUsageExitCode;
            }
            continue;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintUsage(stdout, program);
            return 0;
        }
        // A program that takes no arguments of its own says so rather than ignore one.
        if (!args) {
            std::fprintf(stderr, "%s: unknown argument \"%s\"\n", program, argv[i]);
            PrintUsage(stderr, program);
            return kUsageExitCode;
        }
        rest.push_back(argv[i]);
    }
    if (args) *args = rest;

    if (backend.empty() || backend == "qt") {
        std::string error;
        if (!UseQtBackend(&error)) {
            std::fprintf(stderr, "%s: %s\n", program, error.c_str());
            return kUsageExitCode;
        }
    } else if (backend == "headless") {
        UseHeadlessBackend();
    } else {
        std::fprintf(stderr, "%s: no such user interface \"%s\" (qt or headless)\n", program,
                     backend.c_str());
        return kUsageExitCode;
    }

    std::unique_ptr<ScriptRun> run;
    if (!script.empty()) {
        std::string error;
        run = ScriptRun::FromFile(script, &error);
        if (!run) {
            std::fprintf(stderr, "%s: %s\n", program, error.c_str());
            return kUsageExitCode;
        }
    }
    int result = body();
    if (run && !run->Finish()) {
        std::fprintf(stderr, "%s: script failed: %s\n", program, run->Error().c_str());
        return kScriptFailedExitCode;
    }
    return result;
}

}  // namespace wce::ui
