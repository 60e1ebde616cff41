// The rastik command-line tool: dispatches to the registered subcommands.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "rastik/Command.h"
#include "rastik/rastik.h"

namespace {

std::vector<RastikCommand>& Commands()
{
    static std::vector<RastikCommand> commands;
    return commands;
}

void PrintHelp(FILE* out)
{
    fprintf(out, "usage: rastik COMMAND [OPTIONS] ARGS...\n\ncommands:\n");
    for (const RastikCommand& c : Commands()) fprintf(out, "  %-8s %s\n           %s\n", c.name, c.usage, c.summary);
    fprintf(out, "\nrastik COMMAND --help shows the options of one command; rastik --version the version.\n");
}

}  // namespace

void AddRastikCommand(const RastikCommand& command)
{
    Commands().push_back(command);
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        PrintHelp(stderr);
        return kExitUsage;
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintHelp(stdout);
        return kExitOk;
    }
    if (name == "--version") {
        printf("rastik %s\n", RASTIK_VERSION);
        return kExitOk;
    }
    for (const RastikCommand& c : Commands()) {
        if (name == c.name) {
            std::vector<std::string> args(argv + 2, argv + argc);
            return c.run(args);
        }
    }
    fprintf(stderr, "rastik: unknown command '%s'\n", name.c_str());
    PrintHelp(stderr);
    return kExitUsage;
}
