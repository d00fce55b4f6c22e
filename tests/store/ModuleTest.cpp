#include <gtest/gtest.h>

#include <filesystem>

#include "StoreTestUtil.h"
#include "store/PublishModule.h"

using namespace storetest;
namespace fs = std::filesystem;

namespace {

rz::PublishModule WebModule() {
  rz::PublishModule m;
  m.Name = u"通用 文章'模块'";
  m.Type = u"POST";
  m.CmsVersion = u"v1.0";
  m.LoginUrl = u"/login.php";
  m.LoginPost = u"user=[用户名]&pass=[密码]\r\n";
  m.LoginErrorStr = {u"密码错误", u" error "};
  m.LoginOkStr = {u"成功", u"welcome"};
  m.ListRex = u"<option value=\"[分类ID]\">[分类名称]</option>";
  m.refererContentUrl = u"/post.php";
  m.ArticlePost = u"title=[标签:标题]&body=[标签:内容]";
  m.ArticleOkStr = {u"ok]]>done"};
  m.RandUser = {u"甲", u"乙"};
  m.RandValue = {{u"  token  ", u"/form.php", u"name=\"t\" value=\"", u"\""}};
  m.IsUBB = 1;
  m.Help = u"帮助\n第二行";
  return m;
}

}  // namespace

TEST(Module, SavedAsXmlThenMovedToModuleAndRead) {
  rztest::Sandbox box;
  const rz::PublishModule m = WebModule();
  ASSERT_TRUE(rz::SaveModule(rz::kModuleFolderPost, m));
  const fs::path xml = box / ("Data/Module/POST/" + S(m.Name) + ".xml");
  const fs::path module = box / ("Data/Module/POST/" + S(m.Name) + ".module");
  ASSERT_TRUE(fs::exists(xml));
  const std::string bytes = rztest::ReadFile(xml);

  auto loaded = rz::LoadModule(rz::kModuleFolderPost, m.Name);
  ASSERT_TRUE(loaded);
  EXPECT_FALSE(fs::exists(xml));
  EXPECT_EQ(rztest::ReadFile(module), bytes);
  rz::PublishModule expected = m;
  expected.RandValue[0].Name = u"token";  // written in text form: edge blanks go
  EXPECT_EQ(*loaded, expected);
  EXPECT_EQ(loaded->LoginOkStr, (std::vector<std::u16string>{u"成功", u"welcome"}));

  // Saved again: the newer ".xml" replaces the ".module" on the next read.
  rz::PublishModule edited = *loaded;
  edited.ArticleUrl = u"/new.php";
  ASSERT_TRUE(rz::SaveModule(rz::kModuleFolderPost, edited));
  auto reloaded = rz::LoadModule(rz::kModuleFolderPost, m.Name);
  ASSERT_TRUE(reloaded);
  EXPECT_EQ(reloaded->ArticleUrl, u"/new.php");
  EXPECT_EQ(rz::ModuleXml(*reloaded), rz::ModuleXml(edited)) << "byte-exact round trip";
}

TEST(Module, LegacyXmlFilesOfTheFolderAreMoved) {
  rztest::Sandbox box;
  rztest::WriteFile(box / "Data/Module/DB/a.xml", CfgBytes("<Cfg><Name>a</Name></Cfg>"));
  rztest::WriteFile(box / "Data/Module/DB/b.xml", CfgBytes("<Cfg><Name>b</Name><SqlValue><Item>x</Item>"
                                                           "<Item></Item><Item>y</Item></SqlValue></Cfg>"));
  auto b = rz::LoadModule(rz::kModuleFolderDb, u"b");
  ASSERT_TRUE(b);
  EXPECT_EQ(b->SqlValue, (std::vector<std::u16string>{u"x", u"y"}));
  EXPECT_EQ(b->IsUBB, 0);
  EXPECT_TRUE(fs::exists(box / "Data/Module/DB/a.module"));
  EXPECT_FALSE(fs::exists(box / "Data/Module/DB/a.xml"));
}

TEST(Module, MissingOrBrokenModulesGiveNothing) {
  rztest::Sandbox box;
  EXPECT_FALSE(rz::LoadModule(rz::kModuleFolderPost, u"none"));
  rztest::WriteFile(box / "Data/Module/POST/bad.module", "<Cfg><Name>");
  EXPECT_FALSE(rz::LoadModule(rz::kModuleFolderPost, u"bad"));
  EXPECT_EQ(rztest::ReadFile(box / "Data/Module/POST/bad.module"), "<Cfg><Name>");
  rztest::WriteFile(box / "Data/Module/POST/nocfg.module", CfgBytes("<Module/>"));
  EXPECT_FALSE(rz::LoadModule(rz::kModuleFolderPost, u"nocfg"));
}

TEST(Module, NamesCannotLeaveTheirFolder) {
  rztest::Sandbox box;
  for (const char16_t* name : {u"", u".", u"..", u"../escape", u"a/b", u"a\\b"}) {
    rz::PublishModule m;
    m.Name = name;
    EXPECT_FALSE(rz::SaveModule(rz::kModuleFolderPost, m)) << S(name);
    EXPECT_FALSE(rz::LoadModule(rz::kModuleFolderPost, name)) << S(name);
  }
  EXPECT_FALSE(fs::exists(box / "Data/Module/escape.xml"));
}

TEST(Module, ListingIsSortedWithoutTheReservedName) {
  rztest::Sandbox box;
  fs::remove_all(box / "Data/Module/POST");  // without the shipped example modules
  for (const char* f : {"c.module", "a.module", "b.xml", "a.xml", "火车头模板.module", "readme.txt"})
    rztest::WriteFile(box / (std::string("Data/Module/POST/") + f), "x");
  fs::create_directories(box / "Data/Module/POST/sub.module");
  EXPECT_EQ(rz::ListModules(rz::kModuleFolderPost), (std::vector<std::u16string>{u"a", u"b", u"c"}));
  EXPECT_TRUE(rz::ListModules(u"NoSuchKind").empty());
}

TEST(Module, KindsTable) {
  const std::vector<std::pair<std::u16string, std::u16string>> kinds = {
      {u"发布直接更新源数据库", u"SAMEDB"}, {u"发布通过Web", u"POST"}, {u"发布通过Access", u"ACCESS"},
      {u"发布通过SQL Server", u"SQL Server"}, {u"保存到本地文件", u"LocalFile"}};
  ASSERT_EQ(rz::ModuleKinds().size(), kinds.size());
  for (size_t i = 0; i < kinds.size(); ++i) {
    EXPECT_EQ(rz::ModuleKinds()[i].Name, kinds[i].first);
    EXPECT_EQ(rz::ModuleTypeByName(kinds[i].first), kinds[i].second);
  }
  EXPECT_EQ(rz::ModuleTypeByName(u"POST"), u"");
}
