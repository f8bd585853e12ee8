// The manager's small system services: the system's message texts, the
// Windows version code, the system directory, opening documents with the
// shell, the warning box, debug output and the restart. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "link/text_rules.h"

namespace kelm::link {

// Start-up: looks up the WOW64 redirection switches and keeps shell32
// loaded for ShellOpen (without the system's open-file error box).
void InitSystemHelpers();
bool HasWow64RedirectionSwitches();

// The system's text for a message identifier, without its tail (see
// CutMessageTail).
std::u16string SystemMessageText(uint32_t messageId);
// 1 Windows 9x; NT: 4 up to 4.x, 5 for 5.0, 6 for 5.1, 7 for 5.2, 8 for 6.0,
// 9 for 6.1; 10 for anything else or when the version cannot be read.
int GetWindowsVersionCode();
std::u16string GetSystemDir(bool withBackslash);
// Opens a document with its program ("Open" verb); see the .cpp for the
// fallback of HTML documents.
void ShellOpen(const std::u16string& path);
// A modal warning box without owner, caption ltWarning.
void ShowWarning(const std::u16string& text);
void DebugPrint(const std::u16string& text);

// Enables SeShutdownPrivilege in the process token; true when adjusted.
bool EnableShutdownPrivilege();
// Restarts Windows; raises "Fail to adjust privileges!" when the privilege
// cannot be enabled; false when the system refused the restart.
bool RebootSystem();

}  // namespace kelm::link
