#include "cameras/Engines.h"

#include "state/AppState.h"
#include "fetch/CopyHelper.h"

#include <algorithm>
#include <iterator>
#include <memory>

void AddEngine(AppState &state)
{
    state.CopyHelpers.push_back(std::make_unique<CopyHelper>(state.platform, state.TimerNames));
}

void RemoveEngineOf(AppState &state, const CopyHelperParent *removed)
{
    auto &engines = state.CopyHelpers;
    if (engines.empty())
        return;
    auto chosen = std::find_if(engines.begin(), engines.end(),
                               [removed](const auto &e) { return e->isBusy() && e->parent() == removed; });
    if (chosen == engines.end()) {
        const auto idle = std::find_if(engines.rbegin(), engines.rend(), [](const auto &e) { return !e->isBusy(); });
        chosen = idle == engines.rend() ? engines.end() - 1 : std::prev(idle.base());
    }
    std::unique_ptr<CopyHelper> engine = std::move(*chosen);
    engines.erase(chosen);
    if (engine->isBusy())
        state.RetiredHelpers.push_back(std::move(engine));
}

void ReleaseRetiredEngines(AppState &state)
{
    if (state.LimitCheckRunning)
        return;
    auto &retired = state.RetiredHelpers;
    retired.erase(std::remove_if(retired.begin(), retired.end(), [](const auto &e) { return !e->isBusy(); }),
                  retired.end());
}
