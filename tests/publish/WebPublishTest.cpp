// Web publishing against the fixture CMS: the request sequence, cookies, random values, the
// answer analysis with every web result code, the category list and test publishing.
#include <gtest/gtest.h>

#include "FixtureCms.h"
#include "PublishFixtures.h"
#include "Sandbox.h"
#include "publish/Destinations.h"
#include "publish/PublishThread.h"
#include "store/Settings.h"

namespace {

using namespace rz;
using pcutil::U16;
using rztest::FixtureCms;

std::string U8(const std::u16string& s) { return pcutil::Utf16ToUtf8(s); }

class WebPublish : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = rztest::CmsModule();
    target_ = rztest::CmsTarget(cms_);
  }
  int Publish(ToData& item) { return PublishToWeb(module_, item, target_); }
  static ToData Item(const std::u16string& title) {
    ToData item;
    item.Fields = {{u"标题", title}, {u"内容", u"<p>正文 & more</p>"}, {u"PageUrl", u"http://src.example/a?id=1"}};
    return item;
  }

  rztest::QuietPauses quiet_;
  rztest::Sandbox sandbox_;
  FixtureCms cms_;
  PublishModule module_;
  PublishTarget target_;
};

TEST_F(WebPublish, LoginTokenAndPostWithSessionCookieFromRedirect) {
  ToData item = Item(u"第一篇 it's \"ok\"");
  ASSERT_EQ(Publish(item), kPublishWebOk) << U8(item.Text);
  const auto accepted = cms_.Accepted();
  ASSERT_EQ(accepted.size(), 1u);
  const auto& form = accepted[0].Form;
  EXPECT_EQ(form.at("title"), "第一篇 it's \"ok\"");
  EXPECT_EQ(form.at("body"), "<p>正文 & more</p>");
  EXPECT_EQ(form.at("src"), "http://src.example/a?id=1");
  EXPECT_TRUE(form.at("cat") == "3" || form.at("cat") == "7") << form.at("cat");
  // The session set on the login's redirect and the token page's own cookie both travel.
  EXPECT_NE(accepted[0].Cookie.find("cms_session=s"), std::string::npos) << accepted[0].Cookie;
  EXPECT_NE(accepted[0].Cookie.find("visit=tk"), std::string::npos) << accepted[0].Cookie;
  EXPECT_NE(U8(item.Text).find("发布成功"), std::string::npos);
  EXPECT_EQ(U8(item.Fields.at(u"DB_TEST_PUBLISH_RESULT")).rfind("token=tk", 0), 0u);
  // The referer is PostHost joined with the module's referer path.
  const auto last = cms_.Http().Last();
  EXPECT_EQ(last.Header("Referer"), cms_.Host() + "admin.php");
}

TEST_F(WebPublish, ResultCodes) {
  {  // wrong password: 2, nothing posted
    PublishTarget t = target_;
    t.SqlPsw = u"wrong";
    ToData item = Item(u"x");
    EXPECT_EQ(PublishToWeb(module_, item, t), kPublishLoginFailed);
    EXPECT_NE(U8(item.Text).find("用户名或密码错误"), std::string::npos);
  }
  {  // failure text: 4
    ToData item = Item(u"FAIL please");
    EXPECT_EQ(Publish(item), kPublishPostFailed);
    EXPECT_NE(U8(item.Text).find("发表文章失败Html代码"), std::string::npos);
  }
  {  // neither text: 5
    ToData item = Item(u"UNKNOWN answer");
    EXPECT_EQ(Publish(item), kPublishUnknown);
    EXPECT_NE(U8(item.Text).find("未知发布成功结果"), std::string::npos);
  }
  {  // empty text lists and a successful request: 5 as well
    PublishModule m = module_;
    m.ArticleOkStr.clear();
    m.ArticleErrorStr.clear();
    ToData item = Item(u"fine");
    EXPECT_EQ(PublishToWeb(m, item, target_), kPublishUnknown);
  }
  {  // a success text wins over a failure text in the same answer
    PublishModule m = module_;
    m.ArticleOkStr = {u"发布"};
    ToData item = Item(u"FAIL but ok");
    EXPECT_EQ(PublishToWeb(m, item, target_), kPublishWebOk);
  }
  {  // random value markers missing from the page: 11
    PublishModule m = module_;
    m.RandValue[0].Url = u"broken.php";
    ToData item = Item(u"x");
    EXPECT_EQ(PublishToWeb(m, item, target_), kPublishRandFailed);
    EXPECT_NE(U8(item.Text).find("随机取值代码开始结束字符串设置不正确"), std::string::npos);
  }
  {  // random value page that fails: 11
    PublishModule m = module_;
    m.RandValue[0].Url = u"missing.php";
    ToData item = Item(u"x");
    EXPECT_EQ(PublishToWeb(m, item, target_), kPublishRandFailed);
    EXPECT_NE(U8(item.Text).find("随机取值地址"), std::string::npos);
  }
  {  // article address that fails: 4 with the address analysis
    PublishModule m = module_;
    m.ArticleUrl = u"nowhere.php";
    ToData item = Item(u"x");
    EXPECT_EQ(PublishToWeb(m, item, target_), kPublishPostFailed);
    EXPECT_NE(U8(item.Text).find("发表文章地址"), std::string::npos);
  }
  {  // login address that fails: 2 with the login analysis
    PublishModule m = module_;
    m.LoginUrl = u"nologin.php";
    ToData item = Item(u"x");
    EXPECT_EQ(PublishToWeb(m, item, target_), kPublishLoginFailed);
    EXPECT_NE(U8(item.Text).find("登陆地址"), std::string::npos);
  }
}

