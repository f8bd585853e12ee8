// The manager's user-visible texts: one string table, loaded by id when a
// text is needed. Kelm reads the table from its resources; the same texts
// are built in as data for code without resources (host tools and tests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelm::texts {

enum TLangText : uint32_t {
  ltTreeEditLinkNil = 65107,
  ltTreeMoveIntoOwnChild = 65108,
  ltTreeStreamFormat = 65109,
  ltTreeStreamVersion = 65110,
  ltTreeStreamTooShort = 65111,
  ltTreeAnchorChunkMissing = 65112,
  ltTreeDataAfterNodeEnd = 65113,
  ltTreeClipboardFailed = 65114,
  ltTreeUserDataSpace = 65115,
  ltPageIndexInvalid = 65116,
  ltPageVisibleFixed = 65117,
  ltColumnNode = 65200,
  ltColumnCreateTime = 65201,
  ltColumnRemarks = 65202,
  ltColumnName = 65203,
  ltFeedback = 65204,
  ltScheduleSnapshot = 65205,
  ltRenameHint = 65206,
  ltCreated = 65216,
  ltRebootPending = 65217,
  ltSelectToDelete = 65218,
  ltDeleteFinal = 65219,
  ltSelectToRestore = 65220,
  ltRestartQuestion = 65221,
  ltInputName = 65222,
  ltInputRemarks = 65223,
  ltNameLabel = 65224,
  ltRemarksLabel = 65225,
  ltSpaceLine = 65226,
  ltHourlySchedule = 65227,
  ltCreateAction = 65228,
  ltDeleteAction = 65229,
  ltGlaswintAction = 65230,
  ltRollbackAction = 65231,
  ltCancel = 65232,
  ltShowProgram = 65233,
  ltExit = 65234,
  ltGlaswintWorking = 65235,
  ltEngineNotWorking = 65236,
  ltEngineWorking = 65237,
  ltServiceConnectFailedWith = 65238,
  ltServiceConnectFailed = 65239,
  ltServiceControlFailed = 65240,
  ltNotInstalled = 65242,
  ltCurrentNotDeletable = 65243,
  ltTooManySnapshots = 65244,
  ltTooSoon = 65245,
  ltCreateAdvice = 65246,
  ltEngineNotRunning = 65247,
  ltWarning = 65261,
  ltTips = 65262,
  ltOk = 65263,
};

struct TLangEntry {
  uint32_t id;
  const char16_t* text;
};

// The built-in table, in id order.
const TLangEntry* LangTable(std::size_t* count);
// The built-in text of an id; empty when the table has none.
std::u16string BuiltInText(uint32_t id);

// The text of the program's string table (Kelm's resources); elsewhere the
// built-in one. Empty for an id the table lacks.
std::u16string LangText(uint32_t id);

}  // namespace kelm::texts
