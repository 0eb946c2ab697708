#include "package/BurnPlans.h"

#include <exception>

#include "package/UpgradeFile.h"
#include "support/Platform.h"

std::shared_ptr<const CUpgradeFile> CBurnPlanSet::GetPlan(const std::wstring& model) {
    std::shared_ptr<ModelPlan> entry;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::shared_ptr<ModelPlan>& slot = m_plans[model];
        if (!slot) slot = std::make_shared<ModelPlan>();
        entry = slot;
    }
    std::lock_guard<std::mutex> building(entry->mutex);
    if (entry->built) return entry->plan;
    entry->built = true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_buildCount;
    }
    try {
        auto plan = std::make_shared<CUpgradeFile>();
        // The plan is the model's, not a camera's: the model name stands in
        // for the device identifier.
        if (plan->LoadBurnList(model, platform::WideToAnsi(model).c_str()) && plan->PrepareBurnFiles())
            entry->plan = std::move(plan);
    } catch (const std::exception&) {
        entry->plan.reset();
    }
    return entry->plan;
}

int CBurnPlanSet::GetBuildCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_buildCount;
}
