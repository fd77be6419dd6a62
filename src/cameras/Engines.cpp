#include "cameras/Engines.h"

#include "state/AppState.h"
#include "fetch/CopyHelper.h"

#include <algorithm>
#include <memory>

void AddEngine(AppState &state)
{
    state.CopyHelpers.push_back(std::make_unique<CopyHelper>(state.platform, state.TimerNames));
}

void RemoveLastEngine(AppState &state)
{
    if (state.CopyHelpers.empty())
        return;
    std::unique_ptr<CopyHelper> engine = std::move(state.CopyHelpers.back());
    state.CopyHelpers.pop_back();
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
