#include <gtest/gtest.h>

#include "foundation/Text.h"
#include "storage/JetSql.h"

namespace {

TEST(JetSql, RewritesTheFormsTheSystemIssues) {
  struct Case {
    const char* jet;
    const char* sqlite;
  } cases[] = {
      {"select top 5 * from Content where 已采=1 and 已发=0  order by id desc",
       "select * from Content where 已采=1 and 已发=0  order by id desc LIMIT 5"},
      {"SELECT TOP 12 * from Content where 已采=1 and 已发=0  order by rnd(id)",
       "SELECT * from Content where 已采=1 and 已发=0  order by random() LIMIT 12"},
      {"delete * from content where 已发=1", "delete from content where 已发=1"},
      {"delete * from content  where ID=3", "delete from content  where ID=3"},
      {"CREATE TABLE PageUrl (ID autoincrement(1,1) primary key,Url TEXT)",
       "CREATE TABLE PageUrl (ID INTEGER PRIMARY KEY AUTOINCREMENT,Url TEXT)"},
      {"CREATE TABLE Content (ID autoincrement(1,1) primary key,已采 short default 0,[标题] TEXT,"
       " PageUrl TEXT)",
       "CREATE TABLE Content (ID INTEGER PRIMARY KEY AUTOINCREMENT,已采 INTEGER default 0,[标题] "
       "TEXT, PageUrl TEXT)"},
      // Quoted text and bracketed names are never rewritten.
      {"update Content set [short]='delete * from x select top 3 rnd(1) short' where ID=1",
       "update Content set [short]='delete * from x select top 3 rnd(1) short' where ID=1"},
      {"INSERT INTO Content ([标题]) VALUES ('it''s short')",
       "INSERT INTO Content ([标题]) VALUES ('it''s short')"},
      // Words that merely contain a keyword stay.
      {"select shorty, topic from Content", "select shorty, topic from Content"},
      {"update Content set [已原创]=0 where [已原创]=1",
       "update Content set [已原创]=0 where [已原创]=1"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(pcutil::Utf16ToUtf8(rz::JetToSqlite(pcutil::U16(c.jet))), c.sqlite) << c.jet;
}

}  // namespace
