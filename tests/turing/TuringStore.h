#pragma once
// A real settings store in a temporary folder, with the auto-responder switched on.
#include "../support/TestSupport.h"
#include "platform/SqliteRegistry.h"
#include "settings/Options.h"
#include "turing/TuringRules.h"

#include <ostream>

inline void PrintTo(const TuringResponse& r, std::ostream* os)
{
    *os << "{" << r.Probability << "%, " << r.MinDelay << ".." << r.MaxDelay << " s, \""
        << r.Message << "\"}";
}

inline void PrintTo(const TuringRule& rule, std::ostream* os)
{
    *os << "{\"" << rule.Name << "\", \"" << rule.Condition << "\", [";
    for (const auto& r : rule.Responses)
        PrintTo(r, os);
    *os << "]}";
}

struct TuringStore
{
    TempDir dir;
    CSqliteRegistry registry{dir.File("registry.sqlite3")};
    FakeSystemInfo system;
    COptions options{registry, system, false};

    explicit TuringStore(bool on = true) { options.Set(Opt::Turing, on ? 1 : 0); }

    void StoreRule(int n, const std::string& condition, std::vector<std::string> responses)
    {
        std::string name = "R";
        name += std::to_string(n + 1);
        options.WriteRule(n, StoredRule{name, condition, responses});
    }
};
