#include "System.h"

#include <cstdlib>
#include <utility>
#include <vector>

#include "Windows.h"

namespace {

struct UnitEnd {
    std::string Name;
    std::function<void()> End;
};

// The end steps of the units started so far, in start order.
std::vector<UnitEnd>& UnitEnds() {
    static std::vector<UnitEnd> ends;
    return ends;
}

}  // namespace

void InitializeUnit(const std::string& name, const std::function<void()>& start, std::function<void()> end) {
    if (start) start();
    if (end) UnitEnds().push_back({name, std::move(end)});
}

void FinalizeUnits() {
    auto& ends = UnitEnds();
    // Taken one at a time, so an end step that halts cannot run twice.
    while (!ends.empty()) {
        const std::function<void()> end = std::move(ends.back().End);
        ends.pop_back();
        end();
    }
}

void Halt(int exitCode) {
    FinalizeUnits();
    std::exit(exitCode);
}

void ShowMessage(const std::string& text) { MessageBoxA(nullptr, text.c_str(), "dot3demo", MB_OK); }
