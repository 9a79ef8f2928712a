// Desktop services: message boxes, file and folder requesters, opening URLs.
// Texts are UTF-8. All of these block the calling (main) thread until the
// user answers and fail quietly without a display.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vrl::platform {

enum class MessageBoxKind { Notify, Confirm, Proceed };

/// A modal box over the active window, with the exclamation sign when
/// `serious`, else the information sign; the keyboard focus goes back to the
/// window that had it. Results: Notify 0; Confirm 1 for OK, else 0; Proceed
/// 1 Yes, 0 No, -1 Cancel. A box that cannot be shown answers 0, 0 and -1.
int32_t ShowMessageBox(MessageBoxKind kind, const std::string& caption, const std::string& text,
                       bool serious);

/// One filter group of a file requester: a description and its patterns
/// separated by ";" ("*.png;*.jpg").
struct FileFilterGroup {
  std::string description;
  std::string patterns;
};

/// The file requester (zenity, when it is installed). `preselected` is the
/// 1-based group shown first (0: the first group). `directory` and `file`
/// preset the dialog. Returns the chosen path, or "" when the dialog was
/// cancelled or cannot be shown.
std::string RequestFileWithDialog(const std::string& title, const std::vector<FileFilterGroup>& groups,
                                  int32_t preselected, bool save, const std::string& directory,
                                  const std::string& file);
/// The folder requester, starting at `path`. "" when cancelled or unavailable.
std::string RequestDirWithDialog(const std::string& title, const std::string& path);

/// Hands the URL to the desktop's opener (xdg-open) and reports its answer:
/// false when no opener is installed, it could not be started, or it failed
/// (no handler for the URL). An opener still running after 5 seconds has
/// started a handler and counts as accepted.
bool OpenUrlWithDesktop(const std::string& url);

/// True when an executable of that name is found on PATH.
bool ProgramOnPath(const std::string& name);

}  // namespace vrl::platform
