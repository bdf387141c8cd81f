#pragma once
// What both korva test files hand to posix_spawn: the program with its arguments, and this
// process's environment without KORVA_PORT (a test names its port) plus the test's own entries.
// The strings own the text; Pointers() gives the null-ended array posix_spawn takes.

#include <string>
#include <unistd.h>
#include <vector>

#ifndef KORVA_PROGRAM
#error "KORVA_PROGRAM names the korva program under test"
#endif

struct TSpawnStrings {
    std::vector<std::string> Items;
    std::vector<char*> Pointers() {
        std::vector<char*> out;
        for (std::string& item : Items)
            out.push_back(item.data());
        out.push_back(nullptr);
        return out;
    }
};

inline TSpawnStrings KorvaArguments(const std::vector<std::string>& args) {
    TSpawnStrings argv{{KORVA_PROGRAM}};
    argv.Items.insert(argv.Items.end(), args.begin(), args.end());
    return argv;
}

inline TSpawnStrings KorvaEnvironment(const std::vector<std::string>& extra) {
    TSpawnStrings envs;
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("KORVA_PORT=", 0) != 0)
            envs.Items.push_back(*e);
    envs.Items.insert(envs.Items.end(), extra.begin(), extra.end());
    return envs;
}
