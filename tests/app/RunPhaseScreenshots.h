// Pictures of a run of 32 simulated cameras as the operator follows it: the
// bars while they write, the wait for them to restart, and the summary, at
// the window's first size and maximised. Each picture goes through save;
// fail says why a picture could not be made. Whatever drives the screenshots
// calls RunPhaseScenes once (flashwright_screenshots, scene "phases").
#pragma once

#include <QString>

#include <functional>
#include <string>

class QWidget;

namespace screenshots {

using SaveFn = std::function<void(const QString& name, QWidget* widget)>;
using FailFn = std::function<void(const std::string& reason)>;

// flashwright-writing.png, flashwright-restart-wait.png, flashwright-summary.png
// and the same three with "-maximised" before ".png".
void RunPhaseScenes(const SaveFn& save, const FailFn& fail);

}  // namespace screenshots
