#include "run/CameraRows.h"

#include <algorithm>

#include "camera/U3VDevice.h"
#include "run/AppText.h"
#include "run/UpgradeRun.h"

bool CCameraRows::IsEligible(CU3VDevice& camera, const std::vector<std::wstring>& models) {
    return camera.IsOpened() && IsModelSupported(models, camera);
}

const wchar_t* CCameraRows::RefusalText(EAnswer answer) {
    switch (answer) {
        case EAnswer::kDone: return nullptr;
        case EAnswer::kReenumerate: return AppText::kReenumerateDevices;
        case EAnswer::kNothingSelected: return AppText::kSelectDeviceFirst;
    }
    return nullptr;
}

void CCameraRows::Fill(const std::vector<CU3VDevice*>& cameras, const std::vector<std::wstring>& models) {
    m_rows.clear();
    m_ticked.clear();
    m_models = models;
    for (CU3VDevice* camera : cameras) m_rows.push_back({camera, camera->GetDeviceID()});
    m_needsReenumeration = false;
}

void CCameraRows::FillAfterRun(const std::vector<CU3VDevice*>& cameras, const std::vector<std::wstring>& models) {
    Fill(cameras, models);
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (CUpgradeRun::HasReturned(*m_rows[i].camera, m_models)) m_ticked.insert(static_cast<int>(i));
    m_needsReenumeration = true;
}

void CCameraRows::Release() {
    for (Row& row : m_rows) row.camera = nullptr;
}

bool CCameraRows::__IsCurrent(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= m_rows.size()) return false;
    const Row& entry = m_rows[static_cast<std::size_t>(row)];
    return entry.camera != nullptr && entry.camera->GetDeviceID() == entry.deviceId;
}

CU3VDevice* CCameraRows::CameraAt(int row) const {
    return __IsCurrent(row) ? m_rows[static_cast<std::size_t>(row)].camera : nullptr;
}

bool CCameraRows::IsEligible(int row) const {
    CU3VDevice* camera = CameraAt(row);
    return camera != nullptr && IsEligible(*camera, m_models);
}

void CCameraRows::__Tick(int row) {
    if (IsEligible(row)) m_ticked.insert(row);
}

CCameraRows::EAnswer CCameraRows::SelectAll() {
    if (m_needsReenumeration) return EAnswer::kReenumerate;
    m_ticked.clear();
    for (std::size_t i = 0; i < m_rows.size(); ++i) __Tick(static_cast<int>(i));
    return EAnswer::kDone;
}

CCameraRows::EAnswer CCameraRows::SelectNone() {
    if (m_needsReenumeration) return EAnswer::kReenumerate;
    m_ticked.clear();
    return EAnswer::kDone;
}

bool CCameraRows::Click(int row, bool ticked, EAnswer* answer) {
    if (answer != nullptr) *answer = m_needsReenumeration ? EAnswer::kReenumerate : EAnswer::kDone;
    // The rows of a finished run show released cameras: they stay as the run
    // left them until "Update Devices".
    if (m_needsReenumeration) return IsTicked(row);
    if (ticked)
        __Tick(row);
    else
        m_ticked.erase(row);
    return IsTicked(row);
}

CCameraRows::EAnswer CCameraRows::Toggle(int row) {
    if (m_needsReenumeration) return EAnswer::kReenumerate;
    if (IsTicked(row))
        m_ticked.erase(row);
    else
        __Tick(row);
    return EAnswer::kDone;
}

CCameraRows::EAnswer CCameraRows::CamerasToStart(std::vector<CU3VDevice*>& cameras) const {
    cameras.clear();
    if (m_needsReenumeration) return EAnswer::kReenumerate;
    for (const int row : m_ticked)
        if (IsEligible(row)) cameras.push_back(CameraAt(row));
    return cameras.empty() ? EAnswer::kNothingSelected : EAnswer::kDone;
}

std::vector<CU3VDevice*> CCameraRows::SelectNamed(const std::vector<std::string>& names,
                                                  std::vector<NameRefusal>& refusals) {
    std::vector<CU3VDevice*> selected;
    for (const std::string& name : names) {
        int found = -1;
        for (std::size_t i = 0; i < m_rows.size() && found < 0; ++i) {
            CU3VDevice* camera = CameraAt(static_cast<int>(i));
            if (camera == nullptr) continue;
            // A camera that cannot be opened is known by the serial number its producer lists.
            const bool serialMatches = camera->IsOpened() ? FieldText(camera->GetDeviceInfo().serialNumber) == name
                                                          : !name.empty() && camera->GetProducerSerial() == name;
            if (serialMatches || camera->GetDeviceID() == name) found = static_cast<int>(i);
        }
        if (found < 0) {
            refusals.push_back({name, ENameProblem::kNoCamera, nullptr});
            continue;
        }
        CU3VDevice* camera = CameraAt(found);
        if (!camera->IsOpened()) {
            refusals.push_back({name,
                                camera->GetOpenResult() == gentl::GC_ERR_RESOURCE_IN_USE ? ENameProblem::kInUse
                                                                                         : ENameProblem::kNotOpened,
                                camera});
        } else if (!IsEligible(found)) {
            refusals.push_back({name, ENameProblem::kUnsupported, camera});
        } else {
            m_ticked.insert(found);
            if (std::find(selected.begin(), selected.end(), camera) == selected.end()) selected.push_back(camera);
        }
    }
    return selected;
}

int CCameraRows::FindDeviceId(const std::string& deviceId) const {
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (CameraAt(static_cast<int>(i)) != nullptr && m_rows[i].deviceId == deviceId) return static_cast<int>(i);
    return -1;
}
