// The camera list both front ends work on: one row per enumerated camera, the
// rule that decides which rows may be ticked, and the selection commands
// (Select All, Select None, a check-box click, Enter on a row, naming cameras
// on the command line). The dialog paints what this holds; flashwright-cli
// selects through it, so both apply the same rules.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

class CU3VDevice;

class CCameraRows {
public:
    // A camera that may be ticked: opened, and its model is one of the
    // package's. An unsupported camera's status becomes "Don't support upgrade".
    static bool IsEligible(CU3VDevice& camera, const std::vector<std::wstring>& models);

    // What a selection command answers.
    enum class EAnswer {
        kDone,
        // The rows show cameras of a finished run: every command but "Update
        // Devices" is refused with kReenumerateDevices.
        kReenumerate,
        kNothingSelected,  // "Begin Upgrade" with no row ticked: kSelectDeviceFirst
    };
    // The text the front end shows for a refusal; null for kDone.
    static const wchar_t* RefusalText(EAnswer answer);

    // New rows from a fresh enumeration, in its order, nothing ticked; the
    // rows may be used again.
    void Fill(const std::vector<CU3VDevice*>& cameras, const std::vector<std::wstring>& models);
    // After a run, once the cameras were found again: new rows, the cameras
    // that came back ticked, and every command refused until the next Fill.
    void FillAfterRun(const std::vector<CU3VDevice*>& cameras, const std::vector<std::wstring>& models);
    // The producer was released: the rows stay on screen with their ticks,
    // but no row has a camera any more.
    void Release();

    std::size_t Count() const { return m_rows.size(); }
    // The row's camera; null out of range or once released.
    CU3VDevice* CameraAt(int row) const;
    bool IsEligible(int row) const;
    bool IsTicked(int row) const { return m_ticked.count(row) != 0; }
    std::vector<int> TickedRows() const { return {m_ticked.begin(), m_ticked.end()}; }
    bool NeedsReenumeration() const { return m_needsReenumeration; }

    EAnswer SelectAll();
    EAnswer SelectNone();
    // A click on the row's check box that asks for the given state. Returns
    // whether the row is ticked afterwards: a refused click, a row without a
    // camera or an ineligible one keeps or loses the tick accordingly.
    bool Click(int row, bool ticked, EAnswer* answer = nullptr);
    // Enter on the focused row: unticks a ticked row, ticks an eligible one.
    EAnswer Toggle(int row);

    // "Begin Upgrade": the cameras of the ticked rows in row order. Only rows
    // whose camera is still the one they were filled with are started.
    EAnswer CamerasToStart(std::vector<CU3VDevice*>& cameras) const;

    // Why a camera named on the command line cannot be selected.
    enum class ENameProblem {
        kNoCamera,     // no row has this serial number or device id
        kInUse,        // the producer reports it held by another process
        kNotOpened,    // the producer would not open it
        kUnsupported,  // its model is not one of the package's
    };
    struct NameRefusal {
        std::string name;
        ENameProblem problem;
        CU3VDevice* camera;  // null for kNoCamera
    };
    // Ticks the row of every camera named (serial number of an opened camera,
    // or device id). Returns the cameras in the order first named; the names
    // that match no eligible camera are reported instead.
    std::vector<CU3VDevice*> SelectNamed(const std::vector<std::string>& names, std::vector<NameRefusal>& refusals);
    // The row of the camera with this device id; -1 when none.
    int FindDeviceId(const std::string& deviceId) const;

private:
    struct Row {
        CU3VDevice* camera;
        std::string deviceId;  // as enumerated, to tell a changed record from the filled one
    };

    bool __IsCurrent(int row) const;
    void __Tick(int row);

    std::vector<Row> m_rows;
    std::vector<std::wstring> m_models;
    std::set<int> m_ticked;  // walked in ascending row order
    bool m_needsReenumeration = false;
};
