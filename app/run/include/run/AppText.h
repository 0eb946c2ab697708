// The string table of the main window and the upgrade run. Both front ends
// show these texts unchanged.
#pragma once

namespace AppText {

inline constexpr const wchar_t* kDialogCaption = L"Flashwright";                   // dialog 102
inline constexpr const wchar_t* kAboutMenuItem = L"About Flashwright(&A)...";      // 101
inline constexpr const wchar_t* kAboutCaption = L"About Flashwright";              // dialog 100
inline constexpr const wchar_t* kAboutVersion = L"Flashwright, 1, 0, 2106, 9211";  // dialog 100
inline constexpr const wchar_t* kAboutOk = L"OK";

inline constexpr const wchar_t* kHistoryMenuItem = L"Upgrade History...";
inline constexpr const wchar_t* kHistoryCaption = L"Upgrade History";
inline constexpr const wchar_t* kHistorySaveCsv = L"Save as CSV...";
inline constexpr const wchar_t* kHistoryClose = L"Close";
inline constexpr const wchar_t* kHistoryNotWritten = L"The run was not added to the upgrade history: ";

inline constexpr const wchar_t* kSelectDevicesGroup = L"Select  Devices";  // two blanks
inline constexpr const wchar_t* kUpdateDevices = L"Update Devices";        // 1001
inline constexpr const wchar_t* kSelectAll = L"Select All";                // 1002
inline constexpr const wchar_t* kSelectNone = L"Select None";              // 1003
inline constexpr const wchar_t* kBeginUpgrade = L"Begin Upgrade";          // 1000

inline constexpr const wchar_t* kColumnDeviceModel = L"Device Model";          // 107
inline constexpr const wchar_t* kColumnSerialNumber = L"SN";                   // 108
inline constexpr const wchar_t* kColumnGuid = L"GUID";                         // 120
inline constexpr const wchar_t* kColumnDeviceVersion = L"Device Version";      // 109
inline constexpr const wchar_t* kColumnFirmwareVersion = L"Firmware Version";  // 110
inline constexpr const wchar_t* kColumnFactoryVersion = L"Factory Version";    // 111
inline constexpr const wchar_t* kColumnXmlVersion = L"XML Version";            // 112
inline constexpr const wchar_t* kColumnStatus = L"Status";                     // 113
inline constexpr const wchar_t* kColumnTime = L"Time(s)";                      // 114

inline constexpr const wchar_t* kProducerFileName = L"ZvU3VTL.cti";  // 116

inline constexpr const wchar_t* kSelectDeviceFirst = L"Please select device first.";                   // 121
inline constexpr const wchar_t* kReenumerateDevices = L"Please reenumerate the devices";               // 133
inline constexpr const wchar_t* kParseResourceFailed = L"Failed to parse resource file!";              // 1008
inline constexpr const wchar_t* kCreateTempFileFailed = L"Failed to create temporary file!";           // 1009
inline constexpr const wchar_t* kUpgradeInProgress = L"Upgrading is proceeding, please close later!";  // 1010

// The line under the list while a run goes on; the row texts of the wait.
inline constexpr const wchar_t* kPhaseWriting = L"Writing: %d of %d cameras done";
inline constexpr const wchar_t* kPhaseRestarting = L"Waiting for %d camera%ls to restart: %d s left";
inline constexpr const wchar_t* kPhaseRestoring = L"Restoring user parameters...";
inline constexpr const wchar_t* kRowRestarting = L"Restarting...";
inline constexpr const wchar_t* kRowNotBack = L"Not back";
// A camera found again while others are still awaited: its outcome follows
// once the wait and the parameter restore are over.
inline constexpr const wchar_t* kRowBack = L"Back";
// The firmware cell of a camera that came back: the release's version, or not.
inline constexpr const wchar_t* kVerifiedMark = L" \u2714";
inline constexpr const wchar_t* kNotVerifiedFormat = L"Not verified: %ls (expected %ls)";

// The burn-time column's format.
inline constexpr const wchar_t* kBurnTimeFormat = L"%.3f S";

}  // namespace AppText