TEST_F(WebPublish, StoredCookiesSkipLoginAndCarryOnePrefix) {
  for (const std::string prefix : {"", "Cookie: ", "cookie:"}) {
    PublishTarget t = target_;
    t.IsUserCookies = 1;
    t.Cookies = U16((prefix + cms_.StoredSession()).c_str());
    const int loginsBefore = cms_.LoginCount();
    ToData item = Item(u"stored");
    EXPECT_EQ(PublishToWeb(module_, item, t), kPublishWebOk) << prefix << U8(item.Text);
    EXPECT_EQ(cms_.LoginCount(), loginsBefore);
    for (const auto& r : cms_.Http().Requests()) {
      if (r.Path != "/post.php" && r.Path != "/token.php") continue;
      EXPECT_EQ(r.HeaderCount("Cookie"), 1u);
      EXPECT_EQ(r.Header("Cookie").find("Cookie"), std::string::npos) << r.Header("Cookie");
    }
    cms_.Http().ClearRequests();
  }
}

TEST_F(WebPublish, RandomValuesFetchedOncePerAddressAndOnlyUsedWhenNamed) {
  module_.RandValue.push_back({u"[unused]", u"token.php", u"value=\"", u"\""});
  module_.RandValue.push_back({u"[absent]", u"admin.php", u"<body>", u"</body>"});
  ToData item = Item(u"twice");
  ASSERT_EQ(Publish(item), kPublishWebOk) << U8(item.Text);
  int tokenPages = 0, adminPages = 0;
  for (const auto& r : cms_.Http().Requests()) {
    tokenPages += r.Path == "/token.php";
    adminPages += r.Path == "/admin.php" && r.Method == "GET" && r.Header("Referer").empty();
  }
  EXPECT_EQ(tokenPages, 1);  // the second entry of the same address reuses the page
  EXPECT_GE(adminPages, 1);  // fetched although its name is absent from the body
}

TEST(WebPublishJoin, HostAndPath) {
  EXPECT_EQ(U8(JoinPostHost(u"http://h", u"a.php")), "http://h/a.php");
  EXPECT_EQ(U8(JoinPostHost(u"http://h/", u"/a.php")), "http://h//a.php");
  EXPECT_EQ(U8(JoinPostHost(u"http://h/", u"a.php")), "http://h/a.php");
  EXPECT_EQ(U8(JoinPostHost(u"", u"a.php")), "a.php");
  PublishTarget t;
  t.Cookies = u"COOKIE:   a=1; b=2";
  EXPECT_EQ(U8(TargetCookieText(t)), "a=1; b=2");
  PublishCookies jar;
  jar.SetBase(u"a=1; b=2");
  jar.Take("Set-Cookie: b=3; Path=/\r\nSet-Cookie: c=4\r\nset-cookie: a=; Max-Age=0\r\n");
  EXPECT_EQ(U8(jar.Text()), "b=3; c=4");
}

TEST_F(WebPublish, CategoryList) {
  ASSERT_TRUE(SaveModule(kModuleFolderPost, module_));
  target_.Cookies = U16(cms_.StoredSession().c_str());
  std::u16string message;
  ASSERT_TRUE(FetchCategoryList(target_, message)) << U8(message);
  ASSERT_EQ(target_.ListIds.size(), 3u);
  EXPECT_EQ(U8(target_.ListIds[0].ListId), "3");
  EXPECT_EQ(U8(target_.ListIds[0].ListName), "新闻");
  EXPECT_EQ(U8(target_.ListIds[1].ListName), "体育 &amp; 健康");
  EXPECT_EQ(U8(target_.ListIds[2].ListId), "12");

  // Without the session the list markers are missing.
  PublishTarget anon = target_;
  anon.Cookies.clear();
  EXPECT_FALSE(FetchCategoryList(anon, message));
  EXPECT_NE(U8(message).find("列表开始结束代码匹配出错"), std::string::npos);

  PublishModule bad = module_;
  bad.Name = u"bad";
  bad.ListRex = u"[分类ID][分类ID][分类名称]";
  ASSERT_TRUE(SaveModule(kModuleFolderPost, bad));
  PublishTarget t = target_;
  t.ModuleName = u"bad";
  EXPECT_FALSE(FetchCategoryList(t, message));
  EXPECT_NE(U8(message).find("有且仅能包含一个"), std::string::npos);

  t.ModuleName = u"gone";
  EXPECT_FALSE(FetchCategoryList(t, message));
  EXPECT_EQ(message, kModuleMissingMessage);
}

TEST_F(WebPublish, TestPublishEscapesTheAnswer) {
  ASSERT_TRUE(SaveModule(kModuleFolderPost, module_));
  JobRule job;
  job.JobId = u"test-job";
  DbSettings none;
  none.Type = u"ACCESS";
  std::u16string message;
  EXPECT_EQ(TestPublish(job, target_, u"测试标题", u"测试内容", none, message), kPublishWebOk);
  // The answer is shown escaped: test items carry the marker label.
  EXPECT_NE(U8(message).find("&lt;html&gt;"), std::string::npos) << U8(message);
  PublishTarget gone = target_;
  gone.ModuleName = u"gone";
  EXPECT_EQ(TestPublish(job, gone, u"t", u"c", none, message), -1);
  EXPECT_EQ(message, kModuleMissingMessage);
}

}  // namespace
