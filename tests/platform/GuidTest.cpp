#include <gtest/gtest.h>

#include "platform/Com.h"
#include "platform/Guid.h"
#include "platform/Text.h"

namespace {

// The registry form parses in either case (written in upper case, checked
// through the pages' links); anything else fails.
TEST(Guid, OnlyTheExactFormParses) {
  IID iid{};
  ASSERT_EQ(S_OK, IIDFromString(u"{eb2cbeef-b482-4c1c-911d-2908616b1776}", &iid));
  EXPECT_EQ(0xEB2CBEEFu, iid.Data1);
  EXPECT_EQ(0x76, iid.Data4[7]);
  for (const char16_t* bad :
       {u"", u"EB2CBEEF-B482-4C1C-911D-2908616B1776", u"{EB2CBEEF-B482-4C1C-911D-2908616B1776",
        u"{EB2CBEEF-B482-4C1C-911D-2908616B17761}", u"{EB2CBEEFB482-4C1C-911D-2908616B1776}",
        u"{EB2CBEEF-B482-4C1C-911D-2908616B177G}", u" {EB2CBEEF-B482-4C1C-911D-2908616B1776}",
        u"{EB2CBEEF-B482-4C1C-911D-2908616B1776} ", u"{+B2CBEEF-B482-4C1C-911D-2908616B1776}"}) {
    EXPECT_TRUE(FAILED(IIDFromString(bad, &iid))) << platform::U8(bad);
  }
  EXPECT_TRUE(FAILED(IIDFromString(nullptr, &iid)));
  CLSID clsid{};
  EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromString(u"LumarestInbox.MyInbox", &clsid));
}

TEST(Guid, NameBasedIdsAreStableAndDistinct) {
  const GUID ns = {0x6ba7b810, 0x9dad, 0x11d1, {0x80, 0xb4, 0x00, 0xc0, 0x4f, 0xd4, 0x30, 0xc8}};
  // RFC 4122 appendix example: version 5 of "www.example.com" in the DNS namespace.
  EXPECT_EQ(u"{2ED6657D-E927-568B-95E1-2665A8AEA6A2}",
            platform::GuidToString(platform::NameBasedGuid(ns, "www.example.com")));
  EXPECT_NE(platform::NameBasedGuid(ns, "a"), platform::NameBasedGuid(ns, "b"));
}

}  // namespace
