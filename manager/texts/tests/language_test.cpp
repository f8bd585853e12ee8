// The manager's texts, exactly as the program must show them: natively
// against the built-in table, under Wine against the program's string table
// (which also proves the resource compiler kept the non-ASCII characters).
#include <gtest/gtest.h>

#include <set>

#include "texts/unit_language.h"

namespace kelm::texts {
namespace {

const TLangEntry kExpected[] = {
    {65107, u"Edit link must not be nil."},
    {65108, u"Target node cannot be a child node of the node to be moved."},
    {65109, u"Unable to load tree structure, the format is wrong."},
    {65110, u"Unable to load tree structure, the version is unknown."},
    {65111, u"Unable to load tree structure, not enough data available."},
    {65112, u"Stream data corrupt. A node's anchor chunk is missing."},
    {65113, u"Stream data corrupt. Unexpected data after node's end position."},
    {65114, u"Clipboard operation failed."},
    {65115, u"Cannot set initial user data because there is not enough user data space allocated."},
    {65116, u"%d is an invalid PageIndex value. PageIndex must be between 0 and %d"},
    {65117, u"You cannot change the Visible property of a page"},
    {65200, u"Node"},
    {65201, u"Create Time"},
    {65202, u"remarks"},
    {65203, u"Name"},
    {65204, u"Feedback"},
    {65205, u"Schedule Snapshot"},
    {65206, u"You can change the name or remark of the snapshot and click Ok to save the change."},
    {65216, u"New Snapshot was created successfully!"},
    {65217, u"Please reboot the system to complete the rollback operation!"},
    {65218, u"Please select one snapshot to delete!"},
    {65219, u"Sorry, You can not delete the final snapshot!"},
    {65220, u"Please select one snapshot to restore to!"},
    {65221,
     u"In order to rollback to the selected snapshot, your system has to be restarted. Do you want "
     u"to "
     u"restart now?"},
    {65222, u"Please input the name\uFF1A"},
    {65223, u"Please input the remarks\uFF1A"},
    {65224, u"Name\uFF1A"},
    {65225, u"remarks\uFF1A"},
    {65226, u"Cache used: %d MB - Total Cache: %d MB"},
    {65227, u"Take a snapshot every hour"},
    {65228, u"Create New snapshot"},
    {65229, u"Remove Selected"},
    {65230, u"Start Glaswint"},
    {65231, u"Revert my system to selected"},
    {65232, u"Cancel"},
    {65233, u"Show Program"},
    {65234, u"Exit"},
    {65235, u"Glaswint is working now"},
    {65236, u"Snapshot Engine is not working"},
    {65237, u"Snapshot Engine is working now"},
    {65238, u"%s:Failed to connect to the service:%s!"},
    {65239, u"%s:Failed to connect to the service!"},
    {65240, u"%s:%d, Failed to control the service:%s!"},
    {65242,
     u"If you did not install the product, please install it and restart your system first!"},
    {65243,
     u"The current snapshot can not be deleted, you can choose to rollback to previous snapshot to "
     u"remove "
     u"it!"},
    {65244,
     u"The system can only support less than 24 snapshot, please delete oldest snapshot before "
     u"create new "
     u"snapshot!"},
    {65245, u"You should not create a new snapshot within three miniutes!"},
    {65246,
     u"It is recommended that you close all other applications before continuing. Please do not "
     u"install "
     u"any programs or copy files during the creation of a new snapshot."},
    {65247, u"The engine does not work right now"},
    {65261, u"Warning"},
    {65262, u"Tips"},
    {65263, u"OK"},
};

class LanguageText : public ::testing::TestWithParam<TLangEntry> {};

TEST_P(LanguageText, LoadsExactly) {
  const TLangEntry& entry = GetParam();
  EXPECT_EQ(LangText(entry.id), std::u16string(entry.text)) << "id " << entry.id;
  EXPECT_EQ(BuiltInText(entry.id), std::u16string(entry.text)) << "id " << entry.id;
}

INSTANTIATE_TEST_SUITE_P(StringTable, LanguageText, ::testing::ValuesIn(kExpected),
                         [](const ::testing::TestParamInfo<TLangEntry>& param) {
                           return "Id" + std::to_string(param.param.id);
                         });

TEST(LanguageTable, HoldsExactlyTheProgramsTextsInIdOrder) {
  std::size_t count = 0;
  const TLangEntry* table = LangTable(&count);
  ASSERT_EQ(count, sizeof kExpected / sizeof kExpected[0]);
  for (std::size_t i = 1; i < count; ++i) EXPECT_LT(table[i - 1].id, table[i].id) << "entry " << i;
}

TEST(LanguageTable, IdsOutsideTheTableAreEmpty) {
  std::set<uint32_t> known;
  for (const TLangEntry& entry : kExpected) known.insert(entry.id);
  for (uint32_t id : {65199u, 65207u, 65215u, 65241u, 65248u, 65260u, 65264u}) {
    ASSERT_EQ(known.count(id), 0u);
    EXPECT_EQ(LangText(id), u"") << "id " << id;
    EXPECT_EQ(BuiltInText(id), u"") << "id " << id;
  }
}

}  // namespace
}  // namespace kelm::texts
