#pragma once
#include <string>
#include <vector>

namespace platform::gtk {

// True when the machine has no GPU render node, so that every frame is drawn by the CPU.
bool softwareRenderingOnly();

// Called before the toolkit opens the display. Without a GPU, views draw straight into their
// windows and the UI process never needs GL; setting it up anyway (a software GL for the display's
// visuals and for the engine's buffer sharing) costs a fifth of a second at start and megabytes.
// Variables the user set stay as they are.
void leaveGlUnusedWithoutGpu();

// The variables leaveGlUnusedWithoutGpu set: they are ours, not the user's, and stay out of the
// programs we open.
const std::vector<std::string>& variablesSetForSoftwareRendering();

} // namespace platform::gtk
