// Subcommands of the rastik tool register themselves here, so each lives in a
// file of its own.
#pragma once

#include <string>
#include <vector>

struct RastikCommand {
    const char* name;
    const char* usage;    // one line: arguments
    const char* summary;  // one line: what it does
    int (*run)(const std::vector<std::string>& args);
};

// Adds a command; used through a static RegisterCommand object.
void AddRastikCommand(const RastikCommand& command);

struct RegisterCommand {
    explicit RegisterCommand(const RastikCommand& command) { AddRastikCommand(command); }
};

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
