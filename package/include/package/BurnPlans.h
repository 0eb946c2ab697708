// The burn plans of one upgrade run: one plan per model, built by the first
// worker that needs it and then shared, read-only, by every worker of that
// model. Workers of other models never wait for it.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

class CUpgradeFile;

class CBurnPlanSet {
public:
    CBurnPlanSet() = default;
    CBurnPlanSet(const CBurnPlanSet&) = delete;
    CBurnPlanSet& operator=(const CBurnPlanSet&) = delete;

    // The model's prepared plan from the run's package configuration, built on
    // the first call for the model; a caller that comes while it is being built
    // waits for it. Null when the burn list cannot be loaded or a region cannot
    // be prepared; the model's later calls answer null too, without a retry.
    std::shared_ptr<const CUpgradeFile> GetPlan(const std::wstring& model);

    // How many plans were built (each model at most once).
    int GetBuildCount() const;

private:
    struct ModelPlan {
        std::mutex mutex;  // held while the plan is built
        bool built = false;
        std::shared_ptr<const CUpgradeFile> plan;
    };

    mutable std::mutex m_mutex;  // guards the map and the count
    std::map<std::wstring, std::shared_ptr<ModelPlan>> m_plans;
    int m_buildCount = 0;
};
