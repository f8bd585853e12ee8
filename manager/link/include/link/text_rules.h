// Small text rules of the system helpers, kept apart from the system calls
// so they are tested everywhere.
#pragma once

#include <string>
#include <string_view>

namespace kelm::link {

// A system message without its tail: trailing characters below '!'
// (control characters and blanks) and dots are cut from the end.
std::u16string CutMessageTail(std::u16string_view text);

// The path with "\" appended when its last character is not one; an empty
// path stays empty.
std::u16string AddBackslash(std::u16string_view path);

// The system directory as GetSystemDir answers it: for a path longer than
// one character, a trailing "\" removed (withBackslash false) or one
// appended when missing (true).
std::u16string SystemDirWithFlag(std::u16string_view path, bool withBackslash);

// Whether a failed shell open of `path` falls back to the shell's
// program-choice dialog: the extension in upper case is ".HTM" or ".HTML".
bool IsHtmlDocument(std::u16string_view path);

// Whether a document path is empty after trimming blanks.
bool IsBlankPath(std::u16string_view path);

}  // namespace kelm::link
